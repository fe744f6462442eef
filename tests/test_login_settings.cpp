#include "platform/Error.h"
#include "platform/LoginSettings.h"
#include "support/TestDatabase.h"

#include <gtest/gtest.h>

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
    struct Case {
        const char* name;
        QByteArray content;
        int permissions;
        const char* hint;
    };
    const Case cases[] = {
        {"readable by others", "ServerName=x\npwd=secret\n", 0644, "chmod 600"},
        {"readable by group", "ServerName=x\npwd=secret\n", 0640, "chmod 600"},
        {"no server", "pwd=secret\n", 0600, "ServerName"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDatabase db;
        db.writeLoginSettingsText(c.content, c.permissions);
        QString description;
        EXPECT_EQ(readError(&description), gst::err::kLoginSettings);
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
