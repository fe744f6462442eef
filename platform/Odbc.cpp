#include "platform/Odbc.h"

#include "platform/Error.h"
#include "platform/Text.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h> // Windows' sql.h needs its types first
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <limits>

namespace gst
{

namespace
{

constexpr SQLULEN kLoginTimeoutSeconds = 15;

// Native error numbers the diagnostics are told apart by.
// SQL Server's:
constexpr long kCannotOpenDatabase = 4060; // the server is up but cannot open the database named
constexpr long kLoginRefused = 18456;      // the login was refused
constexpr long kNoTransactionOpen = 3903;  // a rollback found no transaction open
// FreeTDS's own failures of the link: read, write, end of file.
constexpr long kTdsReadFailed = 20004;
constexpr long kTdsWriteFailed = 20006;
constexpr long kTdsServerGone = 20017;

Connection::TraceHook& traceHook()
{
    static Connection::TraceHook hook;
    return hook;
}

Connection::FaultHook& faultHook()
{
    static Connection::FaultHook hook;
    return hook;
}

std::u16string toWide(const QString& s)
{
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<size_t>(s.size()));
}

SQLWCHAR* wideData(std::u16string& s)
{
    return reinterpret_cast<SQLWCHAR*>(s.data());
}

QString fromWide(const SQLWCHAR* data, SQLLEN chars)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(data), static_cast<qsizetype>(chars));
}

std::vector<DiagRecord> readDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle)
{
    std::vector<DiagRecord> records;
    if (!handle)
        return records;
    for (SQLSMALLINT i = 1; i < 64; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR message[2048] = {};
        SQLSMALLINT length = 0;
        const SQLRETURN rc =
            SQLGetDiagRecW(handleType, handle, i, state, &native, message,
                           static_cast<SQLSMALLINT>(sizeof(message) / sizeof(message[0])), &length);
        if (!SQL_SUCCEEDED(rc))
            break;
        DiagRecord r;
        r.sqlState = fromWide(state, 5);
        r.nativeError = native;
        const SQLLEN shown = std::min<SQLLEN>(length, sizeof(message) / sizeof(message[0]) - 1);
        r.message = fromWide(message, shown);
        records.push_back(r);
    }
    return records;
}

// The one way an ODBC failure becomes the program's error: numbered from every
// diagnostic record, described by their messages.
[[noreturn]] void raise(const std::vector<DiagRecord>& records, bool connecting = false)
{
    throw AppError(classifyDiagnostics(records, connecting), describeDiagnostics(records));
}

[[noreturn]] void raiseFromHandle(SQLSMALLINT handleType, SQLHANDLE handle, bool connecting = false)
{
    raise(readDiagnostics(handleType, handle), connecting);
}

// Variables that the libraries on the connection path read over what the
// program sets, before the first connection. FreeTDS: a dump file that records
// the password, another host, port or protocol version (TDS 5.0 sends the
// password in clear), configuration files that could do any of that. GnuTLS
// (FreeTDS's TLS on Debian) and OpenSSL (Microsoft's driver on Linux): a file
// that receives the session secrets, debug output that prints them, settings
// that weaken the ciphers or replace the trusted certificates, modules to load.
// unixODBC's own (ODBCSYSINI and the like) are left: they name the drivers.
void clearConnectionEnvironment()
{
    for (const char* name : {"TDSDUMP",
                             "TDSDUMPCONFIG",
                             "TDSHOST",
                             "TDSPORT",
                             "TDSVER",
                             "TDSQUERY",
                             "DSQUERY",
                             "FREETDS",
                             "FREETDSCONF",
                             "SYBASE",
                             "ASA_DATABASE",
                             "SSLKEYLOGFILE",
                             "GNUTLS_DEBUG_LEVEL",
                             "GNUTLS_SYSTEM_PRIORITY_FILE",
                             "GNUTLS_SKIP_FIPS_INTEGRITY_CHECKS",
                             "GNUTLS_SYSTEM_PRIORITY_FAIL_ON_INVALID",
                             "OPENSSL_CONF",
                             "OPENSSL_CONF_INCLUDE",
                             "OPENSSL_ENGINES",
                             "OPENSSL_MODULES",
                             "SSL_CERT_FILE",
                             "SSL_CERT_DIR"})
        qunsetenv(name);
}

bool isCharacterType(SQLSMALLINT t)
{
    return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR || t == SQL_WCHAR || t == SQL_WVARCHAR ||
           t == SQL_WLONGVARCHAR || t == -150 /* sql_variant */ || t == SQL_GUID;
}

bool isIntegerType(SQLSMALLINT t)
{
    return t == SQL_TINYINT || t == SQL_SMALLINT || t == SQL_INTEGER || t == SQL_BIGINT;
}

