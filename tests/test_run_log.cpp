// The run log file: where it is, how it is created, bounded and refused, and
// how a record's texts are written so that one run stays one line.
#include "conversion/RunRecord.h"
#include "platform/RunLog.h"
#include "state/ConnectionState.h"
#include "support/RunLogFolder.h"

#include "FileKinds.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

using filekinds::modeOf;

namespace
{

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

TEST(RunLog, PathFollowsXdgDataHomeOrTheHomeFolder)
{
    RunLogFolder folder;
    EXPECT_EQ(gst::runLogPath(), folder.dataHome() + "/talvex/gstconvert.log");

    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", "/home/shop");
    qputenv("XDG_DATA_HOME", "relative/share"); // not absolute: ignored
    EXPECT_EQ(gst::runLogPath(), "/home/shop/.local/share/talvex/gstconvert.log");
    qunsetenv("XDG_DATA_HOME");
    EXPECT_EQ(gst::runLogPath(), "/home/shop/.local/share/talvex/gstconvert.log");
    qputenv("HOME", home);
}

TEST(RunLog, CreatedForTheUserAloneAndAppendedLineByLine)
{
    RunLogFolder folder;
    const mode_t oldMask = ::umask(0);
    EXPECT_TRUE(gst::appendRunLog("{\"a\":1}"));
    EXPECT_TRUE(gst::appendRunLog("{\"a\":2}"));
    ::umask(oldMask);
    if (filekinds::kFileModes) {
        if (filekinds::kFileModes)
            if (filekinds::kFileModes) {
                EXPECT_EQ(modeOf(folder.logPath()), 0600);
            }
        EXPECT_EQ(modeOf(folder.dataHome() + "/talvex"), 0700);
    }
    EXPECT_EQ(folder.bytes(), "{\"a\":1}\n{\"a\":2}\n");

    // An older file that others may read is closed to them.
    ASSERT_TRUE(QFile::setPermissions(folder.logPath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                            QFileDevice::ReadGroup | QFileDevice::ReadOther));
    EXPECT_TRUE(gst::appendRunLog("{\"a\":3}"));
    if (filekinds::kFileModes)
        if (filekinds::kFileModes) {
            EXPECT_EQ(modeOf(folder.logPath()), 0600);
        }
    EXPECT_EQ(folder.bytes(), "{\"a\":1}\n{\"a\":2}\n{\"a\":3}\n");
}

TEST(RunLog, ARecordThatWouldPassTheLimitMovesTheFileAside)
{
    RunLogFolder folder;
    const QByteArray line(100, 'r');
    struct Case {
        const char* name;
        qint64 size; // of the file before the append
        bool moved;
    };
    const Case cases[] = {
        {"room for the record", gst::kRunLogLimit - line.size() - 1, false},
        {"one byte short", gst::kRunLogLimit - line.size(), true},
        {"already past the limit", gst::kRunLogLimit + 5000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        folder.clear();
        ASSERT_TRUE(gst::appendRunLog("first"));
        const QByteArray before = QByteArray(static_cast<int>(c.size) - 1, 'o') + '\n';
        writeFile(folder.logPath(), before);
        writeFile(folder.logPath() + ".1", "older records\n");

        EXPECT_TRUE(gst::appendRunLog(line));

        if (c.moved) {
            EXPECT_EQ(readAll(folder.logPath() + ".1"), before);
            EXPECT_EQ(folder.bytes(), line + '\n');
        } else {
            EXPECT_EQ(readAll(folder.logPath() + ".1"), "older records\n");
            EXPECT_EQ(folder.bytes(), before + line + '\n');
        }
        EXPECT_LE(QFileInfo(folder.logPath()).size(), gst::kRunLogLimit);
        if (filekinds::kFileModes)
            if (filekinds::kFileModes) {
                EXPECT_EQ(modeOf(folder.logPath()), 0600);
            }
    }
}

// Runs ending together at the limit (operators sharing one terminal server):
// every record is kept and the history moved aside is the whole full file.
TEST(RunLog, WritersMeetingAtTheLimitLoseNoRecordAndNoHistory)
{
    RunLogFolder folder;
    const QByteArray line(100, 'r');
    const QByteArray full = QByteArray(static_cast<int>(gst::kRunLogLimit) - 51, 'o') + '\n';
    for (int trial = 0; trial < 30; ++trial) {
        folder.clear();
        ASSERT_TRUE(gst::appendRunLog("first"));
        writeFile(folder.logPath(), full);
        std::atomic<bool> go{false};
        std::atomic<int> written{0};
        std::vector<std::thread> writers;
        for (int i = 0; i < 4; ++i)
            writers.emplace_back([&] {
                while (!go) {
                }
                written += gst::appendRunLog(line) ? 1 : 0;
            });
        go = true;
        for (std::thread& t : writers)
            t.join();
        ASSERT_EQ(written, 4);
        ASSERT_EQ(readAll(folder.logPath() + ".1"), full) << "trial " << trial;
        ASSERT_EQ(folder.bytes(), (line + '\n').repeated(4)) << "trial " << trial;
    }
}

TEST(RunLog, NothingButARegularFileOfItsOwnIsWrittenAndAFailureIsSaidOnce)
{
    RunLogFolder folder;
    const QString other = folder.dataHome() + "/other.txt";
    struct Case {
        const char* name;
        std::function<void()> spoil;
        bool symbolicLink = true;
    };
    const Case cases[] = {
        {"a hard link to another file",
         [&] {
             QDir().mkpath(folder.dataHome() + "/talvex");
             ASSERT_TRUE(filekinds::hardLink(other, folder.logPath()));
         },
         false},
        {"a link to another file", [&] { QFile::link(other, folder.logPath()); }},
        {"a link to nowhere", [&] { QFile::link(folder.dataHome() + "/none", folder.logPath()); }},
        {"the folder a link to one others may write in",
         [&] {
             QDir(folder.dataHome() + "/talvex").removeRecursively();
             QDir().mkpath(folder.dataHome() + "/none");
             filekinds::setMode(folder.dataHome() + "/none", 0777);
             QFile::link(folder.dataHome() + "/none", folder.dataHome() + "/talvex");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.symbolicLink && !filekinds::kSymbolicLinks) {
            std::printf("skipped here: %s (no symbolic links from QFile::link)\n", c.name);
            continue;
        }
        QDir(folder.dataHome()).removeRecursively();
        QDir().mkpath(folder.dataHome() + "/talvex");
        writeFile(other, "someone else's\n");
        c.spoil();
        gst::runlog_seam::resetFailureNotice();

        testing::internal::CaptureStderr();
        EXPECT_FALSE(gst::appendRunLog("{\"a\":1}"));
        EXPECT_FALSE(gst::appendRunLog("{\"a\":2}"));
        const QString err = QString::fromStdString(testing::internal::GetCapturedStderr());

        EXPECT_EQ(err.count("the record of this run could not be written to " + folder.logPath()), 1)
            << err.toStdString();
        EXPECT_EQ(readAll(other), "someone else's\n");
        EXPECT_FALSE(QFile::exists(folder.dataHome() + "/none/gstconvert.log"));
    }
}

// A record's texts come from the database, the settings and the environment:
// whatever they hold, one run stays one line that parses back to the text.
TEST(RunLog, TextsParseBackAndNothingInThemBreaksTheLineOrReachesTheTerminal)
{
    struct Case {
        const char* name;
        QString text;
        QString parsed; // what a JSON reader gets back
    };
    const QChar lone = QChar(0xD800);
    const Case cases[] = {
        {"quotes and backslash", "a\"b\\c", "a\"b\\c"},
        {"line breaks and tab", "x\r\ny\tz\n", "x\r\ny\tz\n"},
        {"NUL, escape and DEL", QString("a") + QChar(0) + "\x1b[31m\x7f",
         QString("a") + QChar(0) + "\x1b[31m\x7f"},
        {"C1 control and next line", QString(QChar(0x9b)) + QChar(0x85), QString(QChar(0x9b)) + QChar(0x85)},
        {"line and paragraph separators", QString(QChar(0x2028)) + QChar(0x2029),
         QString(QChar(0x2028)) + QChar(0x2029)},
        {"direction overrides", QString(QChar(0x202e)) + "gnp.exe" + QChar(0x2066),
         QString(QChar(0x202e)) + "gnp.exe" + QChar(0x2066)},
        {"a pair beyond the basic plane", QString::fromUtf8("\xF0\x9F\x98\x80"),
         QString::fromUtf8("\xF0\x9F\x98\x80")},
        {"a lone surrogate", QString("a") + lone + "b", QString("a") + QChar(0xFFFD) + "b"},
        {"Devanagari", QString::fromUtf8("\xE0\xA4\x95\xE0\xA4\xAA\xE0\xA4\xA1\xE0\xA4\xBC\xE0\xA4\xBE"),
         QString::fromUtf8("\xE0\xA4\x95\xE0\xA4\xAA\xE0\xA4\xA1\xE0\xA4\xBC\xE0\xA4\xBE")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray line = conversion::jsonString(c.text).toUtf8();
        for (const char ch : line)
            EXPECT_GE(static_cast<unsigned char>(ch), 0x20) << "raw control byte";
        const QString decoded = QString::fromUtf8(line);
        for (const QChar ch : decoded) {
            EXPECT_NE(ch.category(), QChar::Other_Control) << std::hex << ch.unicode();
            EXPECT_NE(ch.category(), QChar::Other_Format) << std::hex << ch.unicode();
            EXPECT_NE(ch.category(), QChar::Separator_Line);
            EXPECT_NE(ch.category(), QChar::Separator_Paragraph);
        }
        const QJsonDocument doc = QJsonDocument::fromJson("[" + line + "]");
        ASSERT_TRUE(doc.isArray()) << line.toStdString();
        EXPECT_EQ(doc.array().at(0).toString(), c.parsed);
    }
}

TEST(RunRecord, UnknownCountsAndTextsHoldingThePasswordAreWrittenAsSuch)
{
    const QString password = "Zq7sa;Pw}={x}42";
    gDbPassword = password;
    gServerName = "SHOP\\SQLEXPRESS";
    gDatabaseName = "talvex";
    gLoginName = "admin";
    conversion::RunRecord run(3, "Toys " + password);
    run.setArrangement(false, "Fabric");
    run.setRows("FabricMaster", 4);
    run.setRows("products", -1);
    const long number = -2147217900;
    const QJsonObject done = QJsonDocument::fromJson(run.line("done", "Done", nullptr)).object();
    EXPECT_EQ(done["rows"].toObject(), QJsonObject({{"FabricMaster", 4}, {"products", "unknown"}}));
    // The program's own fields stand as they are, whatever password they happen to hold.
    EXPECT_EQ(done["lob"].toString(), "Toys " + password);
    EXPECT_EQ(done["server"].toString(), "SHOP\\SQLEXPRESS");
    gDbPassword = "a";
    EXPECT_EQ(QJsonDocument::fromJson(run.line("done", "Done", nullptr)).object()["appUser"].toString(),
              "admin");
    gDbPassword = password;
    const QByteArray failed = run.line("failed", "Login failed: pwd=" + password, &number);
    EXPECT_EQ(QJsonDocument::fromJson(failed).object()["outcome"].toString(),
              "(withheld: holds the database password)");
    EXPECT_EQ(QJsonDocument::fromJson(failed).object()["rows"].toObject(), QJsonObject());
    gDbPassword.clear();
}

} // namespace
