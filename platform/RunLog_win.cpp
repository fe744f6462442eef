#include "platform/RunLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <windows.h>

#include <lmcons.h>
#include <string>

namespace gst
{

namespace
{

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

} // namespace

bool appendToLogFile(const QString& path, const QByteArray& data, QString* reason)
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

QString operatingSystemUser()
{
    wchar_t name[UNLEN + 1] = {};
    DWORD length = UNLEN + 1;
    if (GetUserNameW(name, &length) && length > 1)
        return QString::fromWCharArray(name, static_cast<int>(length - 1));
    return qEnvironmentVariable("USERNAME");
}

} // namespace gst