bool isDateTimeType(SQLSMALLINT t)
{
    return t == SQL_TYPE_TIMESTAMP || t == SQL_TYPE_DATE || t == SQL_TYPE_TIME || t == SQL_DATETIME ||
           t == SQL_TIMESTAMP || t == SQL_DATE || t == SQL_TIME || t == -154 /* time2 */ ||
           t == -155 /* datetimeoffset */;
}

bool isBinaryType(SQLSMALLINT t)
{
    return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY;
}

// Integers, then other numbers, else the text itself: for columns whose type the
// driver does not know (SQLite expressions).
Value inferFromText(const QString& text)
{
    const QString t = text.trimmed();
    bool ok = false;
    const qlonglong i = t.toLongLong(&ok);
    if (ok)
        return Value::integer(i);
    const double d = t.toDouble(&ok);
    if (ok && !t.isEmpty())
        return Value::real(d);
    return Value::text(text);
}

} // namespace

long classifyDiagnostics(const std::vector<DiagRecord>& records, bool connecting)
{
    bool databaseUnavailable = false;
    bool loginRefused = false;
    bool unreachable = false;
    for (const DiagRecord& r : records) {
        if (r.nativeError == kCannotOpenDatabase)
            databaseUnavailable = true;
        if (r.sqlState == QLatin1String("28000") || r.nativeError == kLoginRefused)
            loginRefused = true;
        if (r.sqlState.startsWith(QLatin1String("08")) || r.sqlState == QLatin1String("HYT00") ||
            r.sqlState == QLatin1String("HYT01") || r.sqlState.startsWith(QLatin1String("IM0")))
            unreachable = true;
        // A rollback on a lost connection reports only FreeTDS's own, as a warning state.
        if (r.nativeError == kTdsReadFailed || r.nativeError == kTdsWriteFailed ||
            r.nativeError == kTdsServerGone)
            unreachable = true;
    }
    if (databaseUnavailable)
        return err::kGenericFailure;
    if (loginRefused)
        return err::kLoginFailed;
    if (unreachable || connecting)
        return err::kGenericFailure;
    return err::kCommandError;
}

QString describeDiagnostics(const std::vector<DiagRecord>& records)
{
    QStringList lines;
    for (const DiagRecord& r : records) {
        if (!r.message.isEmpty() && !lines.contains(r.message))
            lines << r.message;
    }
    if (lines.isEmpty())
        return QStringLiteral("The database driver reported a failure without a description.");
    return lines.join(QLatin1Char('\n'));
}

// ---------------------------------------------------------------- Connection

Connection::Connection() = default;

Connection::~Connection()
{
    // Result sets still open are closed first: a handle of theirs would
    // otherwise outlive the connection it belongs to.
    while (!m_resultSets.empty())
        m_resultSets.back()->close();
    if (m_dbc) {
        const SQLHDBC dbc = static_cast<SQLHDBC>(m_dbc);
        if (m_open) {
            // ODBC refuses to disconnect inside a transaction (25000), which
            // would leave the handles, and the database's locks, behind.
            if (m_inTransaction) {
                SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
                SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON),
                                  0);
            }
            SQLDisconnect(dbc);
        }
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    }
    if (m_env)
        SQLFreeHandle(SQL_HANDLE_ENV, static_cast<SQLHENV>(m_env));
}

void Connection::setTraceHook(TraceHook hook)
{
    traceHook() = std::move(hook);
}

void Connection::setFaultHook(FaultHook hook)
{
    faultHook() = std::move(hook);
}

void Connection::trace(const QString& sql) const
{
    if (traceHook())
        traceHook()(sql);
}

void Connection::setProvider(const QString& provider)
{
    m_provider = provider;
}

void Connection::setProperty(const QString& name, const QString& value)
{
    if (name.compare(QLatin1String("Data Source"), Qt::CaseInsensitive) == 0)
        m_target.dataSource = value;
    else if (name.compare(QLatin1String("Initial Catalog"), Qt::CaseInsensitive) == 0)
        m_target.catalog = value;
    else if (name.compare(QLatin1String("User ID"), Qt::CaseInsensitive) == 0)
        m_target.userId = value;
    else if (name.compare(QLatin1String("Password"), Qt::CaseInsensitive) == 0)
        m_target.password = value;
    else
        throw AppError(err::kCommandError,
                       QStringLiteral("Item cannot be found in the collection corresponding "
                                      "to the requested name or ordinal: %1")
                           .arg(name));
}

void Connection::setDriver(const QString& driver, const QString& options)
{
    m_target.driver = driver;
    m_target.options = options;
}

bool Connection::isOpen() const
{
    return m_open;
}

