#pragma once

// A TDS 7.4 peer for tests: a stand-in for SQL Server on a loopback address that
// the real FreeTDS ODBC driver talks to through the product's own connection
// code. It is a test double, not a SQL Server.
//
// What it models
// - PRELOGIN with encryption "not supported", "off" (TLS for the LOGIN7 packet
//   only) or "on" (the whole stream in TLS), the TLS handshake carried inside
//   PRELOGIN packets as TDS 7.x does (TLS 1.2); a self-signed EC P-256
//   certificate made in code (makeSelfSignedCertificate).
// - LOGIN7 decoded (user, unscrambled password, database, server name,
//   application name, library, TDS version, whether it arrived in TLS);
//   answered with ENVCHANGE database / SQL collation (code page 1252,
//   SQL_Latin1_General_CP1_CI_AS) / language / packet size, INFO 5701/5703 and
//   LOGINACK; or ERROR 18456 (refused user or password) and 4060 then 18456
//   (a database with no file behind it).
// - SQL batches, RPC requests (sp_executesql with its parameters decoded) and
//   transaction-manager requests (begin, commit, rollback, with or without a
//   new transaction), ATTENTION; each recorded in order per connection.
//   What FreeTDS 1.3.17 sends (observed through this peer):
//     SQLExecDirectW without parameters   -> SQL batch, the text as given
//     with bound SQL_WVARCHAR values       -> RPC sp_executesql (procedure id 10):
//         statement (ntext, "?" became @P1...), declaration (ntext,
//         "@P1 NVARCHAR(5)"), then the values, unnamed, nvarchar(<length>)
//     autocommit off                       -> TM "BEGIN TRANSACTION"
//     SQLEndTran commit / rollback         -> TM "COMMIT|ROLLBACK TRANSACTION + BEGIN TRANSACTION"
//     autocommit back on                   -> TM "ROLLBACK TRANSACTION"
//     SQLTables                            -> RPC sp_tables @table_name ("\_" sent as "[_]")
//     a result closed before its end       -> ATTENTION
// - A database behind it: "<folder>/<database>.db" (SQLite files made by
//   TestDatabase), one SQLite connection per client connection, a real
//   transaction for a TDS transaction; master, msdb and tempdb are empty
//   in-memory databases unless a file of that name exists. An open transaction
//   is rolled back when the client's connection ends.
// - The translation of T-SQL into SQLite, all of it in translateToSqlite() in
//   TdsPeer.cpp, and nothing else:
//     [name]                               -> "name" (]] undone, " doubled)
//     cast(<column> as varbinary(max))     -> the column's bytes as SQL Server
//                                             holds them: code page 1252 for a
//                                             varchar column, UTF-16LE for nvarchar
//     @P1, @P2 ... of sp_executesql        -> SQLite named parameters, bound
//     exec master.dbo.xp_servicecontrol .. -> the agent answer set by the test
//     SET TEXTSIZE n, SET IMPLICIT_TRANSACTIONS OFF/ON, SET ANSI_*/QUOTED_*
//                                          -> accepted, nothing run
//     BEGIN TRAN[SACTION], COMMIT [TRAN[SACTION]], ROLLBACK [TRAN[SACTION]],
//     IF @@TRANCOUNT > 0 COMMIT|ROLLBACK [BEGIN TRANSACTION]
//                                          -> the SQLite transaction
//     SELECT @@SPID [spid]                 -> the connection's SPID
//     RPC sp_tables @table_name            -> the tables of the SQLite file whose
//                                             names match the pattern as LIKE does
//   It answers SQL Server's syntax error 102 (class 15) instead of guessing
//   for: exec, execute, top, go, getdate, isnull, convert, len, datediff,
//   dateadd, newid, output, merge, declare, print, raiserror, waitfor,
//   with (nolock), "?", "@@", N'...' and an unclosed [ or "; 137 for an
//   undeclared @variable, 105 for an unclosed string. SQLite's own errors map
//   to 208 (no such table), 207 (no such column), 2627 (unique), 515 (not
//   null), 1222 (busy), 102 (syntax) and 50000 (other).
// - Answers typed as SQL Server describes them, from the column's declared type
//   (or one set by setColumnType, e.g. Password as nvarchar(50)): int, smallint,
//   tinyint, bigint, bit, varchar (code page 1252, sent as raw single bytes,
//   the five codes Windows-1252 leaves undefined included), nvarchar,
//   datetime, decimal(p,s), float, varbinary(max) (PLP). An expression takes the
//   type of its values. Rows counted in DONE (DONE_COUNT for updates), none
//   under SET NOCOUNT ON (setNoCount, or the statement itself).
// - COMMIT or ROLLBACK with no transaction open, as a batch or as a
//   transaction-manager request, is answered with 3902 or 3903 and changes
//   nothing. For batches these are SQL Server's documented errors; that a
//   transaction-manager request gets the same is what FreeTDS users report from
//   real servers for ROLLBACK (after a deadlock victim's rollback), and is
//   assumed for COMMIT.
// - Faults on request (Fault): an ERROR token with a chosen number on the Nth
//   request matching a pattern (1205 also rolls the transaction back, as SQL
//   Server does to a deadlock victim, and the driver's rollback request that
//   follows is then refused with 3903, as FreeTDS users report from real
//   servers), the connection closed before or after
//   the statement ran, a server that stops answering, a delay before every
//   answer; and a count of round trips per connection.
// - The SQL Server Browser answer on UDP port 1434 of the peer's own address
//   for one named instance (setInstance); an unknown instance gets no answer.
//
// What it does not model, and only a real SQL Server shows
// - Query plans, locks and blocking between sessions (SQLite locks the whole
//   file), real deadlocks, isolation levels, triggers, identity, collations
//   other than code page 1252 for comparisons (SQLite compares as it does),
//   T-SQL beyond the list above, MARS, cursors, bulk copy, SSPI/Kerberos,
//   certificate validation by the client, the TDS 8 (strict) handshake,
//   the real xp_servicecontrol and SQL Server Agent, permission errors,
//   server-side time-outs, login time-outs of a busy server.
// - Whether a statement the peer accepts would also be valid T-SQL: the list
//   above is all it checks.
// - The exact texts SQL Server gives for 547, 1222, 22022 and the agent: the
//   peer's are close, not verbatim.
//
// Use (the database folder comes from TestDatabase):
//
//   TestDatabase db;
//   db.createDatabase("talvex", standardRetailData());
//   TdsPeer peer(db.folder());                   // TLS "on" by default
//   peer.setAcceptedLogin("sa", "secret");
//   peer.setColumnType("usermaster", "Password", "nvarchar(50)");
//   peer.addFault(TdsPeer::Fault::error(1205, "update products"));
//   peer.start();                                // throws if it cannot listen
//   db.writeLoginSettings(peer.serverName(), "secret", "FreeTDS");
//   ConnectDatabase();                           // or connectSharedThroughPeer(peer, "talvex", "secret")
//                                                // (support/SharedConnection.h), or a gst::Connection
//   ...
//   EXPECT_EQ(peer.statements(), (QStringList{"select billdate from options", ...}));
//   EXPECT_EQ(peer.logins().front().password, "secret");
//   peer.stop();                                 // also done by the destructor
//
// Threads: start() runs one listener thread and one thread per client
// connection; the test's own thread blocks in ODBC calls meanwhile. Every wait
// in the peer is bounded: stop() ends every thread within a few seconds (a
// statement waiting on an SQLite lock gives up after 5 s), and the peer
// shuts itself down kMaxLifetimeSeconds after start() whatever happens. The
// accessors copy under a lock and may be called at any time.
//
// No freetds.conf (a user's ~/.freetds.conf included) reaches these tests:
// FreeTDS's ODBC driver reads one only for a Servername= or DSN= connection
// (odbc/connectparams.c in 1.3.17), which the connection code never writes and
// refuses in Options; it also removes FREETDSCONF before connecting.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class TdsPeer
{
public:
    static constexpr int kMaxLifetimeSeconds = 120;

    enum class Encryption { NotSupported, Off, On };

    // One parameter of an RPC request as it arrived.
    struct Param {
        QString name;                 // as sent; FreeTDS sends sp_executesql's values unnamed (positional)
        QString type;                 // TDS type as received, e.g. "nvarchar(5)", "int", "ntext"
        std::optional<QString> value; // text form of the value; nullopt for NULL
        bool output = false;
    };

    // One request from a client.
    struct Request {
        enum class Kind { Batch, Rpc, Transaction, Attention };
        Kind kind = Kind::Batch;
        int connection = 0; // 1 for the first connection the peer accepted, and so on
        QString database;   // the connection's database when the request arrived
        // Batch: its text. Rpc: sp_executesql's statement, or the procedure's name for
        // another procedure. Transaction: "BEGIN TRANSACTION", "COMMIT TRANSACTION",
        // "ROLLBACK TRANSACTION", followed by " + BEGIN TRANSACTION" when the request
        // asks for a new transaction at once. Attention: empty.
        QString text;
        QString procedure;         // Rpc: "sp_executesql", "sp_prepexec", ... (name or well-known id)
        std::vector<Param> params; // Rpc: every parameter, the statement and its declaration included
        std::vector<Param> boundValues() const; // Rpc via sp_executesql: the values bound to @P1...
    };

    // One LOGIN7 as it arrived.
    struct Login {
        int connection = 0;
        QString userName;
        QString password; // unscrambled
        QString database;
        QString serverName;
        QString appName;
        QString hostName;
        QString library;
        QString language;
        std::uint32_t tdsVersion = 0; // 0x74000004 for TDS 7.4
        std::uint32_t packetSize = 0;
        bool encrypted = false; // arrived inside TLS
        bool accepted = false;
    };

    // A fault injected on a request. The pattern is a case-insensitive regular
    // expression searched in the request's text (for a transaction request the
    // text above, e.g. "^COMMIT"); an empty pattern matches every batch, RPC and
    // transaction request. The fault fires on the `occurrence`-th matching
    // request (counted over all connections), once.
    struct Fault {
        enum class Action {
            Error,         // answer with an ERROR token, do not run the statement
            Close,         // close the connection without running it
            CloseAfterRun, // run it on the database (a COMMIT lands), then close without answering
            ErrorAfterRun, // transaction requests: run it (a COMMIT lands, begins nothing after), then
                           // answer with an ERROR token: a commit that landed although the driver says not
            StopAnswering, // read it and answer nothing more; close the connection after holdMs
        };
        Action action = Action::Error;
        QString pattern;
        int occurrence = 1;
        int number = 0; // Error: the error number, e.g. 1205, 547, 1222
        int state = 1;
        int severity = 0;   // class; 0 picks SQL Server's own for the number
        QString message;    // empty picks SQL Server's text for the number
        int holdMs = 10000; // StopAnswering: how long the silent connection is held open

        static Fault error(int number, const QString& pattern = QString(), int occurrence = 1);
        static Fault close(const QString& pattern, int occurrence = 1, bool afterRunning = false);
        static Fault stopAnswering(const QString& pattern, int occurrence = 1);
        static Fault errorAfterRunning(int number, const QString& pattern, int occurrence = 1);
    };

    // What "exec master.dbo.xp_servicecontrol ..." answers.
    struct AgentAnswer {
        bool succeed = true; // success: a one-row result "Current Service State" = state
        QString state = QStringLiteral("Running.");
        int number = 22022; // failure: this error number, class 16, with message
        QString message = QStringLiteral("SQLServerAgent is already running.");
    };

    // The database folder holds "<database>.db" files (TestDatabase::folder()).
    explicit TdsPeer(const QString& databaseFolder);
    ~TdsPeer();
    TdsPeer(const TdsPeer&) = delete;
    TdsPeer& operator=(const TdsPeer&) = delete;

    // Settings; call before start() (setFault and the answers may also change later).
    void setEncryption(Encryption encryption); // default On
    void setAcceptedLogin(const QString& userName,
                          const QString& password); // default sa / empty: any password
    void setAcceptAnyLogin(bool any);               // default false once setAcceptedLogin was called
    void setColumnType(const QString& table, const QString& column, const QString& sqlServerType);
    void setInstance(const QString& instanceName); // answer the Browser for this instance
    void setAgentAnswer(const AgentAnswer& answer);
    void addFault(const Fault& fault);
    void clearFaults();
    void setAnswerDelayMs(int ms); // before every answer
    // Sessions start with SET NOCOUNT ON (as a server whose "user options" set
    // it): DONE tokens carry no row count. SET NOCOUNT ON/OFF switches it too.
    void setNoCount(bool on);
    // PEM certificate and key for TLS; default: makeSelfSignedCertificate().
    void setCertificate(const QByteArray& certificatePem, const QByteArray& keyPem);

    // Listens on a random 127.a.b.c address (never 127.0.0.1) and an ephemeral
    // TCP port; with an instance set, also on UDP port 1434 of that address.
    // Throws std::runtime_error when it cannot listen (the message says why;
    // a test may GTEST_SKIP on it for the Browser port when not root).
    void start();
    void stop();

    // Joins the threads of every running peer's sessions whose client has
    // gone. Call before fork(): a child forked while one of them is inside the
    // allocator waits forever for its lock (GCC 12's AddressSanitizer takes
    // none around fork). start() likewise returns only once its listener
    // thread has started; the threads of open connections wait in poll().
    static void settleAll();
    bool isRunning() const;

    QString address() const;            // "127.a.b.c"
    std::uint16_t port() const;         // TCP port
    QString serverName() const;         // "127.a.b.c,port": ServerName for login settings
    QString instanceServerName() const; // "127.a.b.c\INSTANCE"

    // What arrived, in order.
    std::vector<Request> requests() const;
    std::vector<Login> logins() const;
    // Texts of the batch, RPC and transaction requests (in that order of
    // arrival), optionally only those of one connection (1-based).
    QStringList statements(int connection = 0) const;
    // Request/response exchanges of one connection (1-based), ATTENTION included;
    // the login is not counted.
    int roundTrips(int connection) const;
    int connectionCount() const;     // connections accepted so far
    int openConnectionCount() const; // client connections still open
    // Waits (bounded) until no client connection is open; true when none is.
    bool waitForNoOpenConnections(int timeoutMs) const;
    // Browser requests received (instance names asked for).
    QStringList browserRequests() const;

    // A self-signed EC P-256 certificate for CN=localhost, PEM.
    static std::pair<QByteArray, QByteArray> makeSelfSignedCertificate();

    class Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

namespace gst
{
class Connection;
}
// A connection to database `catalog` through the FreeTDS driver to a running
// TdsPeer, as user "sa" with `password`, opened the way ConnectDatabase opens one.
std::unique_ptr<gst::Connection> openThroughPeer(const TdsPeer& peer, const QString& catalog,
                                                 const QString& password, const QString& options = QString());
// The same, made gConnection.
void connectSharedThroughPeer(const TdsPeer& peer, const QString& catalog, const QString& password,
                              const QString& options = QString());
