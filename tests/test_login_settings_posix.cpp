// Not on Windows: checks POSIX owners, permission bits, FIFOs and symbolic links of the settings file.
#include "platform/Error.h"
#include "platform/LoginSettings.h"
#include "support/Reliability.h"
#include "support/TestDatabase.h"

#include <QFile>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using gst::AppError;

namespace
{

long readError(QString* description = nullptr)
{
    try {
        gst::readLoginSettings();
    } catch (const AppError& e) {
        if (description)
            *description = e.description();
        return e.number();
    }
    return 0;
}

TEST(LoginSettings, ValuesAreTakenExactlyAsWritten)
{
    const gst::LoginSettings s = gst::parseLoginSettings(
        "[General]\r\nServerName=SHOP\\SQLEXPRESS\r\npwd= p=w;d \r\nDriver=ODBC Driver 18 for SQL Server\r\n"
        "Options=Encrypt=yes;TrustServerCertificate=yes\r\n");
    EXPECT_EQ(s.serverName, "SHOP\\SQLEXPRESS");
    EXPECT_EQ(s.pwd, " p=w;d ");
    EXPECT_EQ(s.driver, "ODBC Driver 18 for SQL Server");
    EXPECT_EQ(s.options, "Encrypt=yes;TrustServerCertificate=yes");
}

TEST(LoginSettings, FileFoundUnderTheConfigFolder)
{
    TestDatabase db;
    db.writeLoginSettingsText("servername=SHOP\\SQLEXPRESS\npwd=secret\n");
    const gst::LoginSettings s = gst::readLoginSettings();
    EXPECT_EQ(s.serverName, "SHOP\\SQLEXPRESS");
    EXPECT_EQ(s.pwd, "secret");
    EXPECT_EQ(s.driver, gst::defaultOdbcDriver()); // none named
}

TEST(LoginSettings, UnsafeMissingOrIncompleteFilesAreRefused)
{
    // What becomes of the file after it is written with mode 600.
    enum class Swap { None, Fifo, Directory, OtherOwner, SymlinkToOthers };
    struct Case {
        const char* name;
        QByteArray content;
        int permissions;
        Swap swap;
        const char* hint;
    };
    const Case cases[] = {
        {"readable by others", "ServerName=x\npwd=secret\n", 0644, Swap::None, "chmod 600"},
        {"readable by group", "ServerName=x\npwd=secret\n", 0640, Swap::None, "chmod 600"},
        {"writable by group", "ServerName=x\npwd=secret\n", 0620, Swap::None, "chmod 600"},
        {"no server", "pwd=secret\n", 0600, Swap::None, "ServerName"},
        // A Latin-1 byte or a stray CR would sign in with another password than the one written.
        {"password not in UTF-8", "ServerName=x\npwd=secr\xe9t\n", 0600, Swap::None,
         "not UTF-8 in line 2 (pwd)"},
        {"password ending in CR", "ServerName=x\r\npwd=secret\r\r\n", 0600, Swap::None,
         "control character in line 2 (pwd)"},
        // A tab for "=": the rest of the line is the password, never shown.
        {"tab instead of =", "ServerName=x\npwd\tsecret\n", 0600, Swap::None,
         "control character in line 2. "},
        {"server with a tab", "ServerName=x\t\npwd=secret\n", 0600, Swap::None, "line 1 (ServerName)"},
        // Opening a FIFO for reading blocks until a writer comes: start-up must not hang.
        {"a FIFO with mode 600", "", 0600, Swap::Fifo, "not a regular file"},
        {"a directory", "", 0700, Swap::Directory, "not a regular file"},
        {"owned by another user", "ServerName=x\npwd=secret\n", 0600, Swap::OtherOwner, "chown"},
        {"a link to another user's file", "ServerName=x\npwd=secret\n", 0600, Swap::SymlinkToOthers, "chown"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDatabase db;
        const QString path = db.writeLoginSettingsText(c.content, c.permissions);
        const QByteArray native = QFile::encodeName(path);
        if (c.swap == Swap::Fifo) {
            ASSERT_EQ(::unlink(native.constData()), 0);
            ASSERT_EQ(::mkfifo(native.constData(), 0600), 0);
        } else if (c.swap == Swap::Directory) {
            ASSERT_EQ(::unlink(native.constData()), 0);
            ASSERT_EQ(::mkdir(native.constData(), 0700), 0);
        } else if (c.swap == Swap::OtherOwner || c.swap == Swap::SymlinkToOthers) {
            if (::geteuid() != 0)
                continue; // giving a file to another user needs root
            QByteArray target = native;
            if (c.swap == Swap::SymlinkToOthers) {
                target = native + ".elsewhere";
                ASSERT_EQ(::rename(native.constData(), target.constData()), 0);
                ASSERT_EQ(::symlink(target.constData(), native.constData()), 0);
            }
            ASSERT_EQ(::chown(target.constData(), 65534, 65534), 0);
        }
        // In a child with a time limit: a read that blocks would hang the suite.
        const reliability::ChildOutcome outcome = reliability::runChild(
            [] {
                QString description;
                reliability::report("number", QString::number(readError(&description)));
                reliability::reportExact("description", description);
            },
            20000);
        if (outcome.timedOut) {
            ADD_FAILURE() << "reading the settings blocked";
            continue;
        }
        EXPECT_EQ(outcome.result("number"), QString::number(gst::err::kLoginSettings));
        const QString description = outcome.exactResult("description");
        EXPECT_TRUE(description.contains(c.hint)) << description.toStdString();
        EXPECT_FALSE(description.contains("secret"));
    }
}

TEST(LoginSettings, MissingFileNamesItsPath)
{
    TestDatabase db;
    const QString path = db.writeLoginSettingsText("ServerName=x\n");
    QFile::remove(path);
    QString description;
    EXPECT_EQ(readError(&description), gst::err::kLoginSettings);
    EXPECT_TRUE(description.contains("login.ini"));
}

} // namespace
