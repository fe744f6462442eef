#include "platform/RunLog.h"

#include "platform/Error.h"
#include "platform/Text.h"
#include "platform/UserFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <windows.h>

#include <lmcons.h>
#include <string>
#endif

namespace gst
{

namespace
{

bool g_failureSaid = false;

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

bool appendToFile(const QString& path, const QByteArray& data, QString* reason)
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

#else

QString lastErrorText()
{
    return qt_error_string(static_cast<int>(GetLastError()));
}

struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~Handle()
    {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
};

std::wstring wide(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

// Opened as itself, never through a link or junction: a reparse point is opened
// as the point and then refused.
HANDLE openNoFollow(const QString& path, DWORD access, DWORD disposition, DWORD flags)
{
    return CreateFileW(wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, disposition, flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool sameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// Waits, bounded, for the log's lock: another run may be writing or moving it.
bool lockLog(HANDLE file)
{
    for (int waited = 0; waited < 5000; waited += 10) {
        OVERLAPPED whole{};
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                       &whole))
            return true;
        if (GetLastError() != ERROR_LOCK_VIOLATION && GetLastError() != ERROR_IO_PENDING)
            return false;
        Sleep(10);
    }
    return false;
}

bool appendToFile(const QString& path, const QByteArray& data, QString* reason)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(QFileInfo(folder).absolutePath()) ||
        (!CreateDirectoryW(wide(folder).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)) {
        *reason = QStringLiteral("the folder %1 cannot be created").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    // The folder stays open, without leave to delete it, while the file is
    // written: it cannot be swapped for a junction to somewhere else meanwhile.
    Handle dir;
    dir.h =
        CreateFileW(wide(folder).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION dirInfo{};
    if (dir.h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(dir.h, &dirInfo)) {
        *reason = lastErrorText();
        return false;
    }
    if ((dirInfo.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (dirInfo.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        *reason = QStringLiteral("the folder is a link or junction, or not a folder");
        return false;
    }
    const QString older = path + QStringLiteral(".1");
    for (int attempt = 0; attempt < 8; ++attempt) {
        Handle file;
        file.h = openNoFollow(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES | DELETE, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL);
        BY_HANDLE_FILE_INFORMATION info{};
        if (file.h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file.h, &info)) {
            *reason = lastErrorText();
            return false;
        }
        if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
            GetFileType(file.h) != FILE_TYPE_DISK) {
            *reason = QStringLiteral("it is not a regular file");
            return false;
        }
        if (info.nNumberOfLinks != 1) {
            *reason = QStringLiteral("the file has other names (hard links)");
            return false;
        }
        if (!lockLog(file.h)) {
            *reason = QStringLiteral("another run keeps the file locked");
            return false;
        }
        // The lock counts only while the name still names the file locked.
        Handle named;
        named.h = openNoFollow(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, 0);
        BY_HANDLE_FILE_INFORMATION namedInfo{};
        if (named.h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(named.h, &namedInfo) ||
            !sameFile(info, namedInfo))
            continue;
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(file.h, &size)) {
            *reason = lastErrorText();
            return false;
        }
        if (size.QuadPart > 0 && size.QuadPart + data.size() > kRunLogLimit) {
            // Full: the old records move aside (replacing older ones) while the
            // lock is held, and a new file starts.
            if (!MoveFileExW(wide(path).c_str(), wide(older).c_str(), MOVEFILE_REPLACE_EXISTING)) {
                *reason = lastErrorText();
                return false;
            }
            continue;
        }
        LARGE_INTEGER end{};
        DWORD written = 0;
        if (!SetFilePointerEx(file.h, LARGE_INTEGER{}, &end, FILE_END) ||
            !WriteFile(file.h, data.constData(), static_cast<DWORD>(data.size()), &written, nullptr) ||
            written != static_cast<DWORD>(data.size())) {
            *reason = lastErrorText();
            // A part of a line would run into the next record: take it back.
            if (SetFilePointerEx(file.h, size, nullptr, FILE_BEGIN))
                SetEndOfFile(file.h);
            return false;
        }
        return true;
    }
    *reason = QStringLiteral("the file keeps being moved or growing past its limit");
    return false;
}

#endif

} // namespace

QString runLogPath()
{
    return talvexFolder(UserFolder::Data) + QStringLiteral("/gstconvert.log");
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
    wchar_t name[UNLEN + 1] = {};
    DWORD length = UNLEN + 1;
    if (GetUserNameW(name, &length) && length > 1)
        return QString::fromWCharArray(name, static_cast<int>(length - 1));
    return qEnvironmentVariable("USERNAME");
#else
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name && *pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
#endif
}

namespace runlog_seam
{
void resetFailureNotice()
{
    g_failureSaid = false;
}
} // namespace runlog_seam

} // namespace gst
