#pragma once

// The suite's and the benchmarks' one way to the SQLite C library: handles
// that close themselves, and failures thrown as std::runtime_error with
// SQLite's message.

#include <QFile>
#include <QString>
#include <memory>
#include <sqlite3.h>
#include <stdexcept>
#include <string>

namespace sqlitefile
{

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;

struct StmtFinalizer {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

inline Db open(const QString& path, int flags)
{
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, flags, nullptr);
    Db db(raw);
    if (rc != SQLITE_OK)
        throw std::runtime_error("cannot open " + path.toStdString() + ": " +
                                 (raw ? sqlite3_errmsg(raw) : "out of memory"));
    return db;
}

// Anything but success, a row or the end of the rows fails.
inline void check(sqlite3* db, int rc, const std::string& what)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw std::runtime_error(what + ": " + sqlite3_errmsg(db));
}

inline Stmt prepare(sqlite3* db, const char* sql)
{
    sqlite3_stmt* s = nullptr;
    check(db, sqlite3_prepare_v2(db, sql, -1, &s, nullptr), sql);
    return Stmt(s);
}

// Runs a script of statements; `what` names it in the failure.
inline void exec(sqlite3* db, const QString& sql, const QString& what)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        throw std::runtime_error(what.toStdString() + " failed: " + text);
    }
}

} // namespace sqlitefile
