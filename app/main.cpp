#include "platform/ProcessHardening.h"
#include "platform/QtRuntime.h"
#include "startup/CommandLine.h"
#include "startup/ModMain.h"

int main(int argc, char** argv)
{
    // Before anything reads the sa password: a crash must not write it to disk.
    gst::disableCoreDumps();
    gst::configureQtRuntime();
    if (const auto exitCode = gst::handleCommandLine(argc, argv))
        return *exitCode;
    return gst::runApplication(argc, argv);
}
