#include "platform/UserFolders.h"

#include <QDir>

namespace gst
{

QString talvexFolder(UserFolder kind)
{
    const bool config = kind == UserFolder::Config;
    // A relative value is invalid and ignored, as the XDG rules say.
    QString base = qEnvironmentVariable(config ? "XDG_CONFIG_HOME" : "XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = systemUserBase(kind);
    return QDir::cleanPath(base + QStringLiteral("/talvex"));
}

} // namespace gst
