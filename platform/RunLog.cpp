#include "platform/RunLog.h"

#include "platform/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstdio>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace gst
{

namespace
{

bool g_failureSaid = false;

RunFailureHook& runFailureHook()
{
    static RunFailureHook hook;
    return hook;
}

// The path comes from the environment: nothing in it may steer the terminal.
QString printable(QString text)
{
    for (QChar& ch : text) {
        if (ch.category() == QChar::Other_Control || ch.category() == QChar::Other_Format)
            ch = QLatin1Char('?');
    }
    return text;
}

void sayFailureOnce(const QString& path, const QString& reason)
{
    if (g_failureSaid)
        return;
    g_failureSaid = true;
    const QString text =
        printable(QStringLiteral("gstconvert: the record of this run could not be written to %1: %2")
                      .arg(path, reason));
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

#ifndef Q_OS_WIN

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Opens the log for appending without following a link, without waiting on a
// pipe, and only when it is a regular file of this user with no other name.
int openLogFile(const QByteArray& path, struct stat* info, QString* reason)
{
    const int fd =
        ::open(path.constData(),
               O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd < 0) {
        *reason = errnoText(errno);
        return -1;
    }
    if (::fstat(fd, info) != 0) {
        *reason = errnoText(errno);
    } else if (!S_ISREG(info->st_mode)) {
        *reason = QStringLiteral("it is not a regular file");
    } else if (info->st_uid != ::geteuid()) {
        *reason = QStringLiteral("it belongs to another user");
    } else if (info->st_nlink != 1) {
        *reason = QStringLiteral("the file has other names (hard links)");
    } else {
        return fd;
    }
    ::close(fd);
    return -1;
}

bool appendToFile(const QString& path, const QByteArray& data, QString* reason)
{
    const QString folder = QFileInfo(path).absolutePath();
    const QString parent = QFileInfo(folder).absolutePath();
    if (!QDir().mkpath(parent)) {
        *reason = QStringLiteral("the folder %1 cannot be created").arg(parent);
        return false;
    }
    if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST) {
        *reason = errnoText(errno);
        return false;
    }
    const QByteArray file = QFile::encodeName(path);
    for (int attempt = 0; attempt < 2; ++attempt) {
        struct stat info {
        };
        const int fd = openLogFile(file, &info, reason);
        if (fd < 0)
            return false;
        if (attempt == 0 && info.st_size > 0 && info.st_size + data.size() > kRunLogLimit) {
            // Full: the old records move aside (replacing older ones) and a new file starts.
            ::close(fd);
            if (::rename(file.constData(), (file + ".1").constData()) != 0) {
                *reason = errnoText(errno);
                return false;
            }
            continue;
        }
        // An older file that others may read is closed to them; failing that,
        // the record (which holds no password) is still written.
        if ((info.st_mode & 07777) != 0600 && ::fchmod(fd, 0600) != 0) {
        }
        const char* p = data.constData();
        qint64 left = data.size();
        while (left > 0) {
            const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                *reason = n < 0 ? errnoText(errno) : QStringLiteral("nothing was written");
                // A part of a line would run into the next record: take it back.
                if (left != data.size() && ::ftruncate(fd, info.st_size) != 0) {
                }
                ::close(fd);
                return false;
            }
            p += n;
            left -= n;
        }
        if (::close(fd) != 0) {
            *reason = errnoText(errno);
            return false;
        }
        return true;
    }
    *reason = QStringLiteral("the file keeps growing past its limit");
    return false;
}

#else

bool appendToFile(const QString& path, const QByteArray& data, QString* reason)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *reason = QStringLiteral("the folder cannot be created");
        return false;
    }
    const QFileInfo info(path);
    if (info.exists() && (!info.isFile() || info.isSymLink())) {
        *reason = QStringLiteral("it is not a regular file");
        return false;
    }
    if (info.exists() && info.size() > 0 && info.size() + data.size() > kRunLogLimit) {
        const QString older = path + QStringLiteral(".1");
        QFile::remove(older);
        if (!QFile::rename(path, older)) {
            *reason = QStringLiteral("it cannot be moved to %1").arg(older);
            return false;
        }
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append) || f.write(data) != data.size()) {
        *reason = f.errorString();
        return false;
    }
    return true;
}

#endif

} // namespace

QString runLogPath()
{
    QString base;
#ifdef Q_OS_WIN
    base = qEnvironmentVariable("LOCALAPPDATA");
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#else
    // A relative XDG_DATA_HOME is invalid and ignored, as the XDG rules say.
    base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
#endif
    return QDir::cleanPath(base + QStringLiteral("/talvex/gstconvert.log"));
}

bool appendRunLog(const QByteArray& line)
{
    QString path;
    try {
        path = runLogPath();
        QString reason;
        if (appendToFile(path, line + '\n', &reason))
            return true;
        sayFailureOnce(path, reason);
    } catch (...) {
        sayFailureOnce(path, QStringLiteral("out of memory"));
    }
    return false;
}

QString operatingSystemUser()
{
#ifdef Q_OS_WIN
    return qEnvironmentVariable("USERNAME");
#else
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name && *pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
#endif
}

void setRunFailureHook(RunFailureHook hook)
{
    runFailureHook() = std::move(hook);
}

void notifyRunFailure(const AppError& error)
{
    // Taken out first: the record is written once, whatever the hook does.
    RunFailureHook hook = std::move(runFailureHook());
    runFailureHook() = nullptr;
    if (hook)
        hook(error);
}

namespace runlog_seam
{
void resetFailureNotice()
{
    g_failureSaid = false;
}
} // namespace runlog_seam

} // namespace gst
