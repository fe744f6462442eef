#include "platform/ProcessHardening.h"

#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/resource.h>
#endif

namespace gst
{

#ifdef Q_OS_WIN
namespace
{
// A crash ends the process here, before Windows Error Reporting can be asked
// to write a dump of its memory.
LONG WINAPI endAtOnce(EXCEPTION_POINTERS*)
{
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}
} // namespace
#endif

void disableCoreDumps()
{
#ifdef Q_OS_WIN
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(endAtOnce);
    // A report that is still made (a fail-fast exception skips the filter)
    // leaves the heap, where the password lives, out of its dump.
    using SetFlags = HRESULT(WINAPI*)(DWORD);
    constexpr DWORD kNoHeap = 1; // WER_FAULT_REPORTING_FLAG_NOHEAP
    if (const auto setFlags = reinterpret_cast<SetFlags>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "WerSetFlags"))))
        setFlags(kNoHeap);
#else
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
#endif
#ifdef Q_OS_LINUX
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

} // namespace gst
