#pragma once

namespace gst
{

// Settings of Qt's own that must be made before Qt does any work: called first
// thing in main, by the program and by the test programs alike.
//
// On Windows, regular expressions run without Qt's JIT. Qt keeps the JIT's
// stack in a thread_local; under MinGW's posix threads that object's storage
// is freed before its destructor runs when a thread ends (GCC PR 80816), and
// the thread's end then crashes, the main thread's return from main included.
// Without the JIT no such stack is ever made.
void configureQtRuntime();

} // namespace gst
