#include "support/FixtureShare.h"
#include "support/Reliability.h"

#include <QElapsedTimer>
#include <QFile>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <execinfo.h>
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

// A child past its time shows where it is before it is killed: a hang is
// then a stack in the test's output, not only a time.
void printStackAndEnd(int)
{
    void* frames[64];
    ::backtrace_symbols_fd(frames, ::backtrace(frames, 64), STDERR_FILENO);
    ::_exit(96);
}

QString kernelWait(pid_t pid)
{
    QFile wchan(QStringLiteral("/proc/%1/wchan").arg(pid));
    return wchan.open(QIODevice::ReadOnly) ? QString::fromLatin1(wchan.readAll()) : QString();
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
    settleThreads();
    QElapsedTimer clock;
    clock.start();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outFd, STDOUT_FILENO);
        ::dup2(errFd, STDERR_FILENO);
        ::close(outFd);
        ::close(errFd);
        void* frame = nullptr;
        ::backtrace(&frame, 1); // loads the unwinder now, not in the handler
        std::signal(SIGQUIT, printStackAndEnd);
        endChildWith(body);
    }
    ::close(outFd);
    ::close(errFd);
    if (pid < 0) {
        outcome.err = QStringLiteral("fork failed");
        return outcome;
    }
    int status = 0;
    QString waitingIn;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (clock.elapsed() > timeoutMs) {
            waitingIn = kernelWait(pid);
            ::kill(pid, SIGQUIT);
            for (int waited = 0; waited < 2000 && ::waitpid(pid, &status, WNOHANG) != pid; waited += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
    if (outcome.timedOut)
        outcome.err += QStringLiteral("\n[the child was waiting in the kernel at \"%1\"]").arg(waitingIn);
    return outcome;
}

} // namespace reliability

// A forked child shares the parent's fixture as it stands.
void FixtureShare::publish() {}
