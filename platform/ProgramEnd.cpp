#include "platform/ProgramEnd.h"

#include <cstdio>
#include <cstdlib>

namespace gst
{

void endProgram(int exitCode)
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(exitCode);
}

} // namespace gst