void Connection::open()
{
    if (m_open)
        throw AppError(err::kCommandError,
                       QStringLiteral("Operation is not allowed when the object is open."));
    if (m_provider.compare(QLatin1String("SQLOLEDB"), Qt::CaseInsensitive) != 0)
        throw AppError(err::kGenericFailure,
                       QStringLiteral("Provider cannot be found. It may not be properly installed."));
    if (m_target.driver.isEmpty())
        throw AppError(err::kGenericFailure, QStringLiteral("No ODBC driver is named for the connection."));

    // What the driver is decides how the string is written; every value is
    // checked before anything reaches the driver manager.
    m_target.kind = identifyDriver(m_target.driver);
    if (m_target.kind == DriverKind::Missing)
        throw AppError(
            err::kGenericFailure,
            QStringLiteral("Data source name not found and no default driver specified: the ODBC "
                           "driver \"%1\" is not registered (odbcinst -q -d lists those that are).")
                .arg(m_target.driver));
    QString text = buildConnectionString(m_target);
    std::u16string cs = toWide(text);
    wipe(text);
    cs.push_back(u'\0');
    struct Wiper {
        std::u16string& s;
        ~Wiper() { std::fill(s.begin(), s.end(), u'\0'); }
    } wiper{cs};

    if (m_target.kind == DriverKind::Sqlite) {
        // A catalog is a file in the folder; it never names a path of its own and
        // a missing file is never created.
        const QString& catalog = m_target.catalog;
        if (catalog.isEmpty() || catalog.contains(QLatin1Char('/')) || catalog.contains(QLatin1Char('\\')) ||
            catalog.contains(QChar(0)) || !QFileInfo(sqliteDatabasePath(m_target)).isFile())
            throw AppError(err::kGenericFailure,
                           QStringLiteral("Cannot open database \"%1\": no such database.").arg(catalog));
    }

    if (!m_env) {
        // A pooled connection is matched by its string alone and handed back
        // without the attributes set before connecting, the catalog among them.
        // Windows' driver manager honours this; unixODBC 2.3 ignores it and
        // pools whenever odbcinst.ini says so, which confirmDatabase() catches.
        SQLSetEnvAttr(SQL_NULL_HANDLE, SQL_ATTR_CONNECTION_POOLING, reinterpret_cast<SQLPOINTER>(SQL_CP_OFF),
                      SQL_IS_UINTEGER);
        SQLHENV env = nullptr;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
            throw AppError(err::kGenericFailure,
                           QStringLiteral("The ODBC driver manager could not be loaded."));
        m_env = env;
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    }
    if (!m_dbc) {
        SQLHDBC dbc = nullptr;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, static_cast<SQLHENV>(m_env), &dbc)))
            raiseFromHandle(SQL_HANDLE_ENV, m_env, true);
        m_dbc = dbc;
        SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), 0);
    }

    clearConnectionEnvironment();
    // unixODBC's trace would record the connection string, masking the
    // password only up to its first ";".
    SQLHDBC dbc = static_cast<SQLHDBC>(m_dbc);
    SQLSetConnectAttr(dbc, SQL_ATTR_TRACE, reinterpret_cast<SQLPOINTER>(SQL_OPT_TRACE_OFF), 0);
    SQLULEN tracing = SQL_OPT_TRACE_OFF;
    if (SQL_SUCCEEDED(SQLGetConnectAttr(dbc, SQL_ATTR_TRACE, &tracing, 0, nullptr)) &&
        tracing != SQL_OPT_TRACE_OFF)
        throw AppError(
            err::kInvalidArgument,
            QStringLiteral("ODBC tracing is forced on (ForceTrace in odbcinst.ini), and the trace "
                           "would record the database password. Switch tracing off and start again."));

    if (catalogAsAttribute(m_target)) {
        // The database goes in as an attribute, outside the connection string:
        // FreeTDS and Microsoft's drivers open it at login.
        std::u16string catalog = toWide(m_target.catalog);
        catalog.push_back(u'\0');
        const SQLRETURN rc = SQLSetConnectAttrW(dbc, SQL_ATTR_CURRENT_CATALOG, wideData(catalog), SQL_NTS);
        if (!SQL_SUCCEEDED(rc))
            raiseFromHandle(SQL_HANDLE_DBC, m_dbc, true);
    }

    // NUL-terminated: a length could be cut to 16 bits on the way.
    const SQLRETURN rc =
        SQLDriverConnectW(dbc, nullptr, wideData(cs), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    // Our copies of the string are wiped on return; the password itself stays in
    // this connection's target, in gDbPassword and in the driver's own memory.
    if (!SQL_SUCCEEDED(rc)) {
        const std::vector<DiagRecord> records = readDiagnostics(SQL_HANDLE_DBC, m_dbc);
        // Microsoft's drivers check the certificate of an encrypted link; a
        // shop's server often has one it made itself.
        if (m_target.kind == DriverKind::Microsoft) {
            for (const DiagRecord& r : records) {
                if (r.message.contains(QLatin1String("certificate"), Qt::CaseInsensitive) ||
                    r.message.contains(QLatin1String("SSL Security error"), Qt::CaseInsensitive))
                    throw AppError(
                        err::kUntrustedCertificate,
                        QStringLiteral(
                            "%1\n\nThis workstation does not trust the server's certificate. If the "
                            "server uses a certificate of its own making, add "
                            "TrustServerCertificate=yes to Options in the login settings, or "
                            "install a certificate that this workstation trusts.")
                            .arg(describeDiagnostics(records)));
            }
        }
        raise(records, true);
    }
    // FreeTDS 1.3 answers success without connecting when it cannot read an
    // attribute (ApplicationIntent=x): the first statement would then crash it.
    SQLULEN dead = SQL_CD_FALSE;
    if (SQL_SUCCEEDED(SQLGetConnectAttr(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
        dead == SQL_CD_TRUE) {
        SQLDisconnect(dbc);
        throw AppError(err::kGenericFailure,
                       QStringLiteral("The ODBC driver reported a connection that it did not open. Check the "
                                      "Options of the login settings."));
    }
    m_open = true;
    confirmDatabase();
}

void Connection::confirmDatabase()
{
    const SQLHDBC dbc = static_cast<SQLHDBC>(m_dbc);
    QString reached;
    QString asked = m_target.catalog;
    if (m_target.kind == DriverKind::Sqlite) {
        // The file the driver opened as its main database.
        SQLHSTMT stmt = nullptr;
        if (SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) {
            std::u16string sql = toWide(QStringLiteral("PRAGMA database_list"));
            sql.push_back(u'\0');
            if (SQL_SUCCEEDED(SQLExecDirectW(stmt, wideData(sql), SQL_NTS))) {
                while (SQL_SUCCEEDED(SQLFetch(stmt))) {
                    SQLWCHAR text[4096] = {};
                    SQLLEN length = 0;
                    SQLGetData(stmt, 2, SQL_C_WCHAR, text, sizeof(text), &length);
                    if (length <= 0 || fromWide(text, length / 2) != QLatin1String("main"))
                        continue;
                    SQLGetData(stmt, 3, SQL_C_WCHAR, text, sizeof(text), &length);
                    if (length > 0 && static_cast<size_t>(length) < sizeof(text))
                        reached = QFileInfo(fromWide(text, length / 2)).canonicalFilePath();
                }
            }
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        }
        asked = QFileInfo(sqliteDatabasePath(m_target)).canonicalFilePath();
    } else {
        // The database the server last said the session is in.
        SQLWCHAR name[512] = {};
        SQLINTEGER length = 0;
        if (SQL_SUCCEEDED(SQLGetConnectAttrW(dbc, SQL_ATTR_CURRENT_CATALOG, name, sizeof(name), &length)) &&
            length >= 0 && static_cast<size_t>(length) < sizeof(name))
            reached = fromWide(name, length / 2);
    }
    if (!asked.isEmpty() && reached.compare(asked, Qt::CaseInsensitive) == 0)
        return;
    SQLDisconnect(dbc);
    m_open = false;
    throw AppError(
        err::kInvalidArgument,
        QStringLiteral("The connection for the database \"%1\" opened the database \"%2\" instead. "
                       "The ODBC driver manager may have handed back a pooled connection: switch "
                       "connection pooling off (Pooling=No in the [ODBC] section of odbcinst.ini) "
                       "and start again.")
            .arg(printable(m_target.catalog.left(128)), printable(reached.left(128))));
}

void* Connection::allocStatement()
{
    if (!m_open)
        throw AppError(err::kConnectionClosed,
                       QStringLiteral("The connection cannot be used to perform this "
                                      "operation. It is either closed or invalid in this "
                                      "context."));
    SQLHSTMT stmt = nullptr;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, static_cast<SQLHDBC>(m_dbc), &stmt)))
        raiseFromHandle(SQL_HANDLE_DBC, m_dbc, false);
    return stmt;
}

