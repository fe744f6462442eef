#include "platform/LoginSettings.h"

#include "platform/ConnectionString.h"
#include "platform/Error.h"
#include "platform/LoginComponent.h"
#include "platform/Text.h"
#include "platform/UserFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace gst
{

namespace
{

// A settings file holds a few short lines; anything much larger is not one.
constexpr qsizetype kLongestSettingsFile = 64 * 1024;

} // namespace

QString defaultOdbcDriver()
{
#ifdef Q_OS_WIN
    // The newest of Microsoft's SQL Server drivers registered here, else the
    // one every Windows has.
    for (const char* name : {"ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server"}) {
        if (identifyDriver(QLatin1String(name)) == DriverKind::Microsoft)
            return QLatin1String(name);
    }
    return QStringLiteral("SQL Server");
#else
    return QStringLiteral("FreeTDS");
#endif
}

QString loginSettingsPath()
{
    return talvexFolder(UserFolder::Config) + QStringLiteral("/login.ini");
}

QString loginSettingsHelp()
{
    const QString path = printable(QDir::toNativeSeparators(loginSettingsPath()));
    const QString keys = QStringLiteral("  Keys: ServerName, pwd, Driver, Options.");
#ifdef Q_OS_WIN
    return QStringLiteral("  the login component %1 where it is registered (Driver and Options still\n"
                          "  come from the file); otherwise %LOCALAPPDATA%\\talvex\\login.ini, or\n"
                          "  $XDG_CONFIG_HOME/talvex/login.ini when XDG_CONFIG_HOME is set; here %2.\n%3\n")
        .arg(QLatin1String(kLoginComponentClass), path, keys);
#else
    return QStringLiteral("  $XDG_CONFIG_HOME/talvex/login.ini, or ~/.config/talvex/login.ini when\n"
                          "  XDG_CONFIG_HOME is not set; here %1.\n%2 The file holds a password and is\n"
                          "  refused unless only its owner has access to it: chmod 600 it.\n")
        .arg(path, keys);
#endif
}

LoginSettings parseLoginSettings(const QByteArray& content)
{
    LoginSettings s;
    QByteArray bytes = content;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3); // a byte order mark from Notepad
    QList<QByteArray> lines = bytes.split('\n');
    wipe(bytes);
    struct Wiper {
        QList<QByteArray>& lines;
        ~Wiper()
        {
            for (QByteArray& line : lines)
                wipe(line);
        }
    } wiper{lines};
    int number = 0;
    for (QByteArray& raw : lines) {
        ++number;
        if (raw.endsWith('\r'))
            raw.chop(1);
        // Every line is checked as a whole: a value that is not UTF-8, or holds a
        // control character, would reach the server as other text than written.
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString line = decoder.decode(raw);
        const int eq = static_cast<int>(line.indexOf(QLatin1Char('=')));
        const QString key = (eq < 0 ? line : line.left(eq)).trimmed();
        const bool control = hasControlCharacter(line);
        if (decoder.hasError() || control) {
            wipe(line);
            // Named by its number, and by its key only where that is one the
            // utility knows: the rest of the line may be the password.
            QString known;
            for (const char* name : {"ServerName", "pwd", "Driver", "Options"}) {
                if (eq >= 0 && key.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                    known = QStringLiteral(" (%1)").arg(QLatin1String(name));
            }
            throw AppError(
                err::kLoginSettings,
                QStringLiteral("The login settings file holds %1 in line %2%3. Save it as UTF-8 text, "
                               "one key=value to a line, with no control characters.")
                    .arg(decoder.hasError() ? QStringLiteral("text that is not UTF-8")
                                            : QStringLiteral("a control character"),
                         QString::number(number), known));
        }
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char(';')) ||
            trimmed.startsWith(QLatin1Char('#')) || trimmed.startsWith(QLatin1Char('[')) || eq < 0) {
            wipe(line);
            continue; // a comment, [General], or no value
        }
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
        wipe(line);
    }
    return s;
}

