// The main of every test program: a QCoreApplication for a test of the bottom
// layer alone, else a QApplication (offscreen under CTest) with scripted
// message boxes; death tests re-run the program, since Qt starts threads of
// its own.
#include "platform/QtRuntime.h"
#ifdef GST_TEST_WINDOWS
#include "widgets/MessageBox.h"

#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

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
    TestApplication app(argc, argv);
#ifdef GST_TEST_WINDOWS
    gst::msgbox_seam::setScripted(true);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    return RUN_ALL_TESTS();
}
