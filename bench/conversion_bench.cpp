// Conversion benchmark: the OK button of the conversion window against the
// sqlite3 shell running the same statements, on identical copies of shop
// databases of growing size.
//
//   gst_bench_conversion [--sizes 10000,100000,1000000] [--runs 21] [--large-runs 9]
//                        [--lob Apparel|Grocery] [--work <folder>] [--keep] [--detail]
//
// The utility runs in a child process (this program again, "--child"), since
// "Done" ends the program. Its time runs from the click on OK (the child's
// clock) to the moment the parent reads the "Done" box from the child's
// message-box log. The shell's time runs from the moment the parent writes the
// statements to the shell (already started, database open, settings applied)
// to the moment it reads the answer of a marker query sent after COMMIT. Both
// clocks are CLOCK_MONOTONIC; each side includes one pipe hop.
#include "BenchSupport.h"

#include "app/ModMain.h"
#include "conversion/Form1.h"
#include "platform/Odbc.h"
#include "platform/ProgramEnd.h"
#include "state/ConnectionState.h"
#include "ui_Form1.h"
#include "widgets/Handler.h"
#include "widgets/MessageBox.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QStandardPaths>
#include <QTest>

#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <iostream>
#include <map>
#include <unistd.h>

namespace
{

using bench::nowNs;

constexpr const char* kDoneLine =
    "[msgbox] icon=none title=New GST converted from 'GST 5% (18% above Rs 500)' "
    "to 'GST 5% (18% above Rs 1000)' text=Done";

// ---------------------------------------------------------------- the child

bool waitUntil(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 5000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void sendMouse(QWidget* target, QEvent::Type type, const QPoint& at)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
    QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

[[noreturn]] void childFails(const char* what)
{
    std::fprintf(stderr, "[bench] failed: %s\n", what);
    gst::endProgram(90);
}

QString pragma(const char* name)
{
    auto rs = gConnection->query(QStringLiteral("PRAGMA ") + QLatin1String(name));
    const QString value = rs->next() ? rs->value(0).toText() : QString();
    rs->close();
    return value;
}

// Signs in no one: starts where the login window hands over, with the
// conversion window opened on the shop database, then acts as the operator.
int childMain(int argc, char** argv)
{
    QApplication app(argc, argv);
    gst::msgbox_seam::setScripted(true);
    gst::msgbox_seam::queueAnswer(gst::MsgAnswer::Yes);
    const QString catalog = QString::fromLocal8Bit(argv[2]);
    const QString lob = QString::fromLocal8Bit(argv[3]);

    gDatabaseName = catalog;
    ConnectDatabase();
    // The settings the driver left in effect, for the shell to use the same.
    for (const char* name : {"synchronous", "journal_mode", "cache_size"})
        std::fprintf(stderr, "[bench] pragma %s=%s\n", name, pragma(name).toUtf8().constData());

    Form1* window = nullptr;
    gst::guarded([&] { window = Form1::openConversionWindow(); });
    if (!window)
        childFails("the conversion window did not open");
    QApplication::setActiveWindow(window);
    waitUntil([&] { return QApplication::activeWindow() == window; });

    // The operator opens the list and clicks the line of business.
    QComboBox* combo = window->ui()->Combo1;
    const int row = combo->findText(lob);
    if (row < 0)
        childFails("the line of business is not listed");
    combo->showPopup();
    QAbstractItemView* view = combo->view();
    if (!waitUntil([&] { return view->isVisible(); }))
        childFails("the list did not open");
    const QModelIndex index = view->model()->index(row, combo->modelColumn());
    view->scrollTo(index);
    const QPoint at = view->visualRect(index).center();
    sendMouse(view->viewport(), QEvent::MouseMove, at);
    sendMouse(view->viewport(), QEvent::MouseButtonPress, at);
    sendMouse(view->viewport(), QEvent::MouseButtonRelease, at);
    waitUntil([&] { return !view->isVisible(); });
    if (!window->ui()->Command1->isEnabled())
        childFails("choosing the line of business did not enable OK");

    // ... ticks "I Agree" with the space bar ...
    window->ui()->Check1->setFocus(Qt::TabFocusReason);
    QTest::keyClick(window->ui()->Check1, Qt::Key_Space);
    if (!window->ui()->Check1->isChecked())
        childFails("\"I Agree\" is not ticked");

    gst::Connection::setTraceHook([](const QString& sql) {
        QString line = sql;
        line.replace(QLatin1String("\r\n"), QLatin1String("\\r\\n"));
        std::fprintf(stderr, "[trace] %lld %s\n", static_cast<long long>(nowNs()), line.toUtf8().constData());
    });

    // ... and clicks OK; "Yes" is queued. "Done" ends the process.
    std::fprintf(stderr, "[bench] click %lld\n", static_cast<long long>(nowNs()));
    QTest::mouseClick(window->ui()->Command1, Qt::LeftButton);
    childFails("the conversion returned instead of ending the program");
}

// ---------------------------------------------------------------- the parent

struct Options {
    std::vector<int> sizes{10000, 100000, 1000000};
    int runs = 21;
    int largeRuns = 9; // for sizes of 1,000,000 and more
    QString lob = QStringLiteral("Apparel");
    QString work;
    bool keep = false;   // keep the generated databases
    bool detail = false; // every run's time, and each statement of the median utility run
};

// What the utility is meant to send from the click on, in order.
QStringList expectedStatements(const bench::BenchLob& lob)
{
    const QString id = QString::number(lob.lobId);
    QStringList s{
        QStringLiteral("Select ProductWiseVat From LobMaster Where LobId=") + id,
        QStringLiteral("select count(*) from vatmaster where vatid = 5019 "),
        QStringLiteral("select vatid from vatmaster where vatid = 5019"),
    };
    const QString table = QStringLiteral("[") + lob.attribute + QStringLiteral("Master]");
    if (lob.productWise)
        s << QStringLiteral("Select Count(*) from Products Where LobId=") + id +
                 QStringLiteral(" And vatid=5019");
    else
        s << QStringLiteral("select count(*) from ") + table + QStringLiteral(" where lobid=") + id +
                 QStringLiteral(" and vatid=5019");
    s << QStringLiteral("BEGIN TRANSACTION");
    if (!lob.productWise)
        s << QStringLiteral("update ") + table +
                 QStringLiteral(" set vatid=5019,VatPer=5,GSTID=5019  where lobid=") + id +
                 QStringLiteral(" and vatid=5010");
    s << QStringLiteral("update products set vatid=5019 ,VatPer=5 where lobid=") + id +
             QStringLiteral(" and vatid=5010");
    s << QStringLiteral("COMMIT");
    return s;
}

struct UtilityRun {
    double ms = 0;
    std::map<std::string, std::string> pragmas;
    QStringList statements;
    std::vector<std::int64_t> stamps; // of each statement
    std::int64_t clickNs = 0;
    std::int64_t doneNs = 0;
    long maxRssKiB = 0;
};

[[noreturn]] void fail(const std::string& why)
{
    std::cerr << "gst_bench_conversion: " << why << std::endl;
    std::exit(1);
}

UtilityRun runUtility(const QString& self, const QString& configHome, const QString& catalog,
                      const QString& lob)
{
    // Qt wants a private runtime folder; without one it warns on every start.
    const QString runtimeDir = configHome + QStringLiteral("/../runtime");
    QDir().mkpath(runtimeDir);
    QFile::setPermissions(runtimeDir,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    bench::SpawnOptions options;
    options.pipeStderr = true;
    options.environment = {{"QT_QPA_PLATFORM", "offscreen"},
                           {"XDG_CONFIG_HOME", configHome.toStdString()},
                           // run records stay in the bench's own folder
                           {"XDG_DATA_HOME", (configHome + QStringLiteral("/../data")).toStdString()},
                           {"XDG_RUNTIME_DIR", runtimeDir.toStdString()}};
    const bench::Child child =
        bench::spawn({self.toStdString(), "--child", catalog.toStdString(), lob.toStdString()}, options);
    bench::LineReader reader(child.stderrFd);
    UtilityRun run;
    std::string line;
    std::string log;
    bool sawOther = false;
    while (reader.readLine(line)) {
        if (line == kDoneLine) {
            run.doneNs = nowNs();
        } else if (line.rfind("[trace] ", 0) == 0) {
            const size_t space = line.find(' ', 8);
            run.stamps.push_back(std::stoll(line.substr(8, space - 8)));
            QString sql = QString::fromStdString(line.substr(space + 1));
            sql.replace(QLatin1String("\\r\\n"), QLatin1String("\r\n"));
            run.statements << sql;
        } else if (line.rfind("[bench] click ", 0) == 0) {
            run.clickNs = std::stoll(line.substr(14));
        } else if (line.rfind("[bench] pragma ", 0) == 0) {
            const std::string kv = line.substr(15);
            run.pragmas[kv.substr(0, kv.find('='))] = kv.substr(kv.find('=') + 1);
        } else {
            // The confirmation box is expected; anything else is kept for the report.
            if (line.find("text=Are you sure? This process is NOT Reversible!") == std::string::npos &&
                line.rfind("QStandardPaths", 0) != 0)
                sawOther = sawOther || line.rfind("[", 0) == 0;
            log += line + "\n";
        }
    }
    close(child.stderrFd);
    const bench::ExitInfo exit = bench::waitChild(child.pid);
    run.maxRssKiB = exit.maxRssKiB;
    if (exit.exitCode != 0 || run.doneNs == 0 || run.clickNs == 0 || sawOther)
        fail("the utility's run did not end with \"Done\" (exit code " + std::to_string(exit.exitCode) +
             "):\n" + log);
    run.ms = static_cast<double>(run.doneNs - run.clickNs) / 1e6;
    return run;
}

struct ShellRun {
    double ms = 0;
};

ShellRun runShell(const QString& shell, const QString& dbPath, const QStringList& statements,
                  const std::map<std::string, std::string>& pragmas)
{
    bench::SpawnOptions options;
    options.pipeStdin = true;
    options.pipeStdout = true;
    // No ~/.sqliterc; stop at the first error.
    const bench::Child child = bench::spawn(
        {shell.toStdString(), "-init", "/dev/null", "-batch", "-bail", dbPath.toStdString()}, options);
    bench::LineReader reader(child.stdoutFd);
    std::string line;

    // Untimed: the same settings as the utility's connection, and a first read
    // of the schema, as the conversion window's loading did on the utility's side.
    std::string setup;
    for (const auto& [name, value] : pragmas)
        setup += "PRAGMA " + name + "=" + value + ";\n";
    setup += "select count(*) from lobmaster;\nselect 'READY';\n";
    bench::writeAll(child.stdinFd, setup);
    while (reader.readLine(line) && line != "READY") {
    }
    if (line != "READY")
        fail("the sqlite3 shell did not start");

    std::string script;
    for (const QString& s : statements)
        script += s.toStdString() + ";\n";
    script += "select 'DONE';\n";
    ShellRun run;
    const std::int64_t start = nowNs();
    bench::writeAll(child.stdinFd, script);
    bool done = false;
    while (reader.readLine(line)) {
        if (line == "DONE") {
            run.ms = static_cast<double>(nowNs() - start) / 1e6;
            done = true;
            break;
        }
    }
    close(child.stdinFd);
    while (reader.readLine(line)) {
    }
    close(child.stdoutFd);
    const bench::ExitInfo exit = bench::waitChild(child.pid);
    if (!done || exit.exitCode != 0)
        fail("the sqlite3 shell failed on the statements (exit code " + std::to_string(exit.exitCode) + ")");
    return run;
}

void copyDatabase(const QString& from, const QString& to)
{
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        QFile::remove(to + QLatin1String(suffix));
    if (!QFile::copy(from, to))
        fail("cannot copy " + from.toStdString() + " to " + to.toStdString());
    // Written through to the disk before the run: otherwise the commit's sync
    // would also flush whatever part of the copy the kernel still holds.
    const int fd = open(QFile::encodeName(to).constData(), O_RDONLY);
    if (fd < 0 || fsync(fd) != 0)
        fail("cannot sync " + to.toStdString());
    close(fd);
}

// Both copies must hold the same bytes in every row of the tables the
// conversion writes, and differ from the original in exactly the rows of the
// line of business on the old slab.
// Returns the changed rows per table, e.g. "Products 500123, FabricMaster 49876".
QString checkCopies(const QString& master, const QString& util, const QString& shell,
                    const bench::BenchLob& lob)
{
    QStringList counts;
    QStringList tables{QStringLiteral("Products")};
    if (!lob.productWise)
        tables << lob.attribute + QStringLiteral("Master");
    for (const QString& table : tables) {
        const bench::TableDiff same = bench::compareTable(util, shell, table);
        if (same.differingRows != 0 || same.rowsA != same.rowsB)
            fail("the utility's and the shell's copies differ: " + same.firstDifference.toStdString());
        const long long expected =
            bench::scalarText(master,
                              QStringLiteral("select count(*) from \"%1\" where lobid=%2 and vatid=5010")
                                  .arg(table)
                                  .arg(lob.lobId))
                .toLongLong();
        const bench::TableDiff changed = bench::compareTable(master, util, table);
        if (changed.differingRows != expected || expected == 0)
            fail(QStringLiteral("%1: %2 rows changed, %3 expected")
                     .arg(table)
                     .arg(changed.differingRows)
                     .arg(expected)
                     .toStdString());
        counts << QStringLiteral("%1 %2").arg(table).arg(expected);
    }
    return counts.join(QStringLiteral(", "));
}

std::vector<int> parseSizes(const QString& text)
{
    std::vector<int> sizes;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int n = part.trimmed().toInt(&ok);
        if (!ok || n < 10)
            fail("bad size: " + part.toStdString());
        sizes.push_back(n);
    }
    return sizes;
}

Options parseOptions(int argc, char** argv)
{
    Options o;
    o.work = QDir::currentPath() + QStringLiteral("/bench-work");
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> QString {
            if (i + 1 >= argc)
                fail("missing value after " + a);
            return QString::fromLocal8Bit(argv[++i]);
        };
        if (a == "--sizes")
            o.sizes = parseSizes(next());
        else if (a == "--runs")
            o.runs = std::max(1, next().toInt());
        else if (a == "--large-runs")
            o.largeRuns = std::max(1, next().toInt());
        else if (a == "--lob")
            o.lob = next();
        else if (a == "--work")
            o.work = next();
        else if (a == "--keep")
            o.keep = true;
        else if (a == "--detail")
            o.detail = true;
        else
            fail("unknown argument " + a);
    }
    return o;
}

int parentMain(int argc, char** argv)
{
    const Options options = parseOptions(argc, argv);
    const bench::BenchLob lob = bench::benchLob(options.lob);
    const QString self = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (shell.isEmpty())
        fail("the sqlite3 command-line shell was not found (Debian package sqlite3)");
    const QString schema = bench::readTextFile(QStringLiteral(GST_SOURCE_DIR "/db/schema.sql"));
    const QString work = QDir(options.work).absolutePath();
    const QString utilFolder = work + QStringLiteral("/utility");
    const QString shellFolder = work + QStringLiteral("/shell");
    const QString configHome = work + QStringLiteral("/config");
    for (const QString& f : {work, utilFolder, shellFolder})
        QDir().mkpath(f);
    bench::writeLoginSettings(configHome, utilFolder);
    const QString catalog = QStringLiteral("shop");
    const QString utilDb = utilFolder + QStringLiteral("/shop.db");
    const QString shellDb = shellFolder + QStringLiteral("/shop.db");
    const QStringList expected = expectedStatements(lob);
    std::map<std::string, std::string> usedPragmas;

    std::printf(
        "Conversion of line of business '%s' (%s), utility (OK button through ODBC) against the sqlite3 "
        "shell\n",
        qPrintable(lob.name), lob.productWise ? "product-wise" : "attribute-wise");
    std::printf("%10s %5s %14s %14s %8s   %s\n", "products", "runs", "utility ms", "shell ms", "ratio",
                "utility: reads / updates / commit+Done, ms");
    std::fflush(stdout);

    for (const int size : options.sizes) {
        const QString master = work + QStringLiteral("/master_%1.db").arg(size);
        bench::createShopDatabase(master, schema, size);
        const int runs = size >= 1000000 ? options.largeRuns : options.runs;

        std::vector<double> utilityMs, shellMs;
        std::vector<UtilityRun> utilityRuns;
        QString changedRows;
        std::map<std::string, std::string> pragmas;
        // Run 0 warms the page cache and learns the driver's settings; it is not counted.
        for (int r = 0; r <= runs; ++r) {
            copyDatabase(master, utilDb);
            copyDatabase(master, shellDb);
            UtilityRun u;
            ShellRun s;
            // Alternate which side goes first, so neither always meets a warmer machine.
            if (r == 0 || r % 2 == 1) {
                u = runUtility(self, configHome, catalog, lob.name);
                if (r == 0)
                    pragmas = usedPragmas = u.pragmas;
                s = runShell(shell, shellDb, expected, pragmas);
            } else {
                s = runShell(shell, shellDb, expected, pragmas);
                u = runUtility(self, configHome, catalog, lob.name);
            }
            if (u.statements != expected)
                fail("the utility sent other statements than the shell runs:\n  " +
                     u.statements.join(QStringLiteral("\n  ")).toStdString());
            changedRows = checkCopies(master, utilDb, shellDb, lob);
            if (r == 0)
                continue;
            utilityMs.push_back(u.ms);
            shellMs.push_back(s.ms);
            utilityRuns.push_back(u);
        }
        const double um = bench::median(utilityMs);
        const double sm = bench::median(shellMs);

        // Where the utility's median run spent its time.
        const UtilityRun* mid = &utilityRuns.front();
        for (const UtilityRun& u : utilityRuns)
            if (std::abs(u.ms - um) < std::abs(mid->ms - um))
                mid = &u;
        const int begin = static_cast<int>(expected.indexOf(QStringLiteral("BEGIN TRANSACTION")));
        const int commit = static_cast<int>(expected.indexOf(QStringLiteral("COMMIT")));
        const double reads =
            static_cast<double>(mid->stamps[static_cast<size_t>(begin)] - mid->clickNs) / 1e6;
        const double updates = static_cast<double>(mid->stamps[static_cast<size_t>(commit)] -
                                                   mid->stamps[static_cast<size_t>(begin)]) /
                               1e6;
        const double tail = static_cast<double>(mid->doneNs - mid->stamps[static_cast<size_t>(commit)]) / 1e6;
        std::printf("%10d %5d %14.2f %14.2f %8.3f   %.2f / %.2f / %.2f\n", size, runs, um, sm, um / sm, reads,
                    updates, tail);
        std::printf("%10s rows changed: %s; the two copies identical row by row after every run\n", "",
                    qPrintable(changedRows));
        if (options.detail) {
            for (size_t i = 0; i < mid->stamps.size(); ++i) {
                const std::int64_t end = i + 1 < mid->stamps.size() ? mid->stamps[i + 1] : mid->doneNs;
                std::printf("    %9.3f ms  %s\n", static_cast<double>(end - mid->stamps[i]) / 1e6,
                            qPrintable(mid->statements[static_cast<int>(i)].left(70)));
            }
            std::printf("    utility runs:");
            for (double v : utilityMs)
                std::printf(" %.1f", v);
            std::printf("\n    shell runs:  ");
            for (double v : shellMs)
                std::printf(" %.1f", v);
            std::printf("\n");
        }
        std::fflush(stdout);
        if (!options.keep)
            QFile::remove(master);
    }
    std::printf(
        "Both sides ran with PRAGMA synchronous=%s, journal_mode=%s, cache_size=%s (the ODBC driver's "
        "settings, applied to the shell).\n",
        usedPragmas["synchronous"].c_str(), usedPragmas["journal_mode"].c_str(),
        usedPragmas["cache_size"].c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--child")
        return childMain(argc, argv);
    try {
        return parentMain(argc, argv);
    } catch (const std::exception& e) {
        fail(e.what());
    }
}
