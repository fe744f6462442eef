#pragma once

#include <cstdint>

// Start-up measurement for the benchmark's own programs: when the first window
// of a given class has been shown and painted, its time (CLOCK_MONOTONIC, ns)
// is written to descriptor 3 as "shown <ns>", after "main <ns>" and any
// "stage <ns> <name>" lines, and the process ends. Nothing is read from the
// environment; without descriptor 3 the lines go to stderr.
namespace bench
{
// Call from a Q_COREAPP_STARTUP_FUNCTION, so that it runs as the application object is made.
void installShownProbe(const char* windowClass);
// Call first thing in main: reported as "main <ns>".
void markMainEntry();
// Records the time of a named point of the start-up: the first time it is
// reached, or with `latest` the last time before the window is shown.
void markStage(const char* name, bool latest = false);
} // namespace bench
