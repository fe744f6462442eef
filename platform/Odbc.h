#pragma once

#include "platform/ConnectionString.h"
#include "platform/Value.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace gst
{

// One diagnostic record of an ODBC call.
struct DiagRecord {
    QString sqlState;
    long nativeError = 0;
    QString message;
};

// The error number a failed ODBC call is reported with, chosen from every
// record (FreeTDS adds its own 08001 record with native code 0 after the
// server's own records, so the last record alone can mislead).
long classifyDiagnostics(const std::vector<DiagRecord>& records, bool connecting);
QString describeDiagnostics(const std::vector<DiagRecord>& records);

class ResultSet;

// Frees an ODBC handle of its kind (SQL_HANDLE_ENV, SQL_HANDLE_DBC or
// SQL_HANDLE_STMT) when its owner lets it go, on every path.
struct OdbcHandleReleaser {
    short type = 0;
    void operator()(void* handle) const;
};
using OdbcHandle = std::unique_ptr<void, OdbcHandleReleaser>;

// A statement parameter: values chosen by the operator go in bound, never pasted.
using Params = std::vector<QString>;

// One ODBC connection. ADO-like: the provider and its properties are set, then
// it is opened. Not copyable; released (and so closed) when destroyed.
class Connection
{
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // "SQLOLEDB" in any letter case: SQL Server through the ODBC driver set by setDriver.
    void setProvider(const QString& provider);
    // "Data Source", "Initial Catalog", "User ID", "Password".
    void setProperty(const QString& name, const QString& value);
    void setDriver(const QString& driver, const QString& options);
    const ConnectionTarget& target() const { return m_target; }

    void open();
    bool isOpen() const;
    // The driver identified at open(): SQLite takes its own quoting and statements.
    bool isSqlite() const { return m_target.kind == DriverKind::Sqlite; }

    // Runs a statement that returns no rows the caller reads. Returns the
    // rows it changed as the driver counts them (SQLRowCount), or -1 where the
    // driver does not know (SQL Server under SET NOCOUNT ON).
    qint64 execute(const QString& sql, const Params& params = {});
    // Opens a forward-only result set on a SELECT; read it to the end or close it
    // before the next statement on this connection.
    std::unique_ptr<ResultSet> query(const QString& sql, const Params& params = {});

    void beginTrans();
    void commitTrans();
    void rollbackTrans();
    bool inTransaction() const { return m_inTransaction; }

    // Statements (result sets) currently open on this connection.
    int openStatementCount() const { return static_cast<int>(m_resultSets.size()); }

    // Whether a table or view of this name exists, compared without regard to
    // letter case. Asks the driver's catalog (no SQL text is sent or traced);
    // the catalog statement is closed before returning.
    bool tableExists(const QString& name);

    // Records every statement text sent on any connection, in order, when set.
    // Off by default; only tests and benchmarks switch it on.
    using TraceHook = std::function<void(const QString& sql)>;
    static void setTraceHook(TraceHook hook);

    // Test-only: makes ending a transaction fail as a driver reports it, for
    // failures no test database provokes (a lost connection at COMMIT or
    // ROLLBACK). Off by default. Asked with "COMMIT" or "ROLLBACK" on every
    // connection; a fault fails the call before the driver is asked, or with
    // `afterDriver` once the driver has done it (its answer was lost).
    struct InjectedFault {
        DiagRecord record;
        bool afterDriver = false;
    };
    using FaultHook = std::function<std::optional<InjectedFault>(const QString& step)>;
    static void setFaultHook(FaultHook hook);

private:
    friend class ResultSet;
    OdbcHandle allocStatement();
    // Sends one statement with its parameters.
    OdbcHandle run(const QString& sql, const Params& params);
    void trace(const QString& sql) const;
    void endTransaction(bool commit);
    // Refuses an open connection that is not in the database it was asked for.
    void confirmDatabase();
    static bool serverHadRolledBack(const std::vector<DiagRecord>& records);
    void resyncAfterServerRollback(const std::vector<DiagRecord>& records);

    QString m_provider;
    ConnectionTarget m_target;
    OdbcHandle m_env;
    OdbcHandle m_dbc; // freed before the environment it belongs to
    bool m_open = false;
    bool m_inTransaction = false;
    bool m_commitFailed = false; // in this transaction; whether it landed is not known
    // Open result sets: closed with the connection, so that none outlives it.
    std::vector<ResultSet*> m_resultSets;
};

// A forward-only result set. Values keep their column's type.
class ResultSet
{
public:
    ~ResultSet();
    ResultSet(const ResultSet&) = delete;
    ResultSet& operator=(const ResultSet&) = delete;

    // Moves to the next row; false past the last one (and the statement is then closed).
    bool next();
    int columnCount() const { return static_cast<int>(m_columns.size()); }
    QString columnName(int index) const;
    // Value of the current row; columns may be read in any order.
    Value value(int index);
    Value value(const QString& columnName);
    // The raw bytes of a character column, read without any character
    // conversion. A column already read as text has no raw bytes left to read:
    // that raises an error instead of giving other bytes.
    QByteArray bytes(const QString& columnName);
    // Whether the column holds single-byte text (char, varchar, text), whose
    // characters the driver converts from the server's code page.
    bool isNarrowTextColumn(const QString& columnName) const;
    void close();
    bool isClosed() const { return m_stmt == nullptr; }

private:
    friend class Connection;
    struct Column {
        QString name;
        short sqlType = 0;
    };
    ResultSet(Connection* connection, OdbcHandle stmt);
    int indexOf(const QString& columnName) const;
    Value readColumn(int index);

    Connection* m_connection; // null once closed: the connection forgets it then
    OdbcHandle m_stmt;
    std::vector<Column> m_columns;
    std::vector<bool> m_fetched;
    std::vector<Value> m_cache;
    std::vector<std::optional<QByteArray>> m_bytes; // columns read by bytes()
};

} // namespace gst
