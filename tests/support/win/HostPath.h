#pragma once

#include <QString>

// A test folder as the ODBC drivers open it. Under wine those are the host's
// drivers, which take Unix paths: a folder on wine's drive Z: (the Unix root),
// where scripts/windows/test.sh puts the temporary folders, is given without
// its drive; Windows resolves such a path on the current drive, also Z:.
inline QString hostPath(const QString& path)
{
    if (path.startsWith(QLatin1String("Z:/"), Qt::CaseInsensitive))
        return path.mid(2);
    return path;
}
