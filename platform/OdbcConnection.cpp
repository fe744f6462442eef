// One ODBC connection: the string it is opened with, its transactions and the
// statements sent on it.
#include "platform/OdbcCalls.h"

#include "platform/Error.h"
#include "platform/Text.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace gst
{

using namespace odbc;

namespace
{

constexpr SQLULEN kLoginTimeoutSeconds = 15;

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

} // namespace

Connection::Connection() = default;

Connection::~Connection()
{
    // Result sets still open are closed first: a handle of theirs would
    // otherwise outlive the connection it belongs to.
    while (!m_resultSets.empty())
        m_resultSets.back()->close();
    if (m_open) {
        const SQLHDBC dbc = m_dbc.get();
        // ODBC refuses to disconnect inside a transaction (25000), which
        // would leave the handles, and the database's locks, behind.
        if (m_inTransaction) {
            SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
            SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
        }
        SQLDisconnect(dbc);
    }
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
        m_env = OdbcHandle(env, {SQL_HANDLE_ENV});
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    }
    if (!m_dbc) {
        SQLHDBC dbc = nullptr;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, m_env.get(), &dbc)))
            raiseFromHandle(SQL_HANDLE_ENV, m_env.get(), true);
        m_dbc = OdbcHandle(dbc, {SQL_HANDLE_DBC});
        SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), 0);
    }

    clearConnectionEnvironment();
    // unixODBC's trace would record the connection string, masking the
    // password only up to its first ";".
    const SQLHDBC dbc = m_dbc.get();
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
            raiseFromHandle(SQL_HANDLE_DBC, dbc, true);
    }

    // NUL-terminated: a length could be cut to 16 bits on the way.
    const SQLRETURN rc =
        SQLDriverConnectW(dbc, nullptr, wideData(cs), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    // Our copies of the string are wiped on return; the password itself stays in
    // this connection's target, in gDbPassword and in the driver's own memory.
    if (!SQL_SUCCEEDED(rc)) {
        const std::vector<DiagRecord> records = readDiagnostics(SQL_HANDLE_DBC, dbc);
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
    const SQLHDBC dbc = m_dbc.get();
    QString reached;
    QString asked = m_target.catalog;
    if (m_target.kind == DriverKind::Sqlite) {
        // The file the driver opened as its main database.
        SQLHSTMT handle = nullptr;
        if (SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &handle))) {
            const OdbcHandle owner(handle, {SQL_HANDLE_STMT});
            const SQLHSTMT stmt = handle;
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

OdbcHandle Connection::allocStatement()
{
    if (!m_open)
        throw AppError(err::kConnectionClosed,
                       QStringLiteral("The connection cannot be used to perform this "
                                      "operation. It is either closed or invalid in this "
                                      "context."));
    SQLHSTMT stmt = nullptr;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, m_dbc.get(), &stmt)))
        raiseFromHandle(SQL_HANDLE_DBC, m_dbc.get(), false);
    return OdbcHandle(stmt, {SQL_HANDLE_STMT});
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

OdbcHandle Connection::run(const QString& sql, const Params& params)
{
    OdbcHandle owner = allocStatement();
    const SQLHSTMT stmt = owner.get();
    trace(sql);
    std::vector<std::u16string> buffers;
    std::vector<SQLLEN> lengths;
    bindParams(stmt, params, buffers, lengths);
    std::u16string text = toWide(sql);
    if (text.size() > static_cast<size_t>(std::numeric_limits<SQLINTEGER>::max()))
        throw AppError(err::kCommandError, QStringLiteral("The statement is too long to send."));
    const SQLRETURN rc = SQLExecDirectW(stmt, wideData(text), static_cast<SQLINTEGER>(text.size()));
    // An update that matches no row answers SQL_NO_DATA: not a failure.
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
        raiseFromHandle(SQL_HANDLE_STMT, stmt);
    SQLFreeStmt(stmt, SQL_RESET_PARAMS);
    return owner;
}

qint64 Connection::execute(const QString& sql, const Params& params)
{
    const OdbcHandle owner = run(sql, params);
    const SQLHSTMT stmt = owner.get();
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
            raiseFromHandle(SQL_HANDLE_STMT, stmt);
    }
    return rows < 0 ? -1 : static_cast<qint64>(rows);
}

std::unique_ptr<ResultSet> Connection::query(const QString& sql, const Params& params)
{
    std::unique_ptr<ResultSet> rs(new ResultSet(this, run(sql, params)));
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
    const SQLRETURN rc = SQLSetConnectAttr(m_dbc.get(), SQL_ATTR_AUTOCOMMIT,
                                           reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
    if (!SQL_SUCCEEDED(rc))
        raiseFromHandle(SQL_HANDLE_DBC, m_dbc.get(), false);
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
        rc = SQLEndTran(SQL_HANDLE_DBC, m_dbc.get(), commit ? SQL_COMMIT : SQL_ROLLBACK);
    if (fault) {
        m_commitFailed = m_commitFailed || commit;
        raise({fault->record});
    }
    // After a failed commit or rollback the transaction stays open, uncommitted,
    // for another rollback or for the end of the program, which discards it.
    if (!SQL_SUCCEEDED(rc)) {
        const std::vector<DiagRecord> records = readDiagnostics(SQL_HANDLE_DBC, m_dbc.get());
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
    if (!SQL_SUCCEEDED(SQLSetConnectAttr(m_dbc.get(), SQL_ATTR_AUTOCOMMIT,
                                         reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0)))
        raiseFromHandle(SQL_HANDLE_DBC, m_dbc.get(), false);
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
    const SQLRETURN rc = SQLSetConnectAttr(m_dbc.get(), SQL_ATTR_AUTOCOMMIT,
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
    const OdbcHandle owner = allocStatement();
    const SQLHSTMT stmt = owner.get();

    // The catalog takes the name as a pattern: escape "_" and "%" where the
    // driver offers an escape, and compare the names it returns ourselves.
    QString pattern = name;
    SQLWCHAR escape[8] = {};
    SQLSMALLINT escapeBytes = 0;
    if (SQL_SUCCEEDED(
            SQLGetInfoW(m_dbc.get(), SQL_SEARCH_PATTERN_ESCAPE, escape, sizeof(escape), &escapeBytes)) &&
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

} // namespace gst
