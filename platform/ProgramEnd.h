#pragma once

namespace gst
{

// Exit codes of the program.
enum ExitCode : int {
    kExitDone = 0,      // after "Done"
    kExitCancelled = 1, // the operator cancelled or closed a window without converting
    kExitRefused = 2,   // a refusal: run-date gate, rows already on the new slab, record or table missing
    kExitError = 3,     // after an error report
    kExitNoDisplay = 4, // no display to show the windows on
    kExitUsage = 64,    // a command line the program does not understand (EX_USAGE)
};

// Ends the process at once: no window's closing handler, no further code, no
// connection closed first. Output streams are flushed.
[[noreturn]] void endProgram(int exitCode);

} // namespace gst
