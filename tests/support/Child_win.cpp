#include "support/FixtureShare.h"
#include "support/Reliability.h"
#include "support/TdsPeer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>

// Windows has no fork: the child is this test program again, started with
// only the current test selected and told which of the test's children it is.
// It replays the test up to that child, runs the body there and ends; the
// children before it are not run again (they report kNotRunInChild). The
// fixture objects alive in the parent (folders, databases, login settings, the
// run log, TDS peers) are handed down, and the replay takes them over instead
// of setting them up again (support/FixtureShare.h): the child works on the
// parent's fixture, as a forked one does.

namespace reliability
{

namespace
{

constexpr char kChildVariable[] = "GST_TEST_CHILD";
constexpr int kNotRunInChild = 96;

int childIndexInTest()
{
    static std::string test;
    static int index = 0;
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : std::string();
    if (name != test) {
        test = name;
        index = 0;
    }
    return ++index;
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
            outcome.exited = true;
            outcome.exitCode = kNotRunInChild;
            return outcome;
        }
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
    HANDLE out = inheritableFile(outPath);
    HANDLE err = inheritableFile(errPath);
    if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE) {
        outcome.err = QStringLiteral("cannot create the capture files");
        return outcome;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    TdsPeer::settleAll();
    qputenv(kChildVariable, QByteArray::number(index));
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
    CloseHandle(out);
    CloseHandle(err);
    if (!started) {
        outcome.err = QStringLiteral("the child could not be started");
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
    outcome.out = readAndRemove(outPath).replace(QLatin1String("\r\n"), QLatin1String("\n"));
    outcome.err = readAndRemove(errPath).replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return outcome;
}

} // namespace reliability
