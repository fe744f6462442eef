#pragma once

#include <QByteArray>
#include <QString>

namespace gst
{

// The file that keeps one line per conversion run:
// "gstconvert.log" in the user's talvex data folder (see UserFolders.h).
QString runLogPath();

// Past this size the file moves to "gstconvert.log.1" and a new one starts.
constexpr qint64 kRunLogLimit = 1024 * 1024;

// Appends `line` and a line feed to the run log, in one write. Creates the
// folder and the file (mode 0600) when missing; refuses anything at that path
// that is not a regular file of this user (a link, a pipe, a folder). Never
// throws, never waits: a record that cannot be written leaves the run as it
// was, and the first failure of the process is said once on stderr.
// Returns whether the line was written.
bool appendRunLog(const QByteArray& line);

// The file work of appendRunLog, one file for each system: appends `data` to the
// log at `path` under its lock, moving a full file aside first; false with the
// reason when it cannot.
bool appendToLogFile(const QString& path, const QByteArray& data, QString* reason);

// The operating-system account the program runs as: the password database's
// name for the effective user, else USER (USERNAME on Windows).
QString operatingSystemUser();

namespace runlog_seam
{
// Lets the next failure be said on stderr again.
void resetFailureNotice();
} // namespace runlog_seam

} // namespace gst
