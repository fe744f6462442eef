#include "platform/Error.h"
#include "platform/Odbc.h"
#include "platform/ProgramEnd.h"
#include "support/QtPrinters.h"
#include "support/Reliability.h"
#include "support/TestDatabase.h"

#include "PeerSockets.h"

#include <gtest/gtest.h>

using gst::AppError;
using gst::Connection;
using gst::DiagRecord;

namespace
{

struct ClassifyCase {
    const char* name;
    std::vector<DiagRecord> records;
    bool connecting;
    long expected;
};

TEST(OdbcDiagnostics, ErrorNumbersComeFromEveryRecord)
{
    const ClassifyCase cases[] = {
        {"FreeTDS refused connect",
         {{"08001", 20009, "Unable to connect: Adaptive Server is unavailable"},
          {"08001", 0, "Unable to connect to data source"}},
         true,
         gst::err::kGenericFailure},
        // FreeTDS puts its own 08001 with native 0 last: the login failure before it decides.
        {"FreeTDS login failed",
         {{"28000", 18456, "Login failed for user 'sa'."}, {"08001", 0, "Unable to connect to data source"}},
         true,
         gst::err::kLoginFailed},
        {"login failed native only",
         {{"42000", 18456, "Login failed for user 'sa'."}},
         true,
         gst::err::kLoginFailed},
        {"database cannot be opened",
         {{"42000", 4060, "Cannot open database \"x\" requested by the login."},
          {"28000", 18456, "Login failed for user 'sa'."}},
         true,
         gst::err::kGenericFailure},
        {"driver missing",
         {{"IM002", 0, "Data source name not found and no default driver specified"}},
         true,
         gst::err::kGenericFailure},
        {"login timeout", {{"HYT00", 0, "Login timeout expired"}}, true, gst::err::kGenericFailure},
        {"link lost during a statement",
         {{"08S01", 0, "Communication link failure"}},
         false,
         gst::err::kGenericFailure},
        {"FreeTDS rollback on a closed link",
         {{"01000", 20017, "[FreeTDS][SQL Server]Unexpected EOF from the server"}},
         false,
         gst::err::kGenericFailure},
        {"statement error",
         {{"42S02", 208, "Invalid object name 'FirmMaster'."}},
         false,
         gst::err::kCommandError},
        {"sqlite error", {{"HY000", 1, "no such table: nosuch (1)"}}, false, gst::err::kCommandError},
        {"agent already running",
         {{"42000", 22022, "SQLServerAgent is already running."}},
         false,
         gst::err::kCommandError},
        {"other failure while connecting", {{"HY000", 0, "something"}}, true, gst::err::kGenericFailure},
    };
    for (const ClassifyCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(gst::classifyDiagnostics(c.records, c.connecting), c.expected);
    }
}

TEST(OdbcDiagnostics, DescriptionKeepsEveryMessageOnce)
{
    const std::vector<DiagRecord> records = {{"28000", 18456, "Login failed for user 'sa'."},
                                             {"08001", 0, "Unable to connect to data source"},
                                             {"08001", 0, "Unable to connect to data source"}};
    EXPECT_EQ(gst::describeDiagnostics(records),
              "Login failed for user 'sa'.\nUnable to connect to data source");
    EXPECT_FALSE(gst::describeDiagnostics({}).isEmpty());
}

struct ConnectionStringCase {
    const char* name;
    gst::ConnectionTarget target;
    QString expected;
};

TEST(OdbcConnectionString, SqlServerDriversAndSqlite)
{
    const ConnectionStringCase cases[] = {
        {"FreeTDS named instance keeps its backslash, takes no port and requires encryption",
         {"FreeTDS", "", "SHOP\\SQLEXPRESS", "talvex", "sa", "secret", gst::DriverKind::FreeTds},
         "DRIVER={FreeTDS};Server=SHOP\\SQLEXPRESS;UID=sa;PWD=secret;TDS_Version=7.4;"
         "ClientCharset=UTF-8;Encryption=require;"},
        {"FreeTDS host,port becomes server and port; options opt out of encryption",
         {"FreeTDS", "Encryption=request", "10.0.0.5,1450", "firm_a", "sa", "pw", gst::DriverKind::FreeTds},
         "DRIVER={FreeTDS};Server=10.0.0.5;Port=1450;UID=sa;PWD=pw;TDS_Version=7.4;"
         "ClientCharset=UTF-8;Encryption=request;"},
        {"FreeTDS braces a password with } and ; as it reads them, without doubling",
         {"FreeTDS", "", "shop", "talvex", "sa", "Zq7sa;Pw}={x}42", gst::DriverKind::FreeTds},
         "DRIVER={FreeTDS};Server=shop;UID=sa;PWD={Zq7sa;Pw}={x}42};TDS_Version=7.4;"
         "ClientCharset=UTF-8;Encryption=require;"},
        {"Microsoft driver keeps host,port and its own Encrypt option",
         {"ODBC Driver 18 for SQL Server", "Encrypt=yes;TrustServerCertificate=yes", "shop,1433", "talvex",
          "sa", "pw", gst::DriverKind::Microsoft},
         "DRIVER={ODBC Driver 18 for SQL "
         "Server};Server=shop,1433;UID=sa;PWD=pw;Encrypt=yes;TrustServerCertificate=yes;"},
        {"Microsoft driver: braces with } doubled, encryption required",
         {"SQL Server", "", "shop", "talvex", "sa", "a;b}c", gst::DriverKind::Microsoft},
         "DRIVER={SQL Server};Server=shop;UID=sa;PWD={a;b}}c};Encrypt=yes;"},
        {"sqlite folder and catalog",
         {"SQLite3", "", "/var/demo", "firm_a", "sa", "pw", gst::DriverKind::Sqlite},
         "DRIVER={SQLite3};Database=/var/demo/firm_a.db;NoCreat=1;Timeout=5000;"},
    };
    for (const ConnectionStringCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(gst::buildConnectionString(c.target), c.expected);
    }
}

// Values no driver could carry whole are refused before any connection, with a
// description that names what to fix and never shows the value.
TEST(OdbcConnectionString, ValuesADriverCannotCarryAreRefusedNamingWhatToFix)
{
    struct Case {
        const char* name;
        gst::ConnectionTarget target;
        const char* names;
    };
    const QString longName(129, QLatin1Char('d'));
    const Case cases[] = {
        {"FreeTDS password holding };",
         {"FreeTDS", "", "shop", "talvex", "sa", "se};cret", gst::DriverKind::FreeTds},
         "sa password"},
        {"password the manager would read as another driver",
         {"FreeTDS", "", "shop", "talvex", "sa", "a}DRIVER=/tmp/x.so;b", gst::DriverKind::FreeTds},
         "sa password"},
        {"password over 128 characters",
         {"FreeTDS", "", "shop", "talvex", "sa", QString(129, 'p'), gst::DriverKind::FreeTds},
         "sa password"},
        {"password holding NUL",
         {"FreeTDS", "", "shop", "talvex", "sa", QString("pw") + QChar(0), gst::DriverKind::FreeTds},
         "sa password"},
        {"database name over 128 characters",
         {"FreeTDS", "", "shop", longName, "sa", "pw", gst::DriverKind::FreeTds},
         "database name"},
        {"database name with a control character",
         {"SQLite3", "", "/var/demo", "a\tb", "sa", "pw", gst::DriverKind::Sqlite},
         "database name"},
        {"server holding };",
         {"FreeTDS", "", "shop};Server=elsewhere", "talvex", "sa", "pw", gst::DriverKind::FreeTds},
         "server name"},
        {"port that is no number",
         {"FreeTDS", "", "shop,14x", "talvex", "sa", "pw", gst::DriverKind::FreeTds},
         "port"},
        {"sqlite path holding ;",
         {"SQLite3", "", "/var/demo", "x;Database=/tmp/other", "sa", "pw", gst::DriverKind::Sqlite},
         "database path"},
        {"options naming another driver",
         {"FreeTDS", "DRIVER=/tmp/x.so", "shop", "talvex", "sa", "pw", gst::DriverKind::FreeTds},
         "Options"},
        {"options naming the database",
         {"FreeTDS", "Database=other", "shop", "talvex", "sa", "pw", gst::DriverKind::FreeTds},
         "Options"},
        {"options lowering the protocol to one that sends the password in clear",
         {"FreeTDS", "TDS_Version=5.0", "shop", "talvex", "sa", "pw", gst::DriverKind::FreeTds},
         "Options"},
        {"options asking for a dump file",
         {"FreeTDS", "DumpFile=/tmp/d.log", "shop", "talvex", "sa", "pw", gst::DriverKind::FreeTds},
         "Options"},
        // An encryption key the driver does not read would leave the link unencrypted.
        {"Microsoft driver given FreeTDS's encryption key",
         {"SQL Server", "Encryption=off", "shop", "talvex", "sa", "pw", gst::DriverKind::Microsoft},
         "Encryption"},
        {"Microsoft driver given an encryption value it does not take",
         {"SQL Server", "Encrypt=maybe", "shop", "talvex", "sa", "pw", gst::DriverKind::Microsoft},
         "Encrypt=no"},
        // A driver not known by its library gets no quoted value, and no password at all.
        {"driver not identified, password needing quotes",
         {"TDS", "", "shop", "talvex", "sa", "a;b", gst::DriverKind::Unidentified},
         "sa password"},
        {"driver not identified",
         {"TDS", "", "shop", "talvex", "sa", "pw", gst::DriverKind::Unidentified},
         "libtdsodbc.so"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            gst::buildConnectionString(c.target);
            ADD_FAILURE() << "accepted";
        } catch (const AppError& e) {
            EXPECT_EQ(e.number(), gst::err::kInvalidArgument);
            EXPECT_TRUE(e.description().contains(c.names)) << e.description().toStdString();
            if (c.target.password != "pw") {
                EXPECT_FALSE(e.description().contains(c.target.password));
            }
        }
    }
}

// Drivers are known by the library the driver manager loads, on Linux and Windows.
TEST(OdbcConnectionString, DriverKindComesFromTheLibrary)
{
    const std::pair<const char*, gst::DriverKind> cases[] = {
        {"libtdsodbc.so", gst::DriverKind::FreeTds},
        {"/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so.0.0.0", gst::DriverKind::FreeTds},
        {"libsqlite3odbc-0.9998.so", gst::DriverKind::Sqlite},
        {"/opt/microsoft/msodbcsql18/lib64/libmsodbcsql-18.3.so.2.1", gst::DriverKind::Microsoft},
        {"C:\\WINDOWS\\system32\\SQLSRV32.dll", gst::DriverKind::Microsoft},
        {"C:\\WINDOWS\\system32\\msodbcsql18.dll", gst::DriverKind::Microsoft},
        {"libtdsodbc_copy.so", gst::DriverKind::Unidentified},
        {"tdsodbc", gst::DriverKind::Unidentified},
    };
    for (const auto& [library, kind] : cases) {
        SCOPED_TRACE(library);
        EXPECT_EQ(gst::driverKindOfLibrary(QString::fromLatin1(library)), kind);
    }
}

std::unique_ptr<Connection> openSqlite(const TestDatabase& db, const QString& catalog)
{
    auto c = std::make_unique<Connection>();
    c->setProvider("sqloledb");
    c->setDriver("SQLite3", QString());
    c->setProperty("Data Source", db.folder());
    c->setProperty("Initial Catalog", catalog);
    c->setProperty("User ID", "sa");
    c->setProperty("Password", "pw");
    c->open();
    return c;
}

long openError(const TestDatabase& db, const QString& catalog, QString* description = nullptr)
{
    try {
        openSqlite(db, catalog);
    } catch (const AppError& e) {
        if (description)
            *description = e.description();
        return e.number();
    }
    return 0;
}

TEST(OdbcSqlite, MissingOrOutsideDatabaseIsAGenericFailureAndNothingIsCreated)
{
    TestDatabase db;
    db.createDatabase("talvex");
    EXPECT_EQ(openError(db, "talvex"), 0);
    for (const QString& catalog :
         {QString("nosuch"), QString("../talvex"), QString("sub/talvex"), QString()}) {
        SCOPED_TRACE(catalog.toStdString());
        EXPECT_EQ(openError(db, catalog), gst::err::kGenericFailure);
    }
    EXPECT_FALSE(QFile::exists(db.path("nosuch")));
}

TEST(OdbcSqlite, UnknownProviderIsRefused)
{
    TestDatabase db;
    db.createDatabase("talvex");
    Connection c;
    c.setProvider("MSDASQL");
    c.setDriver("SQLite3", QString());
    c.setProperty("Data Source", db.folder());
    c.setProperty("Initial Catalog", "talvex");
    EXPECT_THROW(c.open(), AppError);
}

TEST(OdbcSqlite, ValuesKeepTheirColumnTypes)
{
    TestDatabase db;
    db.createDatabase(
        "t",
        "create table v(b bit, d datetime, i int, s smallint, dec decimal(18,4), r float, t varchar(20));"
        "insert into v values (1, '2018-07-27 00:00:00', 70000, -2, 2.5, 1.25, ' x ');"
        "insert into v values (NULL, 'garbage', 'abc', NULL, NULL, NULL, NULL);");
    auto c = openSqlite(db, "t");
    auto rs = c->query("select b, d, i, s, dec, r, t from v order by rowid");
    ASSERT_TRUE(rs->next());
    EXPECT_TRUE(rs->value("B").equalsTrue());
    EXPECT_EQ(rs->value("d").toDateTime(), QDateTime(QDate(2018, 7, 27), QTime(0, 0), Qt::UTC));
    EXPECT_EQ(rs->value("i").toInt32(), 70000);
    EXPECT_EQ(rs->value("s").toInt16(), -2);
    EXPECT_TRUE(rs->value("dec").equalsNumber(2.5));
    EXPECT_TRUE(rs->value("r").equalsNumber(1.25));
    EXPECT_EQ(rs->value("t").toText(), " x ");
    ASSERT_TRUE(rs->next());
    EXPECT_TRUE(rs->value(0).isNull());
    // Text where a date or number belongs is refused by the conversion, not read as zero.
    EXPECT_THROW(rs->value(1).toDateTime(), AppError);
    EXPECT_THROW(rs->value(2).toInt16(), AppError);
    EXPECT_FALSE(rs->next());
    EXPECT_EQ(c->openStatementCount(), 0);
}

TEST(OdbcSqlite, StatementsAreClosedAfterUse)
{
    TestDatabase db;
    db.createDatabase("t", "create table n(x int); insert into n values (1); insert into n values (2);");
    auto c = openSqlite(db, "t");
    {
        auto rs = c->query("select x from n");
        EXPECT_EQ(c->openStatementCount(), 1);
        ASSERT_TRUE(rs->next());
        rs->close();
        EXPECT_EQ(c->openStatementCount(), 0);
    }
    {
        auto rs = c->query("select x from n");
        EXPECT_EQ(c->openStatementCount(), 1);
    } // released without reading
    EXPECT_EQ(c->openStatementCount(), 0);
    EXPECT_THROW(c->query("select nosuch from n"), AppError);
    EXPECT_THROW(c->execute("update nosuch set x = 1"), AppError);
    EXPECT_EQ(c->openStatementCount(), 0);

    // A result set that outlives its connection (a reconnect to the chosen
    // firm) is closed with it, never left holding a freed handle.
    auto rs = c->query("select x from n");
    ASSERT_TRUE(rs->next());
    c.reset();
    EXPECT_TRUE(rs->isClosed());
    EXPECT_FALSE(rs->next());
    EXPECT_THROW(rs->value(0), AppError);
}

TEST(OdbcSqlite, RawBytesAreTheColumnsOrAnError)
{
    TestDatabase db;
    db.createDatabase("t", "create table p(a text, b text); insert into p values ('x', 'caf\xc3\xa9');");
    auto c = openSqlite(db, "t");
    auto rs = c->query("select a, b from p");
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->bytes("b"), QByteArray("caf\xc3\xa9"));
    EXPECT_EQ(rs->bytes("b"), QByteArray("caf\xc3\xa9")); // asked again: the same bytes
    EXPECT_EQ(rs->value("a").toText(), "x");
    // Read as text already: its raw bytes are gone, and no others stand in for them.
    EXPECT_THROW(rs->bytes("a"), AppError);
}

