#include "platform/RunLog.h"

#include "platform/Error.h"
#include "platform/Text.h"
#include "platform/UserFolders.h"

#include <cstdio>

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
        if (appendToLogFile(path, line + '\n', &reason))
            return true;
        sayFailureOnce(path, reason);
    } catch (...) {
        sayFailureOnce(path, QStringLiteral("out of memory"));
    }
    return false;
}

namespace runlog_seam
{
void resetFailureNotice()
{
    g_failureSaid = false;
}
} // namespace runlog_seam

} // namespace gst
