#pragma once

#include <QByteArray>
#include <QString>

namespace gst
{

// What the login component supplies: the SQL Server instance and the password
// of the database login "sa", plus the ODBC driver to reach it through.
struct LoginSettings {
    QString serverName;
    QString pwd;
    QString driver;  // empty: the platform's default SQL Server driver
    QString options; // extra connection-string attributes
};

// The default driver when the settings name none.
QString defaultOdbcDriver();

// "login.ini" in the user's talvex configuration folder (see UserFolders.h).
QString loginSettingsPath();

// Where the login settings come from, for --help: indented lines, the last
// ending in a line feed.
QString loginSettingsHelp();

// The server and password from the login component where it is registered
// (Windows), with Driver and Options from the settings file when there is one;
// otherwise all from the settings file. Raises AppError(err::kLoginSettings)
// when neither gives a server, saying which was tried.
LoginSettings readLoginSettings();

// Reads and checks the settings file. Raises AppError(err::kLoginSettings) when
// it is missing, unreadable, lacks ServerName (when required), or may be read by
// group or others.
LoginSettings readLoginSettingsFrom(const QString& path, bool serverRequired = true);

// Parses "key=value" lines; an optional "[General]" header; values kept exactly as
// written (backslashes included); keys case-insensitive. Raises
// AppError(err::kLoginSettings) for a line that is not UTF-8 or holds a control
// character, naming its key.
LoginSettings parseLoginSettings(const QByteArray& content);

class AppError;

// A settings file holds a few short lines; anything much larger is not one.
constexpr qsizetype kLongestSettingsFile = 64 * 1024;

// The settings file's bytes, read and checked as this system allows; `shown`
// names it in messages. For readLoginSettingsFrom, one file for each system.
QByteArray readSettingsFile(const QString& path, const QString& shown);

enum class SettingsFileFault { Missing, NotRegular, TooLarge, Unreadable };
// The error for a fault of the settings file; `detail` says why it is unreadable.
AppError settingsFileError(SettingsFileFault fault, const QString& shown, const QString& detail = QString());

} // namespace gst
