#include "platform/LoginSettings.h"

#include "platform/Error.h"
#include "platform/Text.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gst
{

QString defaultOdbcDriver()
{
    return QStringLiteral("FreeTDS");
}

QString loginSettingsHelp()
{
    const QString path = printable(QDir::toNativeSeparators(loginSettingsPath()));
    return QStringLiteral("  $XDG_CONFIG_HOME/talvex/login.ini, or ~/.config/talvex/login.ini when\n"
                          "  XDG_CONFIG_HOME is not set; here %1.\n"
                          "  Keys: ServerName, pwd, Driver, Options. The file holds a password and is\n"
                          "  refused unless only its owner has access to it: chmod 600 it.\n")
        .arg(path);
}

QByteArray readSettingsFile(const QString& path, const QString& shown)
{
    const auto systemError = [](int error) { return QString::fromLocal8Bit(std::strerror(error)); };
    // One open, then every check on that descriptor: the file cannot be swapped
    // between the check and the read. Non-blocking, so a FIFO cannot stall start-up.
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT)
            throw settingsFileError(SettingsFileFault::Missing, shown);
        throw AppError(
            err::kLoginSettings,
            QStringLiteral("The login settings file %1 cannot be opened: %2").arg(shown, systemError(error)));
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
                           .arg(shown, systemError(errno)));
    if (!S_ISREG(st.st_mode))
        throw settingsFileError(SettingsFileFault::NotRegular, shown);
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
        throw settingsFileError(SettingsFileFault::TooLarge, shown);
    QByteArray content;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            wipe(content);
            throw settingsFileError(SettingsFileFault::Unreadable, shown, systemError(error));
        }
        if (got == 0)
            break;
        content.append(buffer, static_cast<qsizetype>(got));
        if (content.size() > kLongestSettingsFile) {
            wipe(content);
            throw settingsFileError(SettingsFileFault::TooLarge, shown);
        }
    }
    std::fill(std::begin(buffer), std::end(buffer), '\0');
    return content;
}

} // namespace gst
