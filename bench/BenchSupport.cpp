#include "BenchSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "support/SqliteFile.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bench
{

namespace
{

using sqlitefile::check;
using sqlitefile::Db;
using sqlitefile::prepare;
using sqlitefile::Stmt;

Db openDb(const QString& path, int flags)
{
    return sqlitefile::open(path, flags);
}

void execOn(sqlite3* db, const QString& sql)
{
    sqlitefile::exec(db, sql, QStringLiteral("the benchmark's SQL"));
}

// A fixed, well-mixed hash (splitmix64), so row placement looks random but
// every build of a size is the same.
std::uint64_t mix(std::uint64_t x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

struct Placement {
    int lobId;
    int vatId;
    double vatPer;
    int gstId;
};

// Half the rows are the converted line on the old slab; the rest are that
// line on other slabs, or other lines (also on the old slab) that must stay.
Placement placeProduct(std::uint64_t h)
{
    const int r = static_cast<int>(h % 100);
    if (r < 50)
        return {2, 5010, (h >> 8) % 4 == 0 ? 12.5 : 5.0, 0};
    if (r < 62)
        return {2, 5003, 5.0, 0};
    if (r < 70)
        return {2, 5005, 18.0, 0};
    if (r < 82)
        return {1, 5010, 5.0, 0};
    if (r < 90)
        return {3, 5010, 5.0, 0};
    return {4, (h >> 8) % 2 ? 5005 : 5010, 18.0, 0};
}

Placement placeAttributeValue(std::uint64_t h)
{
    const int r = static_cast<int>(h % 100);
    if (r < 50)
        return {2, 5010, 5.0, (h >> 8) % 3 == 0 ? 0 : 5010};
    if (r < 65)
        return {2, (h >> 8) % 2 ? 5003 : 5005, 18.0, 5005};
    if (r < 85)
        return {3, 5010, 5.0, 5010};
    return {1, 5010, 5.0, 5010};
}

const char* const kShopMasters = R"sql(
insert into options (billdate) values ('2019-04-01 00:00:00');
insert into Options2 (Name, Value) values ('MultiDB', 0);
insert into lobmaster (lobid, name, productwisevat) values
    (1, 'Grocery', 1), (2, 'Apparel', 0), (3, 'Footwear', 0), (4, 'Stationery', 1);
insert into attributemaster (attributeid, name) values (1, 'Fabric'), (2, 'Colour'), (3, 'Size');
insert into lobattribute (lobid, attributeid, vatable) values (2, 1, 1), (2, 2, 0), (3, 3, 1), (3, 2, 0);
insert into vatmaster (VATID, VATName, VATPer, SortIndex, MarginVat, Sendable, RegionalName, EnabledForCST,
                       RDExempt, CessBasedOn, CessPer, CessAmtPerUnit, SGSTPer, CGSTPer, IGSTPer, UTGSTPer,
                       SlabApplicable, SlabQuery, Disabled, RateQuery, caption) values
    (5003, 'GST 5%', 5.0000, 3, 0, 1, '', 0, 0, 0, 0, 0, 2.50, 2.50, 5, 2.50, 0, '', 0, '', ''),
    (5005, 'GST 18%', 18.0000, 5, 0, 1, '', 0, 0, 0, 0, 0, 9, 9, 18, 9, 0, '', 0, '', ''),
    (5010, 'GST 5% (18% above Rs 500)', 5.0000, 10, 0, 1, '', 0, 0, 0, 0, 0, 2.50, 2.50, 5, 2.50, 1,
     'select (case @additional when 1 then (case when @rate>500 then 5005 else 5003 end) when 0 then (case when @rate>590 then 5005 else 5003 end) end)',
     0, '', ''),
    (5019, 'GST 5% (18% above Rs 1000)', 5.0000, 5019, 0, 1, '', 0, 0, 1, 0, 0, 2.50, 2.50, 5, 2.50, 1,
     'select (case @additional when 1 then (case when @rate>1000 then 5005 else 5003 end) when 0 then (case when @rate>1180 then 5005 else 5003 end) end)',
     0, 'select (case when @rate>1050 and @rate<=1120 then 1050  else @rate end)', '');
create table FabricMaster (Id integer primary key, Name varchar(100), lobid smallint, vatid smallint,
                           VatPer decimal(18,2), GSTID smallint);
create table ColourMaster (Id integer primary key, Name varchar(100), lobid smallint, vatid smallint,
                           VatPer decimal(18,2), GSTID smallint);
create table SizeMaster (Id integer primary key, Name varchar(100), lobid smallint, vatid smallint,
                         VatPer decimal(18,2), GSTID smallint);
insert into ColourMaster values (1, 'White', 2, 0, 0, 0), (2, 'Black', 2, 5010, 5, 5010),
                                (3, 'Blue', 3, 5010, 5, 5010);
insert into SizeMaster values (1, 'Small', 3, 5010, 5, 5010), (2, 'Large', 3, 5005, 18, 5005);
)sql";

} // namespace

std::int64_t nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

QString readTextFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return QString::fromUtf8(file.readAll());
}

