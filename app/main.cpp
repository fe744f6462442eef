#include "platform/ProcessHardening.h"
#include "startup/ModMain.h"

int main(int argc, char** argv)
{
    gst::disableCoreDumps();
    return gst::runApplication(argc, argv);
}
