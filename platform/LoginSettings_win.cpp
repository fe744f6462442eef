#include "platform/LoginSettings.h"

#include "platform/ConnectionString.h"
#include "platform/Error.h"
#include "platform/LoginComponent.h"
#include "platform/Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace gst
{

QString defaultOdbcDriver()
{
    // The newest of Microsoft's SQL Server drivers registered here, else the
    // one every Windows has.
    for (const char* name : {"ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server"}) {
        if (identifyDriver(QLatin1String(name)) == DriverKind::Microsoft)
            return QLatin1String(name);
    }
    return QStringLiteral("SQL Server");
}

QString loginSettingsHelp()
{
    const QString path = printable(QDir::toNativeSeparators(loginSettingsPath()));
    return QStringLiteral("  the login component %1 where it is registered (Driver and Options still\n"
                          "  come from the file); otherwise %LOCALAPPDATA%\\talvex\\login.ini, or\n"
                          "  $XDG_CONFIG_HOME/talvex/login.ini when XDG_CONFIG_HOME is set; here %2.\n"
                          "  Keys: ServerName, pwd, Driver, Options.\n")
        .arg(QLatin1String(kLoginComponentClass), path);
}

QByteArray readSettingsFile(const QString& path, const QString& shown)
{
    // No ownership or permission check on Windows: the file lives in the user's
    // own profile. It is read only as a plain file, never through a link.
    QFile file(path);
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        throw settingsFileError(SettingsFileFault::Missing, shown);
    if (!info.isFile() || info.isSymLink() || info.isJunction())
        throw settingsFileError(SettingsFileFault::NotRegular, shown);
    if (!file.open(QIODevice::ReadOnly))
        throw settingsFileError(SettingsFileFault::Unreadable, shown, file.errorString());
    QByteArray content = file.read(kLongestSettingsFile + 1);
    if (content.size() > kLongestSettingsFile) {
        wipe(content);
        throw settingsFileError(SettingsFileFault::TooLarge, shown);
    }
    return content;
}

} // namespace gst
