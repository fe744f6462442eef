#include "support/FixtureShare.h"
#include "support/Reliability.h"
#include "support/TdsPeer.h"

#include <QElapsedTimer>
#include <QFile>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace reliability
{

namespace
{

QString readAndRemove(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    QString text;
    if (file.open(QIODevice::ReadOnly))
        text = QString::fromUtf8(file.readAll());
    file.close();
    std::remove(path.c_str());
    return text;
}

std::pair<int, std::string> tempFile(const char* stem)
{
    std::string pattern = std::string("/tmp/") + stem + "-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    return {fd, pattern};
}

} // namespace

ChildOutcome runChild(const std::function<void()>& body, int timeoutMs)
{
    auto [outFd, outPath] = tempFile("gst-child-out");
    auto [errFd, errPath] = tempFile("gst-child-err");
    ChildOutcome outcome;
    if (outFd < 0 || errFd < 0) {
        outcome.err = QStringLiteral("cannot create the capture files");
        return outcome;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    TdsPeer::settleAll();
    QElapsedTimer clock;
    clock.start();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outFd, STDOUT_FILENO);
        ::dup2(errFd, STDERR_FILENO);
        ::close(outFd);
        ::close(errFd);
        endChildWith(body);
    }
    ::close(outFd);
    ::close(errFd);
    if (pid < 0) {
        outcome.err = QStringLiteral("fork failed");
        return outcome;
    }
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (clock.elapsed() > timeoutMs) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            outcome.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    outcome.seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    if (WIFEXITED(status)) {
        outcome.exited = true;
        outcome.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
    }
    outcome.out = readAndRemove(outPath);
    outcome.err = readAndRemove(errPath);
    return outcome;
}

} // namespace reliability

// A forked child shares the parent's fixture as it stands.
void FixtureShare::publish() {}
