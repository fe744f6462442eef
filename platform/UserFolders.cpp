#include "platform/UserFolders.h"

#include <QDir>
#include <QStandardPaths>

namespace gst
{

QString talvexFolder(UserFolder kind)
{
    const bool config = kind == UserFolder::Config;
    // A relative value is invalid and ignored, as the XDG rules say.
    QString base = qEnvironmentVariable(config ? "XDG_CONFIG_HOME" : "XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) {
#ifdef Q_OS_WIN
        // Qt asks the shell for LocalAppData; both kinds live there.
        base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#else
        base = QDir::homePath() + (config ? QStringLiteral("/.config") : QStringLiteral("/.local/share"));
#endif
    }
    return QDir::cleanPath(base + QStringLiteral("/talvex"));
}

} // namespace gst
