#pragma once

// Files of kinds the tests make to trip the program, on Windows: no POSIX
// permission bits, no FIFOs in the file system, and QFile::link makes a shell
// shortcut (.lnk), not a symbolic link; rows that need those are skipped.

#include <QDir>
#include <QString>

#include <windows.h>

namespace filekinds
{

constexpr bool kFileModes = false;
constexpr bool kSymbolicLinks = false;

inline int modeOf(const QString&)
{
    return -1;
}
inline bool setMode(const QString&, int)
{
    return false;
}
inline bool hardLink(const QString& existing, const QString& name)
{
    return CreateHardLinkW(QDir::toNativeSeparators(name).toStdWString().c_str(),
                           QDir::toNativeSeparators(existing).toStdWString().c_str(), nullptr) != 0;
}
inline bool makePipe(const QString&)
{
    return false;
}
inline bool superuser()
{
    return false;
}

} // namespace filekinds
