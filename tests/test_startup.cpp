#include "app/ModMain.h"
#include "platform/ProgramEnd.h"
#include "state/ConnectionState.h"
#include "support/SharedConnection.h"
#include "support/TestDatabase.h"
#include "widgets/Display.h"
#include "widgets/Handler.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

using ::testing::ExitedWithCode;

namespace
{

// Connects like the start-up does and, when the program goes on, ends it with
// a code of the test's own so that passing the gate is seen from outside.
void connectThenEnd(const QString& database)
{
    gDatabaseName = database;
    ConnectDatabase();
    gst::endProgram(42);
}

class RunDateGate : public ::testing::Test
{
protected:
    void withBillDate(const QString& sqlValue)
    {
        db.createDatabase("talvex", "insert into options(billdate) values (" + sqlValue + ");");
        db.writeLoginSettings(db.folder(), "demo");
    }
    TestDatabase db;
};

TEST_F(RunDateGate, ExactlyTheCutOffPasses)
{
    withBillDate("'2018-07-27 00:00:00'");
    EXPECT_EXIT(connectThenEnd("talvex"), ExitedWithCode(42), "");
}

TEST_F(RunDateGate, OneMinuteBeforeTheCutOffIsRefused)
{
    withBillDate("'2018-07-26 23:59:00'");
    EXPECT_EXIT(
        connectThenEnd("talvex"), ExitedWithCode(gst::kExitRefused),
        "icon=critical title=Invalid Date text=This utility is to be run on or after 27th July 2018 only\\.");
}

TEST_F(RunDateGate, TimeOfDayCounts)
{
    withBillDate("'2018-07-27 00:00:01'");
    EXPECT_EXIT(connectThenEnd("talvex"), ExitedWithCode(42), "");
}

TEST_F(RunDateGate, MissingOrNullBillDateIsTheZeroDate)
{
    db.createDatabase("talvex");
    db.createDatabase("nulldate", "insert into options(billdate) values (NULL);");
    db.writeLoginSettings(db.folder(), "demo");
    EXPECT_EXIT(connectThenEnd("talvex"), ExitedWithCode(gst::kExitRefused), "title=Invalid Date");
    EXPECT_EXIT(connectThenEnd("nulldate"), ExitedWithCode(gst::kExitRefused), "title=Invalid Date");
}

TEST_F(RunDateGate, UnreadableDateIsATypeMismatchWithItsNumberAsTitle)
{
    withBillDate("'next tuesday'");
    EXPECT_EXIT(connectThenEnd("talvex"), ExitedWithCode(gst::kExitError),
                "icon=critical title=13 text=Type mismatch");
}

TEST(ConnectDatabaseFailures, MissingDatabaseIsNetworkDownWithEmptyTitle)
{
    TestDatabase db;
    db.writeLoginSettings(db.folder(), "demo");
    EXPECT_EXIT(connectThenEnd("talvex"), ExitedWithCode(gst::kExitError),
                "icon=critical title= text=Network is down Or Server may be Off!");
}

TEST(ConnectDatabaseFailures, UnreachableSqlServerIsNetworkDown)
{
    TestDatabase db;
    db.writeLoginSettings("127.0.0.1,1", "Secret#Pw", "FreeTDS");
    EXPECT_EXIT(connectThenEnd("talvex"), ExitedWithCode(gst::kExitError),
                "title= text=Network is down Or Server may be Off!");
}

TEST(ConnectDatabaseFailures, UnsafeLoginSettingsReportTheirOwnNumber)
{
    TestDatabase db;
    db.createDatabase("talvex", "insert into options(billdate) values ('2019-01-01');");
    db.writeLoginSettings(db.folder(), "demo", "SQLite3", QString(), 0644);
    EXPECT_EXIT(connectThenEnd("talvex"), ExitedWithCode(gst::kExitError),
                "title=429 text=The login settings file");
}

TEST(ConnectDatabaseFailures, SecondCallAppliesTheGateToTheFirmDatabase)
{
    TestDatabase db;
    db.createDatabase("talvex", "insert into options(billdate) values ('2019-01-01');");
    db.createDatabase("firm_old", "insert into options(billdate) values ('2018-01-01');");
    db.writeLoginSettings(db.folder(), "demo");
    EXPECT_EXIT(
        {
            gDatabaseName = "talvex";
            ConnectDatabase();
            connectThenEnd("firm_old");
        },
        ExitedWithCode(gst::kExitRefused), "Invalid Date");
}

struct DecisionCase {
    const char* name;
    const char* valueType; // declared type of Options2.Value
    const char* multiDb;   // SQL literal, or nullptr for no row
    int usableFirms;
    bool expected;
};

TEST(StartupDecision, FirmSelectionNeedsTwoFirmsAndMultiDbTrue)
{
    const DecisionCase cases[] = {
        {"two firms, bit on", "bit", "1", 2, true},       {"five firms, bit on", "bit", "1", 5, true},
        {"one firm, bit on", "bit", "1", 1, false},       {"two firms, bit off", "bit", "0", 2, false},
        {"five firms, no row", "bit", nullptr, 5, false}, {"two firms, NULL value", "bit", "NULL", 2, false},
        {"two firms, number -1", "int", "-1", 2, true},   {"two firms, plain number 1", "int", "1", 2, false},
    };
    for (const DecisionCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestDatabase db;
        QString sql =
            QStringLiteral("drop table Options2; create table Options2(Name varchar(50), Value %1);")
                .arg(c.valueType);
        if (c.multiDb)
            sql += QStringLiteral("insert into Options2 values ('MultiDB', %1);").arg(c.multiDb);
        for (int i = 1; i <= c.usableFirms; ++i)
            sql += QStringLiteral("insert into FirmMaster values (%1, 'Firm %1', 1, 'firm%1');").arg(i);
        // Never counted: disabled, empty or NULL database names.
        sql += "insert into FirmMaster values (90, 'Off', 0, 'firm90');"
               "insert into FirmMaster values (91, 'Empty', 1, '');"
               "insert into FirmMaster values (92, 'Null', 1, NULL);";
        db.createDatabase("talvex", sql);
        connectShared(db, "talvex");
        EXPECT_EQ(NeedsFirmSelection(), c.expected);
        EXPECT_EQ(sharedOpenStatements(), 0);
        gConnection.reset();
    }
}

TEST(StartupDecision, MissingFirmRegisterIsAnUnhandledErrorReport)
{
    TestDatabase db;
    db.createDatabase("talvex",
                      "insert into options(billdate) values ('2019-01-01'); drop table FirmMaster;");
    db.writeLoginSettings(db.folder(), "demo");
    EXPECT_EXIT(gst::guarded(&Main), ExitedWithCode(gst::kExitError),
                "icon=critical title=gstconvert text=Run-time error '-2147217900':\\\\n\\\\n.*FirmMaster");
}

// The program itself, started where it has no display: it says so and ends
// with its own code instead of aborting inside Qt with a core dump.
TEST(NoDisplay, TheProgramSaysSoAndEndsWithItsOwnCode)
{
    const QString program = QCoreApplication::applicationDirPath() + "/../gstconvert";
    ASSERT_TRUE(QFileInfo(program).isExecutable()) << program.toStdString();
    const struct {
        const char* what;
        QStringList environment;
        const char* says;
    } cases[] = {
        {"nothing set", {}, "DISPLAY and WAYLAND_DISPLAY are not set"},
        {"xcb chosen", {"QT_QPA_PLATFORM=xcb"}, "QT_QPA_PLATFORM is xcb and DISPLAY is not set"},
        // A display left over from a session that has ended.
        {"no server on the display", {"DISPLAY=:4093"}, "no X server answers on DISPLAY :4093"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(name);
        for (const QString& setting : c.environment)
            environment.insert(setting.section('=', 0, 0), setting.section('=', 1));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, QStringList());
        ASSERT_TRUE(process.waitForFinished(30000));
        const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << errors.toStdString();
        EXPECT_EQ(process.exitCode(), gst::kExitNoDisplay) << errors.toStdString();
        EXPECT_TRUE(errors.contains(QString::fromLatin1(c.says))) << errors.toStdString();
        EXPECT_TRUE(errors.contains("xvfb-run -a")) << errors.toStdString();
    }
}

} // namespace