namespace
{

// Binds text parameters; the buffers must outlive the execution.
void bindParams(SQLHSTMT stmt, const Params& params, std::vector<std::u16string>& buffers,
                std::vector<SQLLEN>& lengths)
{
    buffers.clear();
    lengths.clear();
    buffers.reserve(params.size());
    lengths.reserve(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
        buffers.push_back(toWide(params[i]));
        buffers.back().push_back(u'\0');
        lengths.push_back(static_cast<SQLLEN>((buffers.back().size() - 1) * sizeof(SQLWCHAR)));
    }
    for (size_t i = 0; i < params.size(); ++i) {
        const SQLULEN columnSize = std::max<SQLULEN>(1, buffers[i].size() - 1);
        SQLBindParameter(stmt, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                         columnSize, 0, wideData(buffers[i]),
                         static_cast<SQLLEN>(buffers[i].size() * sizeof(SQLWCHAR)), &lengths[i]);
    }
}

} // namespace

namespace
{
// Frees a statement and raises the error its diagnostics describe.
[[noreturn]] void raiseAndFree(SQLHSTMT stmt)
{
    const std::vector<DiagRecord> records = readDiagnostics(SQL_HANDLE_STMT, stmt);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    raise(records);
}
} // namespace

void* Connection::run(const QString& sql, const Params& params)
{
    SQLHSTMT stmt = static_cast<SQLHSTMT>(allocStatement());
    trace(sql);
    std::vector<std::u16string> buffers;
    std::vector<SQLLEN> lengths;
    bindParams(stmt, params, buffers, lengths);
    std::u16string text = toWide(sql);
    if (text.size() > static_cast<size_t>(std::numeric_limits<SQLINTEGER>::max())) {
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        throw AppError(err::kCommandError, QStringLiteral("The statement is too long to send."));
    }
    const SQLRETURN rc = SQLExecDirectW(stmt, wideData(text), static_cast<SQLINTEGER>(text.size()));
    // An update that matches no row answers SQL_NO_DATA: not a failure.
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
        raiseAndFree(stmt);
    SQLFreeStmt(stmt, SQL_RESET_PARAMS);
    return stmt;
}

