#include "startup/CommandLine.h"
#include "startup/ModMain.h"

int main(int argc, char** argv)
{
    if (const auto exitCode = gst::handleCommandLine(argc, argv))
        return *exitCode;
    return gst::runApplication(argc, argv);
}
