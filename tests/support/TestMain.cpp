// The default main of every test program that has none of its own: a
// QApplication (offscreen under CTest), scripted message boxes, and death tests
// that re-run the program, since Qt starts threads of its own.
#include "platform/MessageBox.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    gst::msgbox_seam::setScripted(true);
    ::testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    return RUN_ALL_TESTS();
}
