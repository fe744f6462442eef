#pragma once

namespace gst
{

// Keeps a crash from writing the process's memory, and with it the sa password,
// to disk: no core file, and on Linux the process is not dumpable (which also
// keeps other processes of the same user from reading its memory). On Windows
// a crash ends the process before Windows Error Reporting can dump it, and a
// report that still happens leaves the heap out. Called first
// thing in the program's main; the test programs do not call it.
void disableCoreDumps();

} // namespace gst
