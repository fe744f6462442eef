#pragma once

// Files of kinds the tests make to trip the program, on POSIX systems (see
// win/FileKinds.h for what Windows has instead).

#include <QFile>
#include <QString>
#include <sys/stat.h>
#include <unistd.h>

namespace filekinds
{

// Permission bits exist and mean what the program checks.
constexpr bool kFileModes = true;
// QFile::link makes a symbolic link.
constexpr bool kSymbolicLinks = true;

inline int modeOf(const QString& path)
{
    struct stat st {
    };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return static_cast<int>(st.st_mode & 07777);
}
inline bool setMode(const QString& path, int mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0;
}
inline bool hardLink(const QString& existing, const QString& name)
{
    return ::link(QFile::encodeName(existing).constData(), QFile::encodeName(name).constData()) == 0;
}
inline bool makePipe(const QString& path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}
// Permission bits do not hold the superuser back.
inline bool superuser()
{
    return ::geteuid() == 0;
}

} // namespace filekinds
