#pragma once

#include <QString>

// A test folder as the ODBC drivers open it: on POSIX systems, the path itself.
inline QString hostPath(const QString& path)
{
    return path;
}
