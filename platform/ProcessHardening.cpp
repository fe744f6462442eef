#include "platform/ProcessHardening.h"

#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif
#ifndef Q_OS_WIN
#include <sys/resource.h>
#endif

namespace gst
{

void disableCoreDumps()
{
#ifndef Q_OS_WIN
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
#endif
#ifdef Q_OS_LINUX
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

} // namespace gst
