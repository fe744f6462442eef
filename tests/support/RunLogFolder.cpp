#include "support/RunLogFolder.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <gtest/gtest.h>

RunLogFolder::RunLogFolder()
{
    m_wasSet = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    m_old = qgetenv("XDG_DATA_HOME");
    m_path = m_share.inherited().value_or(m_dir.path());
    m_share.offer(m_path);
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_path));
}

RunLogFolder::~RunLogFolder()
{
    if (m_wasSet)
        qputenv("XDG_DATA_HOME", m_old);
    else
        qunsetenv("XDG_DATA_HOME");
}

QString RunLogFolder::dataHome() const
{
    return m_path;
}

QString RunLogFolder::logPath() const
{
    return m_path + QStringLiteral("/talvex/gstconvert.log");
}

QByteArray RunLogFolder::bytes() const
{
    QFile f(logPath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

std::vector<QJsonObject> RunLogFolder::records() const
{
    std::vector<QJsonObject> out;
    const QByteArray all = bytes();
    if (!all.isEmpty() && !all.endsWith('\n'))
        ADD_FAILURE() << "the run log does not end with a line feed";
    for (const QByteArray& line : all.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject()) {
            ADD_FAILURE() << "not a JSON object: " << line.left(300).toStdString();
            continue;
        }
        out.push_back(doc.object());
    }
    return out;
}

void RunLogFolder::clear() const
{
    if (m_share.skipsSetUp())
        return; // the parent's log, as the parent left it
    QFile::remove(logPath());
    QFile::remove(logPath() + QStringLiteral(".1"));
}
