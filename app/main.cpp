#include "startup/ModMain.h"

int main(int argc, char** argv)
{
    return gst::runApplication(argc, argv);
}
