#pragma once

#include "support/FixtureShare.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>
#include <ostream>
#include <vector>

// Records as their JSON text in GoogleTest's failure messages.
inline void PrintTo(const QJsonObject& o, std::ostream* os)
{
    *os << QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

// Points XDG_DATA_HOME at a fresh folder for the object's lifetime, so that a
// test reads only the run records its own runs wrote (children it forks
// inherit the folder). Puts the previous value back when destroyed.
class RunLogFolder
{
public:
    RunLogFolder();
    ~RunLogFolder();
    RunLogFolder(const RunLogFolder&) = delete;
    RunLogFolder& operator=(const RunLogFolder&) = delete;

    // The folder XDG_DATA_HOME names.
    QString dataHome() const;
    // "<dataHome>/talvex/gstconvert.log".
    QString logPath() const;
    // The file's bytes; empty when there is none.
    QByteArray bytes() const;
    // Each line of the file parsed as a JSON object; a line that is not one
    // is a test failure (and is left out).
    std::vector<QJsonObject> records() const;
    // Removes the log and its older part, as before any run.
    void clear() const;

private:
    FixtureShare m_share{"run log"};
    QTemporaryDir m_dir;
    QString m_path; // the parent's in a Windows child, else m_dir's
    QByteArray m_old;
    bool m_wasSet = false;
};
