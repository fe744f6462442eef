#include "platform/ProcessHardening.h"

#include "platform/ProgramEnd.h"

#include <windows.h>

namespace gst
{

namespace
{
// A crash ends the process here, before Windows Error Reporting can be asked
// to write a dump of its memory.
LONG WINAPI endAtOnce(EXCEPTION_POINTERS*)
{
    TerminateProcess(GetCurrentProcess(), kExitError);
    return EXCEPTION_EXECUTE_HANDLER;
}
} // namespace

void disableCoreDumps()
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(endAtOnce);
    // A report that is still made (a fail-fast exception skips the filter)
    // leaves the heap, where the password lives, out of its dump.
    using SetFlags = HRESULT(WINAPI*)(DWORD);
    constexpr DWORD kNoHeap = 1; // WER_FAULT_REPORTING_FLAG_NOHEAP
    if (const auto setFlags = reinterpret_cast<SetFlags>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "WerSetFlags"))))
        setFlags(kNoHeap);
}

} // namespace gst
