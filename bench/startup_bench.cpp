// Start-up benchmark: from process start until the login window is on screen,
// on a single-firm shop database, against a Qt program that shows one empty
// dialog. Both run under the offscreen platform; the time runs from just
// before fork in this program to the probe's "shown" report, and the peak
// resident memory is the child's ru_maxrss at that point.
//
//   gst_bench_startup [--runs 21] [--work <folder>] [--detail]
#include "BenchSupport.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace
{

[[noreturn]] void fail(const std::string& why)
{
    std::cerr << "gst_bench_startup: " << why << std::endl;
    std::exit(1);
}

struct StartRun {
    double ms = 0;     // fork to window shown
    double mainMs = 0; // fork to main entry
    double rssMiB = 0;
    std::vector<std::pair<std::string, double>> stages; // fork to each point, in order
};

StartRun runOnce(const std::vector<std::string>& command, const QString& workFolder)
{
    bench::SpawnOptions options;
    options.pipeReport = true;
    options.pipeStderr = true;
    options.environment = {{"QT_QPA_PLATFORM", "offscreen"},
                           {"XDG_CONFIG_HOME", (workFolder + QStringLiteral("/config")).toStdString()},
                           {"XDG_RUNTIME_DIR", (workFolder + QStringLiteral("/runtime")).toStdString()}};
    const std::int64_t start = bench::nowNs();
    const bench::Child child = bench::spawn(command, options);
    bench::LineReader report(child.reportFd);
    std::string line;
    std::int64_t shown = 0, mainEntry = 0;
    std::vector<std::pair<std::string, std::int64_t>> stages;
    while (report.readLine(line)) {
        if (line.rfind("shown ", 0) == 0) {
            shown = std::stoll(line.substr(6));
        } else if (line.rfind("main ", 0) == 0) {
            mainEntry = std::stoll(line.substr(5));
        } else if (line.rfind("stage ", 0) == 0) {
            const size_t space = line.find(' ', 6);
            stages.emplace_back(line.substr(space + 1), std::stoll(line.substr(6, space - 6)));
        }
    }
    close(child.reportFd);
    bench::LineReader errors(child.stderrFd);
    std::string log;
    while (errors.readLine(line))
        log += line + "\n";
    close(child.stderrFd);
    const bench::ExitInfo exit = bench::waitChild(child.pid);
    if (shown == 0 || exit.exitCode != 0)
        fail(command.front() + " did not show its window (exit code " + std::to_string(exit.exitCode) +
             "):\n" + log);
    StartRun run;
    run.ms = static_cast<double>(shown - start) / 1e6;
    run.mainMs = static_cast<double>(mainEntry - start) / 1e6;
    run.rssMiB = static_cast<double>(exit.maxRssKiB) / 1024.0;
    for (const auto& [name, ns] : stages)
        run.stages.emplace_back(name, static_cast<double>(ns - start) / 1e6);
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 21;
    bool detail = false;
    QString work = QDir::currentPath() + QStringLiteral("/bench-work");
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--detail")
            detail = true;
        else if (a == "--work" && i + 1 < argc)
            work = QString::fromLocal8Bit(argv[++i]);
        else
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
        struct Program {
            const char* label = "";
            std::vector<std::string> command;
            std::vector<double> ms, mainMs, rss;
            std::vector<std::pair<std::string, std::vector<double>>> stages;
        };
        std::vector<Program> programs(3);
        programs[0].label = "utility (login window)";
        programs[0].command = {(folder + QStringLiteral("/gst_startup_probe")).toStdString()};
        programs[1].label = "minimal Qt program (empty dialog)";
        programs[1].command = {minimal};
        programs[2].label = "dialog with one label (for scale)";
        programs[2].command = {minimal, "--with-text"};
        // Run 0 of each fills the file cache and is not counted; the order
        // turns round from run to run.
        for (int r = 0; r <= runs; ++r) {
            for (size_t k = 0; k < programs.size(); ++k) {
                Program& p = programs[(k + static_cast<size_t>(r)) % programs.size()];
                const StartRun run = runOnce(p.command, work);
                if (r == 0)
                    continue;
                p.ms.push_back(run.ms);
                p.mainMs.push_back(run.mainMs);
                p.rss.push_back(run.rssMiB);
                for (size_t i = 0; i < run.stages.size(); ++i) {
                    if (p.stages.size() <= i)
                        p.stages.emplace_back(run.stages[i].first, std::vector<double>());
                    p.stages[i].second.push_back(run.stages[i].second);
                }
            }
        }
        std::printf("Start-up to the first window on screen (offscreen platform), medians of %d runs\n",
                    runs);
        std::printf("%-36s %10s %15s %14s\n", "", "shown, ms", "main entry, ms", "peak RSS, MiB");
        for (const Program& p : programs)
            std::printf("%-36s %10.2f %15.2f %14.2f\n", p.label, bench::median(p.ms), bench::median(p.mainMs),
                        bench::median(p.rss));
        if (detail) {
            for (const Program& p : programs) {
                std::printf("%s, median ms from the start of the process:\n", p.label);
                std::printf("    %8.2f  main\n", bench::median(p.mainMs));
                for (const auto& [name, values] : p.stages)
                    std::printf("    %8.2f  %s\n", bench::median(values), name.c_str());
                std::printf("    %8.2f  window painted\n", bench::median(p.ms));
            }
        }
        const double ut = bench::median(programs[0].ms), mt = bench::median(programs[1].ms);
        const double ur = bench::median(programs[0].rss), mr = bench::median(programs[1].rss);
        std::printf("utility against the empty dialog: time ratio %.3f, memory difference %+.2f MiB\n",
                    ut / mt, ur - mr);
        std::printf(
            "utility against the dialog with one label: time ratio %.3f, memory difference %+.2f MiB\n",
            ut / bench::median(programs[2].ms), ur - bench::median(programs[2].rss));
    } catch (const std::exception& e) {
        fail(e.what());
    }
    return 0;
}