TEST(OdbcSqlite, ParametersAreBoundNotPasted)
{
    TestDatabase db;
    db.createDatabase("t", "create table n(name varchar(50)); insert into n values ('Men''s Wear');"
                           "create table canary(x int); insert into canary values (1);");
    auto c = openSqlite(db, "t");
    auto rs = c->query("select count(*) from n where name = ?", {QString("Men's Wear")});
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->value(0).toInt32(), 1);
    rs->close();
    c->execute("update n set name = ? where name = ?",
               {QString("x'); drop table canary; --"), QString("none")});
    EXPECT_EQ(db.scalar("t", "select count(*) from canary"), DbValue("1"));
}

TEST(OdbcSqlite, TransactionRollsBackAndCommits)
{
    TestDatabase db;
    db.createDatabase("t", "create table n(x int); insert into n values (1);");
    auto c = openSqlite(db, "t");
    c->beginTrans();
    c->execute("update n set x = 2");
    c->rollbackTrans();
    EXPECT_EQ(db.scalar("t", "select x from n"), DbValue("1"));
    c->beginTrans();
    c->execute("update n set x = 3");
    c->execute("update n set x = 4 where x = 99"); // matches nothing: not a failure
    c->commitTrans();
    EXPECT_FALSE(c->inTransaction());
    EXPECT_EQ(db.scalar("t", "select x from n"), DbValue("3"));
    // Released inside a transaction: rolled back, and nothing of it holds the database.
    c->beginTrans();
    c->execute("update n set x = 6");
    c.reset();
    db.exec("t", "update n set x = x + 1");
    EXPECT_EQ(db.scalar("t", "select x from n"), DbValue("4"));
}