void execSql(const QString& path, const QString& sql)
{
    Db db = openDb(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    execOn(db.get(), sql);
}

QString scalarText(const QString& path, const QString& sql)
{
    Db db = openDb(path, SQLITE_OPEN_READONLY);
    Stmt s = prepare(db.get(), sql.toUtf8().constData());
    const int rc = sqlite3_step(s.get());
    check(db.get(), rc, "scalar");
    if (rc != SQLITE_ROW)
        return QString();
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0)));
}

BenchLob benchLob(const QString& name)
{
    if (name == QLatin1String("Apparel"))
        return {name, 2, false, QStringLiteral("Fabric")};
    if (name == QLatin1String("Grocery"))
        return {name, 1, true, QString()};
    throw std::runtime_error("the benchmark converts Apparel or Grocery, not " + name.toStdString());
}

void createShopDatabase(const QString& path, const QString& schemaSql, int products)
{
    QFile::remove(path);
    Db db = openDb(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    sqlite3* d = db.get();
    // Building only: no journal and no syncing. The file is complete when closed.
    execOn(d, QStringLiteral("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"));
    execOn(d, schemaSql);
    execOn(d, QStringLiteral("BEGIN"));
    execOn(d, QString::fromUtf8(kShopMasters));

    Stmt product =
        prepare(d, "insert into Products (ProductId, Name, LobId, vatid, VatPer) values (?, ?, ?, ?, ?)");
    char name[64];
    for (int i = 1; i <= products; ++i) {
        const Placement p = placeProduct(mix(static_cast<std::uint64_t>(i)));
        std::snprintf(name, sizeof name, "Item %07d", i);
        sqlite3_bind_int(product.get(), 1, i);
        sqlite3_bind_text(product.get(), 2, name, -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(product.get(), 3, p.lobId);
        sqlite3_bind_int(product.get(), 4, p.vatId);
        sqlite3_bind_double(product.get(), 5, p.vatPer);
        check(d, sqlite3_step(product.get()), "insert product");
        sqlite3_reset(product.get());
    }

    Stmt value = prepare(d, "insert into FabricMaster (Id, Name, lobid, vatid, VatPer, GSTID) "
                            "values (?, ?, ?, ?, ?, ?)");
    for (int i = 1; i <= products / 10; ++i) {
        const Placement p = placeAttributeValue(mix(0x5eed0000ULL + static_cast<std::uint64_t>(i)));
        std::snprintf(name, sizeof name, "Fabric %06d", i);
        sqlite3_bind_int(value.get(), 1, i);
        sqlite3_bind_text(value.get(), 2, name, -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(value.get(), 3, p.lobId);
        sqlite3_bind_int(value.get(), 4, p.vatId);
        sqlite3_bind_double(value.get(), 5, p.vatPer);
        sqlite3_bind_int(value.get(), 6, p.gstId);
        check(d, sqlite3_step(value.get()), "insert attribute value");
        sqlite3_reset(value.get());
    }
    execOn(d, QStringLiteral("COMMIT"));
    // The copies the benchmark converts use SQLite's usual rollback journal.
    execOn(d, QStringLiteral("PRAGMA journal_mode=DELETE;"));
}

void writeLoginSettings(const QString& configHome, const QString& sqliteFolder)
{
    const QString folder = configHome + QStringLiteral("/talvex");
    QDir().mkpath(folder);
    QFile file(folder + QStringLiteral("/login.ini"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write " + file.fileName().toStdString());
    file.write(QStringLiteral("ServerName=%1\npwd=bench\nDriver=SQLite3\n").arg(sqliteFolder).toUtf8());
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

TableDiff compareTable(const QString& pathA, const QString& pathB, const QString& table)
{
    Db a = openDb(pathA, SQLITE_OPEN_READONLY);
    Db b = openDb(pathB, SQLITE_OPEN_READONLY);
    QString quoted = table;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    const QByteArray sql = QStringLiteral("select * from \"%1\" order by rowid").arg(quoted).toUtf8();
    Stmt sa = prepare(a.get(), sql.constData());
    Stmt sb = prepare(b.get(), sql.constData());
    TableDiff diff;
    for (;;) {
        const int ra = sqlite3_step(sa.get());
        const int rb = sqlite3_step(sb.get());
        check(a.get(), ra, "compare");
        check(b.get(), rb, "compare");
        if (ra == SQLITE_ROW)
            ++diff.rowsA;
        if (rb == SQLITE_ROW)
            ++diff.rowsB;
        if (ra != SQLITE_ROW || rb != SQLITE_ROW) {
            // One file has rows the other lacks: drain to count them.
            while (ra == SQLITE_ROW && sqlite3_step(sa.get()) == SQLITE_ROW)
                ++diff.rowsA;
            while (rb == SQLITE_ROW && sqlite3_step(sb.get()) == SQLITE_ROW)
                ++diff.rowsB;
            break;
        }
        const int columns = sqlite3_column_count(sa.get());
        bool same = columns == sqlite3_column_count(sb.get());
        int column = 0;
        for (; same && column < columns; ++column) {
            const int type = sqlite3_column_type(sa.get(), column);
            if (type != sqlite3_column_type(sb.get(), column)) {
                same = false;
                break;
            }
            // Blob access gives the stored bytes of text and blobs alike;
            // numbers compare by value, which for SQLite's types is exact.
            if (type == SQLITE_INTEGER)
                same = sqlite3_column_int64(sa.get(), column) == sqlite3_column_int64(sb.get(), column);
            else if (type == SQLITE_FLOAT) {
                const double x = sqlite3_column_double(sa.get(), column);
                const double y = sqlite3_column_double(sb.get(), column);
                same = std::memcmp(&x, &y, sizeof x) == 0;
            } else if (type != SQLITE_NULL) {
                const void* pa = sqlite3_column_blob(sa.get(), column);
                const int na = sqlite3_column_bytes(sa.get(), column);
                const void* pb = sqlite3_column_blob(sb.get(), column);
                const int nb = sqlite3_column_bytes(sb.get(), column);
                same = na == nb && (na == 0 || std::memcmp(pa, pb, static_cast<size_t>(na)) == 0);
            }
            if (!same)
                break;
        }
        if (!same) {
            if (diff.differingRows == 0)
                diff.firstDifference =
                    QStringLiteral("%1 row %2, column %3: %4 / %5")
                        .arg(table)
                        .arg(diff.rowsA)
                        .arg(column + 1)
                        .arg(QString::fromUtf8(
                                 reinterpret_cast<const char*>(sqlite3_column_text(sa.get(), column))),
                             QString::fromUtf8(
                                 reinterpret_cast<const char*>(sqlite3_column_text(sb.get(), column))));
            ++diff.differingRows;
        }
    }
    if (diff.rowsA != diff.rowsB && diff.firstDifference.isEmpty())
        diff.firstDifference =
            QStringLiteral("%1: %2 rows against %3").arg(table).arg(diff.rowsA).arg(diff.rowsB);
    return diff;
}

Child spawn(const std::vector<std::string>& argv, const SpawnOptions& options)
{
    // Everything the child needs is built before fork: only async-signal-safe
    // calls run between fork and exec.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const std::string key = entry.substr(0, entry.find('='));
        const bool replaced = std::any_of(options.environment.begin(), options.environment.end(),
                                          [&](const auto& kv) { return kv.first == key; });
        if (!replaced)
            env.push_back(entry);
    }
    for (const auto& [key, value] : options.environment)
        env.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& a : args)
        argp.push_back(a.data());
    argp.push_back(nullptr);

    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1}, rep[2] = {-1, -1};
    auto makePipe = [](bool wanted, int fds[2]) {
        if (wanted && pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    };
    makePipe(options.pipeStdin, in);
    makePipe(options.pipeStdout, out);
    makePipe(options.pipeStderr, err);
    makePipe(options.pipeReport, rep);

    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        // dup2 clears close-on-exec on the copies.
        if (in[0] >= 0)
            dup2(in[0], 0);
        if (out[1] >= 0)
            dup2(out[1], 1);
        if (err[1] >= 0)
            dup2(err[1], 2);
        if (rep[1] >= 0)
            dup2(rep[1], 3);
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    Child child;
    child.pid = pid;
    auto keep = [](int fds[2], int parentEnd, int& into) {
        if (fds[0] < 0)
            return;
        close(fds[1 - parentEnd]);
        into = fds[parentEnd];
    };
    keep(in, 1, child.stdinFd);
    keep(out, 0, child.stdoutFd);
    keep(err, 0, child.stderrFd);
    keep(rep, 0, child.reportFd);
    return child;
}

ExitInfo waitChild(pid_t pid)
{
    int status = 0;
    rusage usage{};
    pid_t got;
    do {
        got = wait4(pid, &status, 0, &usage);
    } while (got < 0 && errno == EINTR);
    ExitInfo info;
    info.endNs = nowNs();
    if (got != pid)
        throw std::runtime_error(std::string("wait: ") + std::strerror(errno));
    info.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    info.maxRssKiB = usage.ru_maxrss;
    return info;
}

bool LineReader::readLine(std::string& line)
{
    for (;;) {
        const size_t end = m_buffer.find('\n');
        if (end != std::string::npos) {
            line = m_buffer.substr(0, end);
            m_buffer.erase(0, end + 1);
            return true;
        }
        char chunk[4096];
        const ssize_t n = read(m_fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (m_buffer.empty())
                return false;
            line.swap(m_buffer);
            m_buffer.clear();
            return true;
        }
        m_buffer.append(chunk, static_cast<size_t>(n));
    }
}

void writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw std::runtime_error(std::string("write: ") + std::strerror(errno));
        done += static_cast<size_t>(n);
    }
}

QString executableFolder()
{
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
}

} // namespace bench
