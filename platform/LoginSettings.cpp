#include "platform/LoginSettings.h"

#include "platform/Error.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace gst
{

QString defaultOdbcDriver()
{
#ifdef Q_OS_WIN
    return QStringLiteral("SQL Server");
#else
    return QStringLiteral("FreeTDS");
#endif
}

QString loginSettingsPath()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(base).filePath(QStringLiteral("talvex/login.ini"));
}

LoginSettings parseLoginSettings(const QByteArray& content)
{
    LoginSettings s;
    const QString text = QString::fromUtf8(content);
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (QString line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char(';')) || trimmed.startsWith(QLatin1Char('#')))
            continue;
        if (trimmed.startsWith(QLatin1Char('[')))
            continue; // [General]
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        // The value is taken exactly as written: a server "SHOP\SQLEXPRESS" keeps its backslash.
        const QString value = line.mid(eq + 1);
        if (key.compare(QLatin1String("ServerName"), Qt::CaseInsensitive) == 0)
            s.serverName = value;
        else if (key.compare(QLatin1String("pwd"), Qt::CaseInsensitive) == 0)
            s.pwd = value;
        else if (key.compare(QLatin1String("Driver"), Qt::CaseInsensitive) == 0)
            s.driver = value.trimmed();
        else if (key.compare(QLatin1String("Options"), Qt::CaseInsensitive) == 0)
            s.options = value;
    }
    return s;
}

LoginSettings readLoginSettingsFrom(const QString& path)
{
    const QString shown = QDir::toNativeSeparators(path);
#ifndef Q_OS_WIN
    struct stat st {
    };
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &st) != 0)
        throw AppError(err::kLoginSettings,
                       QStringLiteral("The login settings file %1 was not found. Create it with the lines "
                                      "ServerName=<server> and pwd=<password of sa>, readable only by you.")
                           .arg(shown));
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        throw AppError(
            err::kLoginSettings,
            QStringLiteral("The login settings file %1 holds the database password but may be read "
                           "by other users. Run: chmod 600 \"%1\"")
                .arg(shown));
#endif
    QFile file(path);
    if (!file.exists())
        throw AppError(err::kLoginSettings,
                       QStringLiteral("The login settings file %1 was not found.").arg(shown));
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(
            err::kLoginSettings,
            QStringLiteral("The login settings file %1 cannot be read: %2").arg(shown, file.errorString()));
    LoginSettings s = parseLoginSettings(file.readAll());
    if (s.serverName.trimmed().isEmpty())
        throw AppError(
            err::kLoginSettings,
            QStringLiteral("The login settings file %1 does not name a server (ServerName=...).").arg(shown));
    if (s.driver.isEmpty())
        s.driver = defaultOdbcDriver();
    return s;
}

LoginSettings readLoginSettings()
{
    return readLoginSettingsFrom(loginSettingsPath());
}

} // namespace gst
