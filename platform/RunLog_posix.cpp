#include "platform/RunLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gst
{

namespace
{

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Opens the log for appending inside the folder, without following a link,
// without waiting on a pipe, and only when it is a regular file of this user
// with no other name.
int openLogFile(int folder, const char* name, struct stat* info, QString* reason)
{
    const int fd = ::openat(
        folder, name, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
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

// The folder, opened without following a link and checked as opened: another
// user who could write in it could swap the log for a file of their choosing.
int openLogFolder(const QString& folder, QString* reason)
{
    const QString parent = QFileInfo(folder).absolutePath();
    if (!QDir().mkpath(parent)) {
        *reason = QStringLiteral("the folder %1 cannot be created").arg(parent);
        return -1;
    }
    const QByteArray native = QFile::encodeName(folder);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        *reason = errnoText(errno);
        return -1;
    }
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *reason = errno == ELOOP || errno == ENOTDIR ? QStringLiteral("the folder is a link or not a folder")
                                                     : errnoText(errno);
        return -1;
    }
    struct stat st {
    };
    if (::fstat(fd, &st) != 0)
        *reason = errnoText(errno);
    else if (st.st_uid != ::geteuid())
        *reason = QStringLiteral("the folder belongs to another user");
    else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        *reason = QStringLiteral("other users may write in the folder (chmod 700 it)");
    else
        return fd;
    ::close(fd);
    return -1;
}

// Waits, bounded, for the log's lock: another run may be writing or moving it.
bool lockLog(int fd)
{
    for (int waited = 0; waited < 5000; waited += 10) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        ::usleep(10000);
    }
    return false;
}

} // namespace

bool appendToLogFile(const QString& path, const QByteArray& data, QString* reason)
{
    const int folder = openLogFolder(QFileInfo(path).absolutePath(), reason);
    if (folder < 0)
        return false;
    struct FolderCloser {
        int fd;
        ~FolderCloser() { ::close(fd); }
    } folderCloser{folder};
    const QByteArray name = QFile::encodeName(QFileInfo(path).fileName());
    const QByteArray older = name + ".1";
    // Another run may move the file aside between our open and our lock: the
    // lock is taken on the file opened, and counts only while the name still
    // names that file; otherwise the new file is opened.
    for (int attempt = 0; attempt < 8; ++attempt) {
        struct stat info {
        };
        const int fd = openLogFile(folder, name.constData(), &info, reason);
        if (fd < 0)
            return false;
        if (!lockLog(fd)) {
            *reason = QStringLiteral("another run keeps the file locked");
            ::close(fd);
            return false;
        }
        struct stat named {
        };
        if (::fstatat(folder, name.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            named.st_dev != info.st_dev || named.st_ino != info.st_ino || ::fstat(fd, &info) != 0) {
            ::close(fd);
            continue;
        }
        if (info.st_size > 0 && info.st_size + data.size() > kRunLogLimit) {
            // Full: the old records move aside (replacing older ones) and a new
            // file starts; the lock is held until the name has moved.
            const bool moved = ::renameat(folder, name.constData(), folder, older.constData()) == 0;
            if (!moved)
                *reason = errnoText(errno);
            ::close(fd);
            if (!moved)
                return false;
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
    *reason = QStringLiteral("the file keeps being moved or growing past its limit");
    return false;
}

QString operatingSystemUser()
{
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name && *pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
}

} // namespace gst