// A commit or rollback that fails (the link lost) leaves the transaction open:
// turning autocommit back on would commit it. Neither the next statements on
// the connection nor the end of the program commit anything.
TEST(OdbcSqlite, FailedCommitOrRollbackCommitsNothingAfterwardsOrAtTheEnd)
{
    for (const QString step : {"ROLLBACK", "COMMIT"}) {
        SCOPED_TRACE(step.toStdString());
        TestDatabase db;
        db.createDatabase("t", "create table n(x int); insert into n values (1);");
        const reliability::ChildOutcome run = reliability::runChild([&] {
            auto c = openSqlite(db, "t");
            c->beginTrans();
            c->execute("update n set x = 2");
            Connection::setFaultHook([&](const QString& s) -> std::optional<Connection::InjectedFault> {
                if (s != step)
                    return std::nullopt;
                return Connection::InjectedFault{{"08S01", 0, "Communication link failure"}, false};
            });
            try {
                step == "COMMIT" ? c->commitTrans() : c->rollbackTrans();
                reliability::report("raised", "none");
            } catch (const AppError& e) {
                reliability::report("raised", QString::number(e.number()) + " " + e.description());
            }
            Connection::setFaultHook(nullptr);
            reliability::report("inTransaction", c->inTransaction() ? "1" : "0");
            c->query("select x from n")->close();
            reliability::report("seenElsewhere", db.scalar("t", "select x from n").value_or("NULL"));
            gst::endProgram(gst::kExitError);
        });
        ASSERT_TRUE(run.exited) << run.describe().toStdString();
        EXPECT_EQ(run.exitCode, gst::kExitError) << run.describe().toStdString();
        EXPECT_EQ(run.result("raised"), "-2147467259 Communication link failure");
        EXPECT_EQ(run.result("inTransaction"), "1");
        EXPECT_EQ(run.result("seenElsewhere"), "1");
        EXPECT_EQ(db.scalar("t", "select x from n"), DbValue("1"));
    }
}

