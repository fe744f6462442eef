#include "platform/UserFolders.h"

#include <QStandardPaths>

namespace gst
{

QString systemUserBase(UserFolder)
{
    // Qt asks the shell for LocalAppData; both kinds live there.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

} // namespace gst
