#include "support/FixtureShare.h"

#include <QList>
#include <gtest/gtest.h>

#include <map>
#include <string>

namespace
{

// Objects are told apart by kind and by the order of their construction in
// the current test, which a child's replay of the test repeats.
int nextOrdinal(const char* kind)
{
    static std::string test;
    static std::map<std::string, int> counts;
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : std::string();
    if (name != test) {
        test = name;
        counts.clear();
    }
    return ++counts[kind];
}

std::map<QByteArray, QString>& offered()
{
    static std::map<QByteArray, QString> values;
    return values;
}

// "kind#ordinal=<base64 value>" entries, separated by ";", read once from the environment.
const std::map<QByteArray, QString>& handedToUs()
{
    static const std::map<QByteArray, QString> values = [] {
        std::map<QByteArray, QString> read;
        for (const QByteArray& line : qgetenv(FixtureShare::variable()).split(';')) {
            const qsizetype eq = line.indexOf('=');
            if (eq > 0)
                read[line.left(eq)] = QString::fromUtf8(QByteArray::fromBase64(line.mid(eq + 1)));
        }
        return read;
    }();
    return values;
}

} // namespace

bool FixtureShare::s_replaying = qEnvironmentVariableIsSet("GST_TEST_CHILD");

FixtureShare::FixtureShare(const char* kind)
    : m_key(QByteArray(kind) + '#' + QByteArray::number(nextOrdinal(kind)))
{
    const auto it = handedToUs().find(m_key);
    if (it != handedToUs().end())
        m_inherited = it->second;
}

FixtureShare::~FixtureShare()
{
    if (offered().erase(m_key) > 0)
        publish();
}

void FixtureShare::offer(const QString& value)
{
    offered()[m_key] = value;
    publish();
}

const char* FixtureShare::variable()
{
    return "GST_TEST_FIXTURE";
}

QByteArray FixtureShare::handedDown()
{
    QList<QByteArray> lines;
    for (const auto& [key, value] : offered())
        lines << key + '=' + value.toUtf8().toBase64();
    return lines.join(';');
}