TEST(OdbcSqlite, TraceRecordsStatementsInOrder)
{
    TestDatabase db;
    db.createDatabase("t", "create table n(x int);");
    auto c = openSqlite(db, "t");
    QStringList seen;
    Connection::setTraceHook([&](const QString& sql) { seen << sql; });
    c->execute("insert into n values (1)");
    c->query("select x from n")->close();
    Connection::setTraceHook(nullptr);
    c->execute("insert into n values (2)");
    EXPECT_EQ(seen, QStringList({"insert into n values (1)", "select x from n"}));
}

TEST(OdbcFreeTds, ClosedLoopbackPortIsNetworkDown)
{
    // A loopback port that was just free: bound, then closed without listening.
    peersockets::startUp();
    const int fd = static_cast<int>(::socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    socklen_t length = sizeof(addr);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length), 0);
    const int port = ntohs(addr.sin_port);
    peersockets::closeSocket(fd);

    Connection c;
    c.setProvider("SQLOLEDB");
    c.setDriver("FreeTDS", QString());
    c.setProperty("Data Source", QStringLiteral("127.0.0.1,%1").arg(port));
    c.setProperty("Initial Catalog", "talvex");
    c.setProperty("User ID", "sa");
    c.setProperty("Password", "VerySecret#1");
    try {
        c.open();
        FAIL() << "connected to a closed port";
    } catch (const AppError& e) {
        EXPECT_EQ(e.number(), gst::err::kGenericFailure);
        EXPECT_FALSE(e.description().contains("VerySecret#1"));
    }
    EXPECT_FALSE(c.isOpen());
}

} // namespace
