#pragma once

#include <optional>

namespace gst
{

// Answers --help and --version and refuses any other argument, before any
// window or connection exists, so that both work without a display. Returns
// the exit code when the program must end now, nothing when it goes on to its
// windows (no arguments at all).
std::optional<int> handleCommandLine(int argc, char** argv);

} // namespace gst
