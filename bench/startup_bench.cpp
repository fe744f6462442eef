// Start-up benchmark: from process start until the login window is on screen,
// on a single-firm shop database, against a Qt program that shows one empty
// dialog (and the same dialog with one label).
//
// First on a real X server: an Xvfb of the benchmark's own with a window
// manager (evilwm, when installed), the programs on Qt's xcb platform. The
// times run from just before fork to the X events the benchmark's own
// connection receives: MapNotify of the program's window, and the first
// drawing into it (a DAMAGE event). Then on the offscreen platform, where the
// time runs to the probe's report after the window's first paint.
// Peak resident memory is the child's ru_maxrss.
//
//   gst_bench_startup [--runs 9] [--work <folder>] [--detail] [--wm <command>|--no-wm]
//                     [--platforms xcb,offscreen]
#include "BenchSupport.h"
#include "XWatch.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <unistd.h>

namespace
{

[[noreturn]] void fail(const std::string& why)
{
    std::cerr << "gst_bench_startup: " << why << std::endl;
    std::exit(1);
}

// On a loaded machine the program can map its window or draw into it before
// the benchmark's request to watch that new window reaches the server; such a
// run is repeated.
struct MissedDrawing {
};
int gRepeatedRuns = 0;

struct StartRun {
    double ms = 0;        // fork to the probe's report: window painted (offscreen) or sent (xcb)
    double mainMs = 0;    // fork to main entry
    double mappedMs = 0;  // fork to MapNotify (xcb)
    double paintedMs = 0; // fork to the first drawing the X server received (xcb)
    double rssMiB = 0;
    std::vector<std::pair<std::string, double>> stages; // fork to each point, in order
};

StartRun runOnce(const std::vector<std::string>& command, const QString& workFolder, bench::XServer* x)
{
    bench::SpawnOptions options;
    options.pipeReport = true;
    options.pipeStderr = true;
    options.environment = {{"QT_QPA_PLATFORM", x ? "xcb" : "offscreen"},
                           {"XDG_CONFIG_HOME", (workFolder + QStringLiteral("/config")).toStdString()},
                           {"XDG_RUNTIME_DIR", (workFolder + QStringLiteral("/runtime")).toStdString()}};
    if (x)
        options.environment.emplace_back("DISPLAY", x->display());
    std::int64_t shown = 0, mainEntry = 0;
    std::vector<std::pair<std::string, std::int64_t>> stages;
    const auto onLine = [&](const std::string& line) {
        if (line.rfind("shown ", 0) == 0) {
            shown = std::stoll(line.substr(6));
        } else if (line.rfind("main ", 0) == 0) {
            mainEntry = std::stoll(line.substr(5));
        } else if (line.rfind("stage ", 0) == 0) {
            const size_t space = line.find(' ', 6);
            stages.emplace_back(line.substr(space + 1), std::stoll(line.substr(6, space - 6)));
        }
    };
    const std::int64_t start = bench::nowNs();
    const bench::Child child = bench::spawn(command, options);
    bench::XServer::Outcome outcome;
    std::string line;
    if (x) {
        outcome = x->follow(child.pid, child.reportFd, onLine, 60000);
    } else {
        bench::LineReader report(child.reportFd);
        while (report.readLine(line))
            onLine(line);
    }
    close(child.reportFd);
    bench::LineReader errors(child.stderrFd);
    std::string log;
    while (errors.readLine(line))
        log += line + "\n";
    close(child.stderrFd);
    const bench::ExitInfo exit = bench::waitChild(child.pid);
    if (x && shown != 0 && exit.exitCode == 0 && (!outcome.mappedNs || !outcome.paintedNs))
        throw MissedDrawing();
    // Thrown, not ended here, so that the X server and window manager are stopped on the way out.
    if (shown == 0 || exit.exitCode != 0 || (x && (!outcome.mappedNs || !outcome.paintedNs)))
        throw std::runtime_error(command.front() + " did not show its window (exit code " +
                                 std::to_string(exit.exitCode) +
                                 (x && !outcome.mappedNs ? ", no MapNotify" : "") +
                                 (x && !outcome.paintedNs ? ", no drawing" : "") + "):\n" + log);
    const auto ms = [start](std::int64_t ns) { return static_cast<double>(ns - start) / 1e6; };
    StartRun run;
    run.ms = ms(shown);
    run.mainMs = ms(mainEntry);
    if (x) {
        run.mappedMs = ms(outcome.mappedNs);
        run.paintedMs = ms(outcome.paintedNs);
    }
    run.rssMiB = static_cast<double>(exit.maxRssKiB) / 1024.0;
    for (const auto& [name, ns] : stages)
        run.stages.emplace_back(name, ms(ns));
    return run;
}

struct Program {
    const char* label = "";
    std::vector<std::string> command;
    std::vector<double> ms, mainMs, mappedMs, paintedMs, rss;
    std::vector<std::pair<std::string, std::vector<double>>> stages;
};

// Run 0 of each program fills the file cache and is not counted; the order
// turns round from run to run.
void measure(std::vector<Program>& programs, int runs, const QString& work, bench::XServer* x)
{
    for (int r = 0; r <= runs; ++r) {
        for (size_t k = 0; k < programs.size(); ++k) {
            Program& p = programs[(k + static_cast<size_t>(r)) % programs.size()];
            StartRun run;
            for (int attempt = 1;; ++attempt) {
                try {
                    run = runOnce(p.command, work, x);
                    break;
                } catch (const MissedDrawing&) {
                    if (attempt == 10)
                        throw std::runtime_error(p.command.front() +
                                                 ": its map or first drawing was missed ten times in a row");
                    ++gRepeatedRuns;
                }
            }
            if (r == 0)
                continue;
            p.ms.push_back(run.ms);
            p.mainMs.push_back(run.mainMs);
            p.mappedMs.push_back(run.mappedMs);
            p.paintedMs.push_back(run.paintedMs);
            p.rss.push_back(run.rssMiB);
            for (size_t i = 0; i < run.stages.size(); ++i) {
                if (p.stages.size() <= i)
                    p.stages.emplace_back(run.stages[i].first, std::vector<double>());
                p.stages[i].second.push_back(run.stages[i].second);
            }
        }
    }
}

void printDetail(const std::vector<Program>& programs, bool onX)
{
    for (const Program& p : programs) {
        std::printf("%s, median ms from the start of the process:\n", p.label);
        std::printf("    %8.2f  main\n", bench::median(p.mainMs));
        for (const auto& [name, values] : p.stages)
            std::printf("    %8.2f  %s\n", bench::median(values), name.c_str());
        if (onX) {
            std::printf("    %8.2f  window mapped (MapNotify)\n", bench::median(p.mappedMs));
            std::printf("    %8.2f  first drawing received by the X server\n", bench::median(p.paintedMs));
            std::printf("    %8.2f  window painted and sent (probe)\n", bench::median(p.ms));
        } else {
            std::printf("    %8.2f  window painted\n", bench::median(p.ms));
        }
        std::printf("    all runs, %s:", onX ? "mapped" : "painted");
        for (double v : onX ? p.mappedMs : p.ms)
            std::printf(" %.1f", v);
        std::printf("\n");
    }
}

void printRatios(const std::vector<Program>& programs, const std::vector<double> Program::*times)
{
    const double ut = bench::median(programs[0].*times);
    const double ur = bench::median(programs[0].rss);
    for (size_t i = 1; i < programs.size(); ++i)
        std::printf("utility against the %s: time ratio %.3f, memory difference %+.2f MiB\n",
                    i == 1 ? "empty dialog" : "dialog with one label", ut / bench::median(programs[i].*times),
                    ur - bench::median(programs[i].rss));
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 9;
    bool detail = false;
    std::string wm = "evilwm";
    bool onX = true, offscreen = true;
    QString work = QDir::currentPath() + QStringLiteral("/bench-work");
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--detail")
            detail = true;
        else if (a == "--work" && i + 1 < argc)
            work = QString::fromLocal8Bit(argv[++i]);
        else if (a == "--wm" && i + 1 < argc)
            wm = argv[++i];
        else if (a == "--no-wm")
            wm.clear();
        else if (a == "--platforms" && i + 1 < argc) {
            const std::string list = argv[++i];
            onX = list.find("xcb") != std::string::npos;
            offscreen = list.find("offscreen") != std::string::npos;
        } else
            fail("unknown argument " + a);
    }
    try {
        work = QDir(work).absolutePath() + QStringLiteral("/startup");
        const QString shop = work + QStringLiteral("/shop");
        QDir().mkpath(shop);
        QDir().mkpath(work + QStringLiteral("/runtime"));
        QFile::setPermissions(work + QStringLiteral("/runtime"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        // The demo's own database, with MultiDB off: one firm, straight to the login window.
        const QString db = shop + QStringLiteral("/talvex.db");
        QFile::remove(db);
        bench::execSql(db, bench::readTextFile(QStringLiteral(GST_SOURCE_DIR "/db/schema.sql")));
        bench::execSql(db, bench::readTextFile(QStringLiteral(GST_SOURCE_DIR "/db/demo/talvex.sql")));
        bench::execSql(db, QStringLiteral("update Options2 set Value=0 where Name='MultiDB'"));
        bench::writeLoginSettings(work + QStringLiteral("/config"), shop);

        const QString folder = bench::executableFolder();
        const std::string minimal = (folder + QStringLiteral("/gst_minimal_dialog")).toStdString();
        const auto fresh = [&] {
            std::vector<Program> programs(3);
            programs[0].label = "utility (login window)";
            programs[0].command = {(folder + QStringLiteral("/gst_startup_probe")).toStdString()};
            programs[1].label = "minimal Qt program (empty dialog)";
            programs[1].command = {minimal};
            programs[2].label = "dialog with one label (for scale)";
            programs[2].command = {minimal, "--with-text"};
            return programs;
        };

        if (onX) {
            std::vector<Program> programs = fresh();
            {
                bench::XServer x(wm);
                std::printf("Start-up on a real X server (Xvfb %s, 1280x1024x24, window manager: %s), "
                            "xcb platform, medians of %d runs\n",
                            x.display().c_str(),
                            x.windowManager().empty() ? "none" : x.windowManager().c_str(), runs);
                std::fflush(stdout);
                measure(programs, runs, work, &x);
            }
            std::printf("%-36s %10s %12s %15s %14s\n", "", "mapped, ms", "drawn, ms", "main entry, ms",
                        "peak RSS, MiB");
            for (const Program& p : programs)
                std::printf("%-36s %10.2f %12.2f %15.2f %14.2f\n", p.label, bench::median(p.mappedMs),
                            bench::median(p.paintedMs), bench::median(p.mainMs), bench::median(p.rss));
            if (detail)
                printDetail(programs, true);
            std::printf("runs repeated because the map or the first drawing came before the watch: %d\n",
                        gRepeatedRuns);
            std::printf("to the window mapped:\n");
            printRatios(programs, &Program::mappedMs);
            std::printf("to its first drawing:\n");
            printRatios(programs, &Program::paintedMs);
            std::printf("\n");
        }
        if (offscreen) {
            std::vector<Program> programs = fresh();
            measure(programs, runs, work, nullptr);
            std::printf("Start-up to the first window painted (offscreen platform), medians of %d runs\n",
                        runs);
            std::printf("%-36s %10s %15s %14s\n", "", "shown, ms", "main entry, ms", "peak RSS, MiB");
            for (const Program& p : programs)
                std::printf("%-36s %10.2f %15.2f %14.2f\n", p.label, bench::median(p.ms),
                            bench::median(p.mainMs), bench::median(p.rss));
            if (detail)
                printDetail(programs, false);
            printRatios(programs, &Program::ms);
        }
    } catch (const std::exception& e) {
        fail(e.what());
    }
    return 0;
}
