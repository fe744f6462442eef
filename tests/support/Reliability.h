#pragma once

// Helpers of the reliability suite: child processes that may end the program,
// whole-database snapshots, the statements a run may send, and the corpus of
// hostile strings.

#include "support/TestDatabase.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <vector>

namespace reliability
{

// Exit code of a child whose body returned: the program did not end by itself.
constexpr int kChildReturned = 98;

// How a child process ended and what it printed.
struct ChildOutcome {
    bool exited = false;   // ended through exit/_Exit
    int exitCode = -1;     // when exited
    int signal = 0;        // when killed by a signal
    bool timedOut = false; // killed by the parent after the time limit
    QString out;           // stdout
    QString err;           // stderr
    double seconds = 0.0;

    // The "[msgbox] ..." lines, in order.
    QStringList boxes() const;
    QString lastBox() const;
    // "[result] key=value" lines the child wrote with report().
    QString result(const QString& key) const;
    // A value written with reportExact(): any text, control characters included.
    QString exactResult(const QString& key) const;
    // AddressSanitizer, UndefinedBehaviorSanitizer or a glibc abort message.
    bool sanitizerReport() const;
    // Ended by itself with one of the program's exit codes (0 to 3), no signal, no report.
    bool endedCleanly() const;
    QString describe() const;
};

// Runs `body` in a forked child with stdout and stderr captured. Message boxes
// stay scripted (the child inherits the parent's seam). A child still running
// after `timeoutMs` is killed.
ChildOutcome runChild(const std::function<void()>& body, int timeoutMs = 60000);

// Threads of the test's own (the TDS peer's) are brought to rest before a child
// starts: a child forked while one is inside the allocator waits forever for
// its lock. What starts such threads registers how to settle them; runChild
// calls them all.
void settleBeforeChildren(void (*settle)());
void settleThreads();

// In a Windows child replaying its test on the way to its own runChild: the
// earlier children were the parent's (runChild returns what they ended with),
// and so are the checks of what they did; a test's loop skips them.
bool replaying();

// In the child, on every system: runs `body` and ends the process (97 when an
// exception escaped it, kChildReturned when it returned).
[[noreturn]] void endChildWith(const std::function<void()>& body);

// In a child: one "[result] key=value" line on stdout (newlines escaped).
void report(const QString& key, const QString& value);
// The same for text that must come back exactly (sent as base64).
void reportExact(const QString& key, const QString& value);

// Every row of every table of a database, by table name, rows in rowid order.
// The first row of each table names its columns.
using TableRows = std::map<QString, DbRows>;
TableRows snapshotAll(TestDatabase& db, const QString& name);
TableRows snapshotFile(const QString& filePath);

// What changed between two snapshots, one line per table, beyond what is
// allowed: nothing, or with `newSlabAllowed` the one record 5019 added to a
// vatmaster that lacked it. Empty when nothing else changed.
QStringList unexpectedChanges(const TableRows& before, const TableRows& after, bool newSlabAllowed);

// Replaces database `to` of `db` with a copy of database `from`: much quicker
// than building each case's database from the schema.
void copyDatabase(TestDatabase& db, const QString& from, const QString& to);
// An SQLite identifier: "name" with '"' doubled.
QString sqliteIdentifier(const QString& name);
// The program's "[msgbox] ..." line for a box, as the scripted seam prints it.
QString boxLine(const QString& icon, const QString& title, const QString& text);
// The refusal a run meets when products of its line are on the new slab already.
QString productsRefusalBox();

// A table that no run may touch; canaryIntact() checks it is still there, whole.
QString canarySql();
bool canaryIntact(TestDatabase& db, const QString& name);

// Writes every statement the program sends to `file`, one per line (base64),
// from now on in this process; statementsFrom reads them back.
void traceStatementsTo(const QString& file);
QStringList statementsFrom(const QString& file);
// Statements that are none of the program's own statement shapes. Attribute
// value tables must be written as `quotedTables` (quoted identifiers); empty
// accepts any quoted identifier.
QStringList foreignStatements(const QStringList& statements, const QStringList& quotedTables = {});

// A string meant to break a statement, a window or a message.
struct Hostile {
    QString label; // printable name for failure messages
    QString text;
};
// At least fifty: quotes, comment markers, statement separators, UNION,
// brackets, ODBC escapes and parameter markers, very long text, control
// characters, non-Latin text. No NUL: SQLite text cannot hold one.
std::vector<Hostile> hostileCorpus();
// The same with a few that hold NUL, for text typed or pasted into a field.
std::vector<Hostile> hostileCorpusWithNul();

// A regular expression matching `text` literally.
QString regexLiteral(const QString& text);

} // namespace reliability