LoginSettings readLoginSettingsFrom(const QString& path, bool serverRequired)
{
    const QString shown = QDir::toNativeSeparators(path);
    const QString missing =
        QStringLiteral("The login settings file %1 was not found. Create it with the lines "
                       "ServerName=<server> and pwd=<password of sa>, readable only by you.")
            .arg(shown);
#ifndef Q_OS_WIN
    // One open, then every check on that descriptor: the file cannot be swapped
    // between the check and the read. Non-blocking, so a FIFO cannot stall start-up.
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT)
            throw AppError(err::kLoginSettings, missing);
        throw AppError(err::kLoginSettings, QStringLiteral("The login settings file %1 cannot be opened: %2")
                                                .arg(shown, QString::fromLocal8Bit(std::strerror(error))));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {
    };
    if (::fstat(fd, &st) != 0)
        throw AppError(err::kLoginSettings,
                       QStringLiteral("The login settings file %1 cannot be examined: %2")
                           .arg(shown, QString::fromLocal8Bit(std::strerror(errno))));
    if (!S_ISREG(st.st_mode))
        throw AppError(err::kLoginSettings,
                       QStringLiteral("The login settings file %1 is not a regular file. Replace it with a "
                                      "plain text file holding ServerName=<server> and pwd=<password of sa>.")
                           .arg(shown));
    if (st.st_uid != ::geteuid())
        throw AppError(err::kLoginSettings,
                       QStringLiteral("The login settings file %1 holds the database password but belongs to "
                                      "another user (uid %2). Make it yours: chown %3 \"%1\"")
                           .arg(shown, QString::number(st.st_uid), QString::number(::geteuid())));
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        throw AppError(
            err::kLoginSettings,
            QStringLiteral("The login settings file %1 holds the database password but may be read "
                           "by other users. Run: chmod 600 \"%1\"")
                .arg(shown));
    if (st.st_size > kLongestSettingsFile)
        throw AppError(err::kLoginSettings,
                       QStringLiteral("The login settings file %1 is larger than %2 bytes; it should hold a "
                                      "few lines only.")
                           .arg(shown, QString::number(kLongestSettingsFile)));
    QByteArray content;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            wipe(content);
            throw AppError(err::kLoginSettings,
                           QStringLiteral("The login settings file %1 cannot be read: %2")
                               .arg(shown, QString::fromLocal8Bit(std::strerror(error))));
        }
        if (got == 0)
            break;
        content.append(buffer, static_cast<qsizetype>(got));
        if (content.size() > kLongestSettingsFile) {
            wipe(content);
            throw AppError(
                err::kLoginSettings,
                QStringLiteral("The login settings file %1 is larger than %2 bytes; it should hold a "
                               "few lines only.")
                    .arg(shown, QString::number(kLongestSettingsFile)));
        }
    }
    std::fill(std::begin(buffer), std::end(buffer), '\0');
#else
    // No ownership or permission check on Windows: the file lives in the user's
    // own profile. It is read only as a plain file, never through a link.
    QFile file(path);
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        throw AppError(err::kLoginSettings, missing);
    if (!info.isFile() || info.isSymLink() || info.isJunction())
        throw AppError(err::kLoginSettings,
                       QStringLiteral("The login settings file %1 is not a regular file. Replace it with a "
                                      "plain text file holding ServerName=<server> and pwd=<password of sa>.")
                           .arg(shown));
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(
            err::kLoginSettings,
            QStringLiteral("The login settings file %1 cannot be read: %2").arg(shown, file.errorString()));
    QByteArray content = file.read(kLongestSettingsFile + 1);
    if (content.size() > kLongestSettingsFile) {
        wipe(content);
        throw AppError(err::kLoginSettings,
                       QStringLiteral("The login settings file %1 is larger than %2 bytes; it should hold a "
                                      "few lines only.")
                           .arg(shown, QString::number(kLongestSettingsFile)));
    }
#endif
    LoginSettings s = parseLoginSettings(content);
    wipe(content);
    if (serverRequired && s.serverName.trimmed().isEmpty())
        throw AppError(
            err::kLoginSettings,
            QStringLiteral("The login settings file %1 does not name a server (ServerName=...).").arg(shown));
    if (s.driver.isEmpty())
        s.driver = defaultOdbcDriver();
    return s;
}

LoginSettings readLoginSettings()
{
    const QString path = loginSettingsPath();
    const QString component = QLatin1String(kLoginComponentClass);
    LoginComponentAnswer answer = readLoginComponent();
    if (answer.outcome != LoginComponentAnswer::Outcome::Answered) {
        try {
            return readLoginSettingsFrom(path);
        } catch (const AppError& e) {
            if (answer.outcome == LoginComponentAnswer::Outcome::NoComponents)
                throw;
            throw AppError(e.number(),
                           QStringLiteral("The login component %1 is not registered on this computer. %2")
                               .arg(component, e.description()));
        }
    }
    LoginSettings s = std::move(answer.settings);
    // The component's values are checked as the file's are.
    for (const QString* value : {&s.serverName, &s.pwd}) {
        if (hasControlCharacter(*value)) {
            wipe(s.pwd);
            throw AppError(
                err::kLoginSettings,
                QStringLiteral("The login component %1 gave a %2 holding a control character.")
                    .arg(component, value == &s.pwd ? QStringLiteral("pwd") : QStringLiteral("ServerName")));
        }
    }
    if (s.serverName.trimmed().isEmpty()) {
        wipe(s.pwd);
        throw AppError(
            err::kLoginSettings,
            QStringLiteral("The login component %1 gave no server name (ServerName).").arg(component));
    }
    // The component knows no driver or options: the file, when there is one,
    // still gives them (its own ServerName and pwd are not used).
    s.driver = defaultOdbcDriver();
    if (QFileInfo::exists(path)) {
        LoginSettings file = readLoginSettingsFrom(path, false);
        wipe(file.pwd);
        s.driver = file.driver;
        s.options = file.options;
    }
    return s;
}

} // namespace gst