qint64 Connection::execute(const QString& sql, const Params& params)
{
    SQLHSTMT stmt = static_cast<SQLHSTMT>(run(sql, params));
    // The statement's own count, asked before the later results: once they
    // are walked to their end the driver has none to give.
    SQLLEN rows = -1;
    if (!SQL_SUCCEEDED(SQLRowCount(stmt, &rows)))
        rows = -1;
    // A procedure may report its error in a later result; walk them all.
    for (;;) {
        const SQLRETURN rc = SQLMoreResults(stmt);
        if (rc == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(rc))
            raiseAndFree(stmt);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return rows < 0 ? -1 : static_cast<qint64>(rows);
}

std::unique_ptr<ResultSet> Connection::query(const QString& sql, const Params& params)
{
    SQLHSTMT stmt = static_cast<SQLHSTMT>(run(sql, params));
    std::unique_ptr<ResultSet> rs(new ResultSet(this, stmt));
    m_resultSets.push_back(rs.get());
    return rs;
}

void Connection::beginTrans()
{
    if (!m_open)
        throw AppError(err::kConnectionClosed,
                       QStringLiteral("The connection cannot be used to perform this "
                                      "operation. It is either closed or invalid in this "
                                      "context."));
    if (m_inTransaction)
        throw AppError(err::kCommandError,
                       QStringLiteral("A transaction is already open on this connection."));
    trace(QStringLiteral("BEGIN TRANSACTION"));
    const SQLRETURN rc = SQLSetConnectAttr(static_cast<SQLHDBC>(m_dbc), SQL_ATTR_AUTOCOMMIT,
                                           reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
    if (!SQL_SUCCEEDED(rc))
        raiseFromHandle(SQL_HANDLE_DBC, m_dbc, false);
    m_inTransaction = true;
    m_commitFailed = false;
}

void Connection::commitTrans()
{
    if (!m_inTransaction)
        throw AppError(err::kCommandError, QStringLiteral("No transaction is active."));
    // A failed commit leaves the transaction open: the caller rolls back.
    endTransaction(true);
}

void Connection::rollbackTrans()
{
    if (!m_inTransaction)
        throw AppError(err::kCommandError, QStringLiteral("No transaction is active."));
    endTransaction(false);
}

void Connection::endTransaction(bool commit)
{
    const QString step = commit ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK");
    trace(step);
    std::optional<InjectedFault> fault;
    if (faultHook())
        fault = faultHook()(step);
    SQLRETURN rc = SQL_SUCCESS;
    if (!fault || fault->afterDriver)
        rc = SQLEndTran(SQL_HANDLE_DBC, static_cast<SQLHDBC>(m_dbc), commit ? SQL_COMMIT : SQL_ROLLBACK);
    if (fault) {
        m_commitFailed = m_commitFailed || commit;
        raise({fault->record});
    }
    // After a failed commit or rollback the transaction stays open, uncommitted,
    // for another rollback or for the end of the program, which discards it.
    if (!SQL_SUCCEEDED(rc)) {
        const std::vector<DiagRecord> records = readDiagnostics(SQL_HANDLE_DBC, m_dbc);
        // A commit whose answer is lost may have landed: a rollback then told
        // that nothing is open (3903) says nothing of the server's own rollback.
        const bool afterFailedCommit = m_commitFailed;
        m_commitFailed = m_commitFailed || commit;
        if (commit || afterFailedCommit || !serverHadRolledBack(records))
            raise(records);
        resyncAfterServerRollback(records);
        return;
    }
    m_inTransaction = false;
    m_commitFailed = false;
    // Switching autocommit back on ends whatever the driver still holds open
    // (the SQLite driver commits it, FreeTDS rolls back the transaction it
    // began after the commit); a driver that refuses is in a state not known.
    if (!SQL_SUCCEEDED(SQLSetConnectAttr(static_cast<SQLHDBC>(m_dbc), SQL_ATTR_AUTOCOMMIT,
                                         reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0)))
        raiseFromHandle(SQL_HANDLE_DBC, m_dbc, false);
}

bool Connection::serverHadRolledBack(const std::vector<DiagRecord>& records)
{
    // SQL Server rolls a deadlock victim's transaction back itself, and then
    // answers the driver's rollback with 3903: nothing is open there any more.
    for (const DiagRecord& r : records) {
        if (r.nativeError == kNoTransactionOpen)
            return true;
    }
    return false;
}

void Connection::resyncAfterServerRollback(const std::vector<DiagRecord>& records)
{
    // The driver still counts itself inside a transaction, and FreeTDS would
    // take the next switch to manual commit as already done, running a retry's
    // updates one by one. Open a transaction for the driver to end as it
    // switches autocommit back on, so that driver and server agree again.
    try {
        execute(QStringLiteral("BEGIN TRANSACTION"));
    } catch (const AppError&) {
        raise(records);
    }
    const SQLRETURN rc = SQLSetConnectAttr(static_cast<SQLHDBC>(m_dbc), SQL_ATTR_AUTOCOMMIT,
                                           reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
    if (!SQL_SUCCEEDED(rc))
        raise(records);
    m_inTransaction = false;
}

bool Connection::tableExists(const QString& name)
{
    // The catalog takes a name of at most 32767 characters (a 16-bit length);
    // no longer name can be asked about, nor name a table on SQL Server.
    constexpr int kLongestCatalogName = 32767;
    if (name.isEmpty() || name.size() > kLongestCatalogName)
        return false;
    SQLHSTMT stmt = static_cast<SQLHSTMT>(allocStatement());
    struct StatementGuard {
        SQLHSTMT stmt;
        ~StatementGuard()
        {
            SQLFreeStmt(stmt, SQL_CLOSE);
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        }
    } guard{stmt};

    // The catalog takes the name as a pattern: escape "_" and "%" where the
    // driver offers an escape, and compare the names it returns ourselves.
    QString pattern = name;
    SQLWCHAR escape[8] = {};
    SQLSMALLINT escapeBytes = 0;
    if (SQL_SUCCEEDED(SQLGetInfoW(static_cast<SQLHDBC>(m_dbc), SQL_SEARCH_PATTERN_ESCAPE, escape,
                                  sizeof(escape), &escapeBytes)) &&
        escapeBytes > 0) {
        const QString esc = fromWide(escape, std::min<SQLLEN>(escapeBytes / sizeof(SQLWCHAR), 7));
        if (!esc.isEmpty()) {
            pattern.replace(esc, esc + esc);
            pattern.replace(QLatin1String("_"), esc + QLatin1String("_"));
            pattern.replace(QLatin1String("%"), esc + QLatin1String("%"));
        }
    }
    std::u16string wide = toWide(pattern);
    if (wide.size() > static_cast<size_t>(kLongestCatalogName))
        return false;
    SQLRETURN rc = SQLTablesW(stmt, nullptr, 0, nullptr, 0, wideData(wide),
                              static_cast<SQLSMALLINT>(wide.size()), nullptr, 0);
    if (!SQL_SUCCEEDED(rc)) {
        raiseFromHandle(SQL_HANDLE_STMT, stmt);
    }
    // Every row is read, and the results after them, so that closing needs no cancel.
    bool found = false;
    for (;;) {
        rc = SQLFetch(stmt);
        if (rc == SQL_NO_DATA) {
            while (SQL_SUCCEEDED(SQLMoreResults(stmt))) {
            }
            return found;
        }
        if (!SQL_SUCCEEDED(rc)) {
            raiseFromHandle(SQL_HANDLE_STMT, stmt);
        }
        if (found)
            continue;
        SQLWCHAR tableName[1024] = {};
        SQLLEN indicator = 0;
        rc = SQLGetData(stmt, 3, SQL_C_WCHAR, tableName, sizeof(tableName), &indicator);
        if (!SQL_SUCCEEDED(rc) || indicator == SQL_NULL_DATA)
            continue;
        const SQLLEN capacity = static_cast<SQLLEN>(sizeof(tableName) / sizeof(tableName[0])) - 1;
        const SQLLEN chars = indicator == SQL_NO_TOTAL
                                 ? capacity
                                 : std::min(capacity, indicator / static_cast<SQLLEN>(sizeof(SQLWCHAR)));
        found = fromWide(tableName, chars).compare(name, Qt::CaseInsensitive) == 0;
    }
}

// ---------------------------------------------------------------- ResultSet

namespace
{
// Reads the rest of a statement's results, rows and further results alike,
// up to the end or the first failure.
void drain(SQLHSTMT stmt)
{
    do {
        while (SQL_SUCCEEDED(SQLFetch(stmt))) {
        }
    } while (SQL_SUCCEEDED(SQLMoreResults(stmt)));
}
} // namespace

ResultSet::ResultSet(Connection* connection, void* stmt) : m_connection(connection), m_stmt(stmt)
{
    SQLSMALLINT count = 0;
    SQLNumResultCols(static_cast<SQLHSTMT>(m_stmt), &count);
    for (SQLSMALLINT i = 1; i <= count; ++i) {
        SQLWCHAR name[256] = {};
        SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        SQLDescribeColW(static_cast<SQLHSTMT>(m_stmt), i, name, 255, &nameLength, &type, &size, &digits,
                        &nullable);
        Column c;
        c.name = fromWide(name, std::min<SQLSMALLINT>(nameLength, 255));
        c.sqlType = type;
        m_columns.push_back(c);
    }
}

ResultSet::~ResultSet()
{
    close();
}

void ResultSet::close()
{
    if (!m_stmt)
        return;
    SQLHSTMT stmt = static_cast<SQLHSTMT>(m_stmt);
    // FreeTDS cancels a statement closed before its results are read to the
    // end: an ATTENTION and a wait for the server's answer, a round trip.
    // What is left of a lookup's answer has already arrived; read it instead.
    drain(stmt);
    SQLCloseCursor(stmt);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    m_stmt = nullptr;
    if (m_connection) {
        auto& open = m_connection->m_resultSets;
        open.erase(std::remove(open.begin(), open.end(), this), open.end());
        m_connection = nullptr;
    }
}

QString ResultSet::columnName(int index) const
{
    if (index < 0 || index >= columnCount())
        throw AppError(err::kCommandError,
                       QStringLiteral("Item cannot be found in the collection corresponding to "
                                      "the requested name or ordinal."));
    return m_columns[static_cast<size_t>(index)].name;
}

bool ResultSet::next()
{
    if (!m_stmt)
        return false;
    const SQLRETURN rc = SQLFetch(static_cast<SQLHSTMT>(m_stmt));
    if (rc == SQL_NO_DATA) {
        close();
        return false;
    }
    if (!SQL_SUCCEEDED(rc)) {
        const std::vector<DiagRecord> records = readDiagnostics(SQL_HANDLE_STMT, m_stmt);
        close();
        raise(records);
    }
    m_fetched.assign(m_columns.size(), false);
    m_cache.assign(m_columns.size(), Value());
    m_bytes.assign(m_columns.size(), std::nullopt);
    return true;
}

int ResultSet::indexOf(const QString& columnName) const
{
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].name.compare(columnName, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    }
    throw AppError(err::kCommandError,
                   QStringLiteral("Item cannot be found in the collection corresponding to the "
                                  "requested name or ordinal: %1")
                       .arg(columnName));
}

Value ResultSet::value(const QString& columnName)
{
    return value(indexOf(columnName));
}

Value ResultSet::value(int index)
{
    if (!m_stmt || m_fetched.empty())
        throw AppError(err::kCommandError,
                       QStringLiteral("Either BOF or EOF is True, or the current record has "
                                      "been deleted."));
    if (index < 0 || index >= columnCount())
        columnName(index); // raises
    // Drivers without any-order reading need columns read left to right.
    for (int i = 0; i <= index; ++i) {
        if (!m_fetched[static_cast<size_t>(i)]) {
            m_cache[static_cast<size_t>(i)] = readColumn(i);
            m_fetched[static_cast<size_t>(i)] = true;
        }
    }
    return m_cache[static_cast<size_t>(index)];
}

bool ResultSet::isNarrowTextColumn(const QString& columnName) const
{
    const SQLSMALLINT t = m_columns[static_cast<size_t>(indexOf(columnName))].sqlType;
    return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR;
}

QByteArray ResultSet::bytes(const QString& columnName)
{
    const int index = indexOf(columnName);
    if (!m_stmt || m_fetched.empty())
        throw AppError(err::kCommandError,
                       QStringLiteral("Either BOF or EOF is True, or the current record has "
                                      "been deleted."));
    for (int i = 0; i < index; ++i)
        value(i);
    if (m_bytes[static_cast<size_t>(index)])
        return *m_bytes[static_cast<size_t>(index)];
    if (m_fetched[static_cast<size_t>(index)])
        throw AppError(err::kCommandError,
                       QStringLiteral("The column %1 was read as text before its bytes were asked for.")
                           .arg(columnName));
    SQLHSTMT stmt = static_cast<SQLHSTMT>(m_stmt);
    QByteArray result;
    char buffer[4096] = {};
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(stmt, static_cast<SQLUSMALLINT>(index + 1), SQL_C_BINARY, buffer,
                                        sizeof(buffer), &indicator);
        if (rc == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(rc)) {
            raiseFromHandle(SQL_HANDLE_STMT, stmt);
        }
        if (indicator == SQL_NULL_DATA)
            break;
        const SQLLEN got = (indicator == SQL_NO_TOTAL || indicator > static_cast<SQLLEN>(sizeof(buffer)))
                               ? static_cast<SQLLEN>(sizeof(buffer))
                               : indicator;
        result.append(buffer, static_cast<qsizetype>(got));
        if (rc == SQL_SUCCESS)
            break;
    }
    m_fetched[static_cast<size_t>(index)] = true;
    m_cache[static_cast<size_t>(index)] = Value::text(QString::fromLatin1(result));
    m_bytes[static_cast<size_t>(index)] = result;
    return result;
}

Value ResultSet::readColumn(int index)
{
    SQLHSTMT stmt = static_cast<SQLHSTMT>(m_stmt);
    const SQLSMALLINT type = m_columns[static_cast<size_t>(index)].sqlType;
    const SQLUSMALLINT column = static_cast<SQLUSMALLINT>(index + 1);

    // Every type is read as text and parsed here, so that a driver that holds
    // text in a number or date column gives a value the conversions can refuse
    // instead of a silent zero.
    QString text;
    bool isNull = false;
    SQLWCHAR buffer[2048] = {};
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_WCHAR, buffer, sizeof(buffer), &indicator);
        if (rc == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(rc)) {
            raiseFromHandle(SQL_HANDLE_STMT, stmt);
        }
        if (indicator == SQL_NULL_DATA) {
            isNull = true;
            break;
        }
        // A piece that does not fit is cut one character short of the buffer,
        // for the terminating NUL; a driver that does not know the total
        // length says so (SQL_NO_TOTAL), and the NUL marks the piece's end.
        const SQLLEN capacity = static_cast<SQLLEN>(sizeof(buffer) / sizeof(buffer[0])) - 1;
        SQLLEN chars = indicator / static_cast<SQLLEN>(sizeof(SQLWCHAR));
        if (indicator == SQL_NO_TOTAL)
            chars = static_cast<SQLLEN>(std::find(buffer, buffer + capacity, SQLWCHAR(0)) - buffer);
        else if (chars > capacity)
            chars = capacity;
        text += fromWide(buffer, chars);
        if (rc == SQL_SUCCESS)
            break;
    }
    if (isNull)
        return Value::null();

    if (isCharacterType(type) || isBinaryType(type))
        return Value::text(text);
    if (type == SQL_BIT) {
        const QString t = text.trimmed();
        bool ok = false;
        const double d = t.toDouble(&ok);
        if (ok)
            return Value::boolean(d != 0.0);
        if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return Value::boolean(true);
        if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return Value::boolean(false);
        return Value::text(text);
    }
    if (isIntegerType(type)) {
        bool ok = false;
        const qlonglong i = text.trimmed().toLongLong(&ok);
        if (ok)
            return Value::integer(i);
        return inferFromText(text);
    }
    if (type == SQL_DECIMAL || type == SQL_NUMERIC) {
        bool ok = false;
        text.trimmed().toDouble(&ok);
        if (ok)
            return Value::decimal(text.trimmed());
        return Value::text(text);
    }
    if (type == SQL_FLOAT || type == SQL_REAL || type == SQL_DOUBLE) {
        bool ok = false;
        const double d = text.trimmed().toDouble(&ok);
        if (ok)
            return Value::real(d);
        return Value::text(text);
    }
    if (isDateTimeType(type)) {
        const QDateTime dt = parseDateTimeText(text);
        if (dt.isValid())
            return Value::dateTime(dt);
        return Value::text(text);
    }
    return inferFromText(text);
}

} // namespace gst
