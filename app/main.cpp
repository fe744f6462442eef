#include "app/CommandLine.h"
#include "app/ModMain.h"
#include "platform/ProcessHardening.h"
#include "platform/QtRuntime.h"

int main(int argc, char** argv)
{
    // Before anything reads the sa password: a crash must not write it to disk.
    gst::disableCoreDumps();
    gst::configureQtRuntime();
    if (const auto exitCode = gst::handleCommandLine(argc, argv))
        return *exitCode;
    return gst::runApplication(argc, argv);
}
