#include "platform/UserFolders.h"

#include <QDir>

namespace gst
{

QString systemUserBase(UserFolder kind)
{
    return QDir::homePath() +
           (kind == UserFolder::Config ? QStringLiteral("/.config") : QStringLiteral("/.local/share"));
}

} // namespace gst
