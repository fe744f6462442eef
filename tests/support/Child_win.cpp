#include "support/FixtureShare.h"
#include "support/Reliability.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

// Windows has no fork: the child is this test program again, started with
// only the current test selected and told which of the test's children it is.
// It replays the test up to that child, runs the body there and ends; the
// children before it are not run again: each returns what the parent's did
// (kNotRunInChild if that is not known), so the replay takes the parent's path. The
// fixture objects alive in the parent (folders, databases, login settings, the
// run log, TDS peers) are handed down, and the replay takes them over instead
// of setting them up again (support/FixtureShare.h): the child works on the
// parent's fixture, as a forked one does.

namespace reliability
{

namespace
{

constexpr char kChildVariable[] = "GST_TEST_CHILD";
constexpr char kEarlierVariable[] = "GST_TEST_CHILD_EARLIER";
constexpr int kNotRunInChild = 96;
constexpr char kBodyStarts[] = "[child body starts]\n";

// What the parent's children of the current test ended with, in order.
std::vector<ChildOutcome>& earlierOutcomes()
{
    static std::vector<ChildOutcome> outcomes;
    return outcomes;
}

int childIndexInTest()
{
    static std::string test;
    static int index = 0;
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : std::string();
    if (name != test) {
        test = name;
        index = 0;
        earlierOutcomes().clear();
    }
    return ++index;
}

// The parent's earlier outcomes go to the child in a file, one per line, so
// that its replay meets the same results and takes the same path to its own.
QByteArray encoded(const ChildOutcome& o)
{
    return QByteArray::number(o.exited) + ' ' + QByteArray::number(o.exitCode) + ' ' +
           QByteArray::number(o.signal) + ' ' + QByteArray::number(o.timedOut) + ' ' +
           QByteArray::number(o.seconds) + ' ' + o.out.toUtf8().toBase64() + ' ' + o.err.toUtf8().toBase64();
}

std::optional<ChildOutcome> parentsOutcome(int index)
{
    static const QList<QByteArray> lines = [] {
        QFile file(QString::fromLocal8Bit(qgetenv(kEarlierVariable)));
        return file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>();
    }();
    if (index < 1 || index > lines.size())
        return std::nullopt;
    const QList<QByteArray> f = lines[index - 1].split(' ');
    if (f.size() != 7)
        return std::nullopt;
    ChildOutcome o;
    o.exited = f[0].toInt() != 0;
    o.exitCode = f[1].toInt();
    o.signal = f[2].toInt();
    o.timedOut = f[3].toInt() != 0;
    o.seconds = f[4].toDouble();
    o.out = QString::fromUtf8(QByteArray::fromBase64(f[5]));
    o.err = QString::fromUtf8(QByteArray::fromBase64(f[6]));
    return o;
}

// What the child printed from its body on: its replay's lines are not its own.
QString fromBodyOn(QString text)
{
    const qsizetype at = text.indexOf(QLatin1String(kBodyStarts));
    return at < 0 ? text : text.mid(at + qsizetype(sizeof kBodyStarts) - 1);
}

HANDLE inheritableFile(const QString& path)
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileW(QDir::toNativeSeparators(path).toStdWString().c_str(), GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

QString readAndRemove(const QString& path)
{
    QFile file(path);
    QString text;
    if (file.open(QIODevice::ReadOnly))
        text = QString::fromUtf8(file.readAll());
    file.close();
    QFile::remove(path);
    return text;
}

} // namespace

} // namespace reliability

void FixtureShare::publish()
{
    qputenv(variable(), handedDown());
}

namespace reliability
{

ChildOutcome runChild(const std::function<void()>& body, int timeoutMs)
{
    const int index = childIndexInTest();
    ChildOutcome outcome;
    const QByteArray wanted = qgetenv(kChildVariable);
    if (!wanted.isEmpty()) {
        if (wanted.toInt() != index) {
            if (const auto parents = parentsOutcome(index))
                return *parents;
            outcome.exited = true;
            outcome.exitCode = kNotRunInChild;
            return outcome;
        }
        std::fputs(kBodyStarts, stdout);
        std::fputs(kBodyStarts, stderr);
        std::fflush(stdout);
        std::fflush(stderr);
        endChildWith(body);
    }

    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const QString filter =
        QStringLiteral("--gtest_filter=%1.%2")
            .arg(QString::fromUtf8(info->test_suite_name()), QString::fromUtf8(info->name()));
    const QString base =
        QDir::tempPath() + QStringLiteral("/gst-child-%1-%2").arg(GetCurrentProcessId()).arg(index);
    const QString outPath = base + QStringLiteral(".out");
    const QString errPath = base + QStringLiteral(".err");
    const QString earlierPath = base + QStringLiteral(".earlier");
    {
        QFile earlier(earlierPath);
        if (earlier.open(QIODevice::WriteOnly))
            for (const ChildOutcome& o : earlierOutcomes())
                earlier.write(encoded(o) + '\n');
    }
    HANDLE out = inheritableFile(outPath);
    HANDLE err = inheritableFile(errPath);
    if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE) {
        outcome.err = QStringLiteral("cannot create the capture files");
        earlierOutcomes().push_back(outcome);
        return outcome;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    settleThreads();
    qputenv(kChildVariable, QByteArray::number(index));
    qputenv(kEarlierVariable, earlierPath.toLocal8Bit());
    std::wstring command = L"\"" +
                           QDir::toNativeSeparators(QCoreApplication::applicationFilePath()).toStdWString() +
                           L"\" \"" + filter.toStdWString() + L"\"";
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = out;
    start.hStdError = err;
    PROCESS_INFORMATION process{};
    QElapsedTimer clock;
    clock.start();
    const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &start, &process);
    qunsetenv(kChildVariable);
    qunsetenv(kEarlierVariable);
    CloseHandle(out);
    CloseHandle(err);
    if (!started) {
        outcome.err = QStringLiteral("the child could not be started");
        earlierOutcomes().push_back(outcome);
        return outcome;
    }
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutMs)) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 137);
        WaitForSingleObject(process.hProcess, INFINITE);
        outcome.timedOut = true;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    outcome.seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    // An unhandled exception ends a Windows process with its exception code.
    if (code >= 0xC0000000u) {
        outcome.signal = static_cast<int>(code & 0xFF);
    } else {
        outcome.exited = true;
        outcome.exitCode = static_cast<int>(code);
    }
    // The child's C runtime writes its lines with CR LF.
    outcome.out = fromBodyOn(readAndRemove(outPath).replace(QLatin1String("\r\n"), QLatin1String("\n")));
    outcome.err = fromBodyOn(readAndRemove(errPath).replace(QLatin1String("\r\n"), QLatin1String("\n")));
    QFile::remove(earlierPath);
    earlierOutcomes().push_back(outcome);
    return outcome;
}

} // namespace reliability
