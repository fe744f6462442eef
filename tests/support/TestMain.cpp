// The default main of every test program that has none of its own: a
// QApplication (offscreen under CTest), scripted message boxes, and death tests
// that re-run the program, since Qt starts threads of its own.
#include "platform/QtRuntime.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

int main(int argc, char** argv)
{
    gst::configureQtRuntime();
    // Run records go to a folder of the test run, never to the user's own
    // data folder. A death test's child re-runs main and keeps its parent's.
    std::unique_ptr<QTemporaryDir> dataHome;
    if (qEnvironmentVariableIsEmpty("GST_TEST_DATA_HOME")) {
        dataHome = std::make_unique<QTemporaryDir>();
        if (!dataHome->isValid())
            return 2;
        qputenv("GST_TEST_DATA_HOME", QFile::encodeName(dataHome->path()));
    }
    qputenv("XDG_DATA_HOME", qgetenv("GST_TEST_DATA_HOME"));
    // wine hands no QT_ variable over from the host, hence a name of our own.
    if (!qEnvironmentVariableIsEmpty("GST_TEST_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", qgetenv("GST_TEST_PLATFORM"));
    else if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    gst::msgbox_seam::setScripted(true);
    ::testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    return RUN_ALL_TESTS();
}
