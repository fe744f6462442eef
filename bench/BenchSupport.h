#pragma once

// What the benchmarks share: a machine-wide clock, medians, shop databases
// written with the sqlite3 C library, child processes with pipes, and the
// row-by-row comparison of two database files.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace bench
{

// CLOCK_MONOTONIC in nanoseconds: one clock for every process of the machine,
// so a child's timestamp and the parent's can be subtracted.
std::int64_t nowNs();

double median(std::vector<double> values);

// The whole text of a file; throws std::runtime_error when it cannot be read.
QString readTextFile(const QString& path);

// Runs statements on a SQLite file through the C library (never ODBC).
// Throws std::runtime_error with SQLite's message.
void execSql(const QString& path, const QString& sql);
// First column of the first row as text; empty when there is no row.
QString scalarText(const QString& path, const QString& sql);

// The line of business the benchmark converts and its GST attribute.
struct BenchLob {
    QString name;
    int lobId = 0;
    bool productWise = false;
    QString attribute; // empty for a product-wise line
};
BenchLob benchLob(const QString& name);

// A shop database of `products` products (db/schema.sql plus data). About half
// of the products and half of the Fabric value table (a tenth as many rows)
// belong to the attribute-wise line "Apparel" on slab 5010; the rest are on
// other slabs and other lines of business. Tax record 5019 already exists. The
// rows are spread by a fixed hash, so every run builds the same file.
void createShopDatabase(const QString& path, const QString& schemaSql, int products);

// <configHome>/talvex/login.ini naming the SQLite folder, readable by the owner only.
void writeLoginSettings(const QString& configHome, const QString& sqliteFolder);

// Row-by-row comparison of one table in two files: column types and bytes.
struct TableDiff {
    long long rowsA = 0;
    long long rowsB = 0;
    long long differingRows = 0;
    QString firstDifference; // empty when none
};
TableDiff compareTable(const QString& pathA, const QString& pathB, const QString& table);

// A child process; pipes the parent reads or writes are -1 when not asked for.
struct Child {
    pid_t pid = -1;
    int stdinFd = -1;  // parent's write end of the child's stdin
    int stdoutFd = -1; // parent's read end of the child's stdout
    int stderrFd = -1; // parent's read end of the child's stderr
    int reportFd = -1; // parent's read end of the child's descriptor 3
};
struct SpawnOptions {
    bool pipeStdin = false;
    bool pipeStdout = false;
    bool pipeStderr = false;
    bool pipeReport = false;
    // Added to (or replacing) the parent's environment.
    std::vector<std::pair<std::string, std::string>> environment;
};
// fork and exec; the parent must not be running Qt threads (no QApplication).
Child spawn(const std::vector<std::string>& argv, const SpawnOptions& options);

struct ExitInfo {
    int exitCode = -1; // -1 when killed by a signal
    long maxRssKiB = 0;
    std::int64_t endNs = 0; // when wait returned
};
ExitInfo waitChild(pid_t pid);

// Reads lines from a descriptor, blocking; false at end of input.
class LineReader
{
public:
    explicit LineReader(int fd) : m_fd(fd) {}
    bool readLine(std::string& line);

private:
    int m_fd;
    std::string m_buffer;
};

// Writes all of `text`; throws std::runtime_error on failure.
void writeAll(int fd, const std::string& text);

// The folder of the running executable.
QString executableFolder();

} // namespace bench
