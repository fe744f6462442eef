// Not on Windows: registers drivers in a private ODBCSYSINI and sets FreeTDS variables, which the host's
// unixODBC and FreeTDS under wine read from the Unix environment, not from the Windows one the test changes.
// Connection security on the FreeTDS path: what the driver and the driver
// manager may write to files while the utility connects.

#include "app/ModMain.h"
#include "platform/Error.h"
#include "platform/Odbc.h"
#include "platform/ProgramEnd.h"
#include "signin/Agent.h"
#include "signin/Credentials.h"
#include "signin/FrmLogin.h"
#include "state/ConnectionState.h"
#include "support/QtPrinters.h"
#include "support/Reliability.h"
#include "support/TdsPeer.h"
#include "support/TestDatabase.h"
#include "ui_FrmLogin.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <clocale>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/socket.h>
#include <unistd.h>

using gst::AppError;
using gst::Connection;

namespace
{

// The sa password of these tests: "}", ";", "{" and "=" in it, so that a
// trace that masks only up to the first ";" still shows the rest.
const QString kSaPassword = QStringLiteral("Zq7sa;Pw}={x}42");

// A loopback port that was just free: bound, then closed without listening.
int closedLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(addr);
    int port = -1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

// Every file under `folder` that holds `needle` (as UTF-8 or as UTF-16LE).
QStringList filesHolding(const QString& folder, const QString& needle)
{
    QStringList found;
    const QByteArray utf8 = needle.toUtf8();
    const QByteArray utf16(reinterpret_cast<const char*>(needle.utf16()), needle.size() * 2);
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray content = f.readAll();
        if (content.contains(utf8) || content.contains(utf16))
            found << f.fileName();
    }
    return found;
}

// Two connection attempts, as a run makes (the shop's database and msdb), with
// FreeTDS's dump and unixODBC's trace both asked for through the environment.
reliability::ChildOutcome connectWithTracesAskedFor(const QString& folder, const QByteArray& odbcSection,
                                                    const QString& serverName)
{
    QFile ini(QDir(folder).filePath("odbcinst.ini"));
    if (ini.open(QIODevice::WriteOnly)) {
        ini.write("[ODBC]\n" + odbcSection + "TraceFile=" + QFile::encodeName(folder) +
                  "/odbc-trace.log\n\n[FreeTDS]\nDriver=libtdsodbc.so\n");
        ini.close();
    }
    return reliability::runChild(
        [&] {
            // unixODBC reads odbcinst.ini from ODBCSYSINI; set before this child's first ODBC call.
            qputenv("ODBCSYSINI", QFile::encodeName(folder));
            qputenv("TDSDUMP", QFile::encodeName(folder) + "/tdsdump.log");
            qputenv("TDSDUMPCONFIG", QFile::encodeName(folder) + "/tdsdumpconfig.log");
            for (const char* catalog : {"talvex", "msdb"}) {
                Connection c;
                c.setProvider("SQLOLEDB");
                c.setDriver("FreeTDS", QString());
                c.setProperty("Data Source", serverName);
                c.setProperty("Initial Catalog", catalog);
                c.setProperty("User ID", "sa");
                c.setProperty("Password", kSaPassword);
                try {
                    c.open();
                    reliability::report(catalog, "connected");
                } catch (const AppError& e) {
                    reliability::report(catalog, QString::number(e.number()));
                }
            }
        },
        60000);
}

// A whole run as the program makes it (start-up, the agent's msdb connection, a
// sign-in) with unixODBC's trace and FreeTDS's dump asked for: no file written
// holds the sa password or the password typed at sign-in.
TEST(SqlServerTraces, NoTraceFileHoldsEitherPassword)
{
    const QString typed = QStringLiteral("Typ3d;Secret}9");
    TestDatabase db;
    db.createDatabase("talvex", standardRetailData());
    db.exec("talvex", "update usermaster set Password = ? where loginname = 'admin'",
            {TestDatabase::storedPasswordForm(typed)});
    TdsPeer peer(db.folder());
    peer.setAcceptedLogin("sa", kSaPassword);
    peer.start();
    db.writeLoginSettings(peer.serverName(), kSaPassword, "FreeTDS");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path();
    QFile ini(QDir(folder).filePath("odbcinst.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[ODBC]\nTrace=Yes\nTraceFile=" + QFile::encodeName(folder) +
              "/odbc-trace.log\n\n[FreeTDS]\nDriver=libtdsodbc.so\n");
    ini.close();

    const reliability::ChildOutcome outcome = reliability::runChild([&] {
        // unixODBC reads odbcinst.ini from ODBCSYSINI; set before this child's first ODBC call.
        qputenv("ODBCSYSINI", QFile::encodeName(folder));
        qputenv("TDSDUMP", QFile::encodeName(folder) + "/tdsdump.log");
        qputenv("TDSDUMPCONFIG", QFile::encodeName(folder) + "/tdsdumpconfig.log");
        gDatabaseName = "talvex";
        ConnectDatabase();
        FrmLogin window;
        window.Form_Load(); // opens the agent's connection on msdb
        reliability::report("signedIn", CheckCredentials("admin", typed) ? "1" : "0");
    });
    ASSERT_EQ(outcome.exitCode, reliability::kChildReturned) << outcome.describe().toStdString();
    EXPECT_EQ(outcome.result("signedIn"), "1");
    const auto logins = peer.logins();
    ASSERT_EQ(logins.size(), 2u);
    EXPECT_EQ(logins[1].database, "msdb");
    EXPECT_EQ(logins[1].password, kSaPassword);
    // unixODBC masks only up to the first ";": look for the whole and for the rest.
    for (const QString& secret :
         {kSaPassword, kSaPassword.mid(kSaPassword.indexOf(';') + 1), typed,
          typed.mid(typed.indexOf(';') + 1), TestDatabase::storedPasswordForm(typed)}) {
        SCOPED_TRACE(secret.toStdString());
        EXPECT_EQ(filesHolding(folder, secret), QStringList());
    }
}

TEST(SqlServerTraces, ForcedOdbcTracingIsRefusedBeforeConnecting)
{
    const int port = closedLoopbackPort();
    ASSERT_GT(port, 0);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const reliability::ChildOutcome outcome = connectWithTracesAskedFor(
        dir.path(), "Trace=Yes\nForceTrace=Yes\n", QStringLiteral("127.0.0.1,%1").arg(port));
    ASSERT_TRUE(outcome.exited) << outcome.describe().toStdString();
    EXPECT_EQ(outcome.result("talvex"), QString::number(gst::err::kInvalidArgument));
    EXPECT_EQ(filesHolding(dir.path(), kSaPassword.mid(kSaPassword.indexOf(';') + 1)), QStringList());
}

// FreeTDS registered under its own name and under Microsoft's, as shops with
// Windows habits do: what the driver is, not its name, decides how values are
// written. Set before the first ODBC call of this process.
class TwoNamesForFreeTds : public ::testing::Environment
{
public:
    void SetUp() override
    {
        QFile ini(QDir(m_dir.path()).filePath("odbcinst.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[FreeTDS]\nDriver=libtdsodbc.so\n\n[SQL Server]\nDriver=libtdsodbc.so\n");
        ini.close();
        qputenv("ODBCSYSINI", QFile::encodeName(m_dir.path()));
    }

private:
    QTemporaryDir m_dir;
};
const auto* const kTwoNames = ::testing::AddGlobalTestEnvironment(new TwoNamesForFreeTds);
const char* const kFreeTdsNames[] = {"FreeTDS", "SQL Server"};

// A listener that nobody should reach: a breakout would name it.
class Decoy
{
public:
    explicit Decoy(const QString& address)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        ::inet_pton(AF_INET, address.toLatin1().constData(), &addr.sin_addr);
        socklen_t length = sizeof(addr);
        if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
            ::listen(m_fd, 16) == 0 && ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
            m_port = ntohs(addr.sin_port);
    }
    ~Decoy()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int port() const { return m_port; }
    // Connections that reached it so far (accepted and closed at once).
    int contacts()
    {
        for (;;) {
            const int c = ::accept(m_fd, nullptr, nullptr);
            if (c < 0)
                break;
            ::close(c);
            ++m_contacts;
        }
        return m_contacts;
    }

private:
    int m_fd = -1;
    int m_port = 0;
    int m_contacts = 0;
};

std::unique_ptr<Connection> connectionTo(const QString& server, const QString& catalog,
                                         const QString& password, const QString& options = QString(),
                                         const QString& driver = "FreeTDS")
{
    auto c = std::make_unique<Connection>();
    c->setProvider("SQLOLEDB");
    c->setDriver(driver, options);
    c->setProperty("Data Source", server);
    c->setProperty("Initial Catalog", catalog);
    c->setProperty("User ID", "sa");
    c->setProperty("Password", password);
    return c;
}

// 0 when the connection opened, else the error number.
long openError(Connection& c)
{
    try {
        c.open();
    } catch (const AppError& e) {
        return e.number();
    }
    return 0;
}

bool holdsControlCharacter(const QString& s)
{
    for (const QChar c : s) {
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0))
            return true;
    }
    return false;
}

// The stand-in driver library records in this file that it was loaded. The
// driver manager does load it when a string names it: checked first, in a
// child, since a library once loaded stays loaded and records no more.
QString standInRecord(const QTemporaryDir& dir)
{
    const QString record = QDir(dir.path()).filePath("standin-loaded");
    qputenv("GST_STANDIN_RECORD", QFile::encodeName(record));
    reliability::runChild([] {
        SQLHENV env = nullptr;
        SQLHDBC dbc = nullptr;
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        QByteArray named = "DRIVER=" GST_STANDIN_DRIVER ";";
        SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(named.data()), SQL_NTS, nullptr, 0, nullptr,
                         SQL_DRIVER_NOPROMPT);
    });
    EXPECT_TRUE(QFile::exists(record)) << "the stand-in library cannot show that it was loaded";
    QFile::remove(record);
    return record;
}

class SqlServerValues : public ::testing::Test
{
protected:
    void SetUp() override
    {
        db.createDatabase("talvex", standardRetailData());
        peer.setAcceptAnyLogin(true);
        peer.start();
    }
    TestDatabase db;
    TdsPeer peer{db.folder()};
};

// A firm's database name reaches the server exactly as stored, or is refused
// before any connection when SQL Server could not hold it; no name makes the
// driver contact anything else on loopback.
TEST_F(SqlServerValues, HostileDatabaseNamesArriveWholeOrAreRefusedAndReachNothingElse)
{
    Decoy samePortElsewhere(peer.address());
    Decoy otherHost(QStringLiteral("127.0.0.1"));
    ASSERT_GT(samePortElsewhere.port(), 0);
    ASSERT_GT(otherHost.port(), 0);
    std::vector<reliability::Hostile> names = reliability::hostileCorpus();
    names.push_back(
        {"port break-out", QStringLiteral("x};Port=%1;Database={y").arg(samePortElsewhere.port())});
    names.push_back({"server break-out",
                     QStringLiteral("x};Server=127.0.0.1;Port=%1;Database={y").arg(otherHost.port())});
    names.push_back({"plain port break-out", QStringLiteral("x;Port=%1").arg(samePortElsewhere.port())});
    names.push_back({"braces doubled", QStringLiteral("a}}b{{c}")});
    names.push_back({"non-ASCII port break-out",
                     QString::fromUtf8("dükkan};Port=%1;Database={y").arg(samePortElsewhere.port())});
    names.push_back({"128 characters", QString(128, QLatin1Char('n'))});
    names.push_back({"129 characters", QString(129, QLatin1Char('n'))});
    names.push_back({"65600 characters", QString(65600, QLatin1Char('w'))});
    names.push_back(
        {"dump file break-out",
         QString::fromUtf8("\xc3\xbc};Port=%1;DumpFile=dump.log;x={").arg(samePortElsewhere.port())});
    // unixODBC reads the wide string narrowed to the low byte of each unit:
    // U+013B as ";", U+013D as "=", U+017D ("Ž" from a varchar) as "}".
    QTemporaryDir dir;
    const QString record = standInRecord(dir);
    const QString standIn = QStringLiteral(GST_STANDIN_DRIVER);
    names.push_back(
        {"narrowed driver, nvarchar", "x" + QString(QChar(0x13B)) + "DRIVER" + QChar(0x13D) + standIn});
    names.push_back(
        {"narrowed driver, varchar", "shop" + QString(QChar(0x17D)) + ";DRIVER=" + standIn + ";x"});
    for (const char* driver : kFreeTdsNames)
        for (const reliability::Hostile& h : names) {
            SCOPED_TRACE(h.label.toStdString() + " through " + driver);
            const int before = peer.connectionCount();
            auto c = connectionTo(peer.serverName(), h.text, "pw", QString(), driver);
            const long error = openError(*c);
            // Outside ASCII the name goes through FreeTDS's connection string, which cannot carry "};".
            bool ascii = true;
            for (const QChar ch : h.text)
                ascii = ascii && ch.unicode() < 0x80;
            if (h.text.size() > 128 || holdsControlCharacter(h.text) || (!ascii && h.text.contains("};")) ||
                h.label.startsWith("narrowed")) {
                EXPECT_EQ(error, gst::err::kInvalidArgument);
                EXPECT_EQ(peer.connectionCount(), before) << "a refused name still reached the server";
                continue;
            }
            // No file behind the name: the peer refuses the database (4060) after the login arrived.
            if (peer.logins().size() != static_cast<size_t>(before) + 1) {
                ADD_FAILURE() << "no login arrived at the server; error " << error;
                continue;
            }
            const TdsPeer::Login login = peer.logins().back();
            EXPECT_EQ(login.database, h.text);
            EXPECT_EQ(login.userName, "sa");
            EXPECT_EQ(login.password, "pw");
        }
    EXPECT_EQ(samePortElsewhere.contacts(), 0);
    EXPECT_EQ(otherHost.contacts(), 0);
    EXPECT_FALSE(QFile::exists(record)) << "a database name made the driver manager load another library";
}

// The sa password arrives whole whatever it holds, or is refused naming why.
TEST_F(SqlServerValues, PasswordsArriveWholeOrAreRefused)
{
    Decoy elsewhere(peer.address());
    ASSERT_GT(elsewhere.port(), 0);
    const QString port = QString::number(elsewhere.port());
    struct Case {
        QString password;
        bool arrives;
    };
    const Case cases[] = {
        {"Zq7sa;Pw}={x}42", true},
        {"}", true},
        {"{", true},
        {";", true},
        {"=", true},
        {"}}", true},
        {"{x}", true},
        {"a}b{c", true},
        {" padded ", true},
        {"x;Port=" + port, true},
        {"x}Port=" + port, true},
        {"{DRIVER=/nonexistent.so}", true},
        {QString::fromUtf8("pässwörd€"), true},
        {QString(128, 'p'), true},
        // FreeTDS ends a braced value at the first "};": such a password cannot be written.
        {"a};Port=" + port + ";PWD={b", false},
        // The driver manager would read a driver of its own out of it.
        {"a}DRIVER=/nonexistent.so;b", false},
        {QString(129, 'p'), false},
        {QString(65600, 'p'), false},
        {QStringLiteral("pw") + QChar(0) + QStringLiteral("x"), false},
        // Read by unixODBC as "x;DRIVER=<the stand-in>".
        {"x" + QString(QChar(0x13B)) + "DRIVER" + QChar(0x13D) + GST_STANDIN_DRIVER, false},
    };
    QTemporaryDir dir;
    const QString record = standInRecord(dir);
    for (const char* driver : kFreeTdsNames)
        for (const Case& k : cases) {
            SCOPED_TRACE(k.password.left(40).toStdString() + " through " + driver);
            const int before = peer.connectionCount();
            auto c = connectionTo(peer.serverName(), "talvex", k.password, QString(), driver);
            const long error = openError(*c);
            if (!k.arrives) {
                EXPECT_EQ(error, gst::err::kInvalidArgument);
                EXPECT_EQ(peer.connectionCount(), before);
                continue;
            }
            EXPECT_EQ(error, 0);
            ASSERT_EQ(peer.logins().size(), static_cast<size_t>(before) + 1);
            EXPECT_EQ(peer.logins().back().password, k.password);
            EXPECT_EQ(peer.logins().back().database, "talvex");
        }
    EXPECT_EQ(elsewhere.contacts(), 0);
    EXPECT_FALSE(QFile::exists(record)) << "a password made the driver manager load another library";
}

// Through the program's own path: the shop's connection and the agent's msdb
// connection both carry an sa password holding "}", ";", "{" and "=" whole, encrypted.
TEST(SqlServerSignIn, SaPasswordWithBracesSignsInOnBothConnections)
{
    TestDatabase db;
    db.createDatabase("talvex", standardRetailData());
    TdsPeer peer(db.folder());
    peer.setAcceptedLogin("sa", kSaPassword);
    peer.start();
    db.writeLoginSettings(peer.serverName(), kSaPassword, "FreeTDS");
    const reliability::ChildOutcome outcome = reliability::runChild([] {
        gDatabaseName = "talvex";
        ConnectDatabase();
        std::unique_ptr<Connection> agent;
        gst::openAgentConnection(agent);
        reliability::report("agentOpen", agent && agent->isOpen() ? "1" : "0");
    });
    ASSERT_EQ(outcome.exitCode, reliability::kChildReturned) << outcome.describe().toStdString();
    EXPECT_EQ(outcome.result("agentOpen"), "1");
    const auto logins = peer.logins();
    ASSERT_EQ(logins.size(), 2u);
    EXPECT_EQ(logins[0].database, "talvex");
    EXPECT_EQ(logins[1].database, "msdb");
    for (const TdsPeer::Login& login : logins) {
        EXPECT_EQ(login.password, kSaPassword);
        EXPECT_TRUE(login.encrypted);
        EXPECT_TRUE(login.accepted);
    }
}

// Encryption is required by default: a server that offers none gets no login;
// the login settings' Options may opt out, in the words the driver reads.
TEST(SqlServerEncryption, RequiredUnlessTheOptionsOptOut)
{
    struct Case {
        const char* name;
        TdsPeer::Encryption server;
        QString options;
        const char* driver;
        long error;
        bool encrypted;
    };
    const long refused = gst::err::kInvalidArgument, down = gst::err::kGenericFailure;
    const Case cases[] = {
        {"server offers none", TdsPeer::Encryption::NotSupported, QString(), "FreeTDS", down, false},
        {"server offers none, FreeTDS named SQL Server", TdsPeer::Encryption::NotSupported, QString(),
         "SQL Server", down, false},
        {"server encrypts everything", TdsPeer::Encryption::On, QString(), "FreeTDS", 0, true},
        {"server encrypts the login only", TdsPeer::Encryption::Off, QString(), "SQL Server", 0, true},
        {"opt-out: request", TdsPeer::Encryption::NotSupported, "Encryption=request", "FreeTDS", 0, false},
        {"opt-out: off", TdsPeer::Encryption::NotSupported, "Encryption=OFF", "SQL Server", 0, false},
        // Keys FreeTDS does not read would leave it unencrypted while meant otherwise.
        {"Microsoft's words", TdsPeer::Encryption::NotSupported, "Encrypt=yes", "FreeTDS", refused, false},
        {"opt-out in Microsoft's words", TdsPeer::Encryption::NotSupported, "Encrypt=no", "SQL Server",
         refused, false},
        {"key with a blank", TdsPeer::Encryption::NotSupported, "Encryption =require", "FreeTDS", refused,
         false},
        {"value FreeTDS does not take", TdsPeer::Encryption::NotSupported, "Encryption=yes", "FreeTDS",
         refused, false},
        // FreeTDS matches keys with strcasecmp: in Turkish "ENCRYPTION" is not "Encryption".
        {"the key in capitals", TdsPeer::Encryption::NotSupported, "ENCRYPTION=require", "FreeTDS", down,
         false},
    };
    // The whole table in the locale where letter case is not ASCII's (localedef -i tr_TR -f UTF-8).
    const std::string before = setlocale(LC_ALL, nullptr);
    ASSERT_NE(setlocale(LC_ALL, "tr_TR.UTF-8"), nullptr) << "the tr_TR.UTF-8 locale is not installed";
    struct Restore {
        std::string locale;
        ~Restore() { setlocale(LC_ALL, locale.c_str()); }
    } restore{before};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TestDatabase db;
        db.createDatabase("talvex", standardRetailData());
        TdsPeer peer(db.folder());
        peer.setEncryption(k.server);
        peer.setAcceptedLogin("sa", kSaPassword);
        peer.start();
        auto c = connectionTo(peer.serverName(), "talvex", kSaPassword, k.options, k.driver);
        EXPECT_EQ(openError(*c), k.error);
        if (k.error != 0) {
            EXPECT_EQ(peer.connectionCount() >= 1, k.error == down) << "refused, yet the server was asked";
            EXPECT_TRUE(peer.logins().empty()) << "a login packet reached a server without encryption";
            continue;
        }
        ASSERT_EQ(peer.logins().size(), 1u);
        EXPECT_EQ(peer.logins()[0].encrypted, k.encrypted);
        EXPECT_EQ(peer.logins()[0].password, kSaPassword);
    }
}

// FreeTDS takes host, port and protocol version from its environment over the
// connection string: none of it may send the login anywhere else.
TEST_F(SqlServerValues, FreeTdsEnvironmentDoesNotRedirectTheLogin)
{
    Decoy elsewhere(QStringLiteral("127.0.0.1"));
    ASSERT_GT(elsewhere.port(), 0);
    qputenv("TDSHOST", "127.0.0.1");
    qputenv("TDSPORT", QByteArray::number(elsewhere.port()));
    qputenv("TDSVER", "5.0");
    qputenv("TDSQUERY", "elsewhere");
    // GnuTLS, FreeTDS's TLS, writes the session secrets to this file.
    QTemporaryDir dir;
    const QString keyLog = QDir(dir.path()).filePath("keys.log");
    qputenv("SSLKEYLOGFILE", QFile::encodeName(keyLog));
    auto c = connectionTo(peer.serverName(), "talvex", "pw");
    EXPECT_EQ(openError(*c), 0);
    ASSERT_EQ(peer.logins().size(), 1u);
    EXPECT_EQ(peer.logins()[0].password, "pw");
    EXPECT_TRUE(peer.logins()[0].encrypted);
    EXPECT_EQ(elsewhere.contacts(), 0);
    EXPECT_FALSE(QFile::exists(keyLog)) << "the TLS session secrets were written out";
    for (const char* name : {"TDSHOST", "TDSPORT", "TDSVER", "TDSQUERY", "SSLKEYLOGFILE"})
        qunsetenv(name);
}

// With unixODBC's connection pooling on (odbcinst.ini), a pooled connection is
// matched by its string alone and comes back in the database it was in: the
// catalog set as an attribute is lost. The program must not work there.
TEST_F(SqlServerValues, PooledConnectionInAnotherDatabaseIsRefused)
{
    db.createDatabase("firm_one", standardRetailData());
    QFile ini(QDir(QFile::decodeName(qgetenv("ODBCSYSINI"))).filePath("odbcinst.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadWrite));
    const QByteArray unpooled = ini.readAll();
    ini.resize(0);
    ini.write("[ODBC]\nPooling=Yes\n\n[FreeTDS]\nDriver=libtdsodbc.so\nCPTimeout=60\n");
    ini.close();
    struct Restore {
        QFile& ini;
        const QByteArray& content;
        ~Restore()
        {
            if (ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
                ini.write(content);
        }
    } restore{ini, unpooled};
    EXPECT_EQ(openError(*connectionTo(peer.serverName(), "talvex", "pw")), 0);
    auto firm = connectionTo(peer.serverName(), "firm_one", "pw");
    const long error = openError(*firm);
    const bool reachedFirm = !peer.logins().empty() && peer.logins().back().database == "firm_one";
    EXPECT_TRUE(error == gst::err::kInvalidArgument || (error == 0 && reachedFirm)) << "error " << error;
    EXPECT_EQ(firm->isOpen(), error == 0);
}

// The operator sees the connection failure when the server offers no encryption.
TEST(SqlServerEncryption, ServerWithoutEncryptionIsNetworkDownForTheOperator)
{
    TestDatabase db;
    db.createDatabase("talvex", standardRetailData());
    TdsPeer peer(db.folder());
    peer.setEncryption(TdsPeer::Encryption::NotSupported);
    peer.setAcceptedLogin("sa", kSaPassword);
    peer.start();
    db.writeLoginSettings(peer.serverName(), kSaPassword, "FreeTDS");
    const reliability::ChildOutcome outcome = reliability::runChild([] {
        gDatabaseName = "talvex";
        ConnectDatabase();
    });
    EXPECT_EQ(outcome.exitCode, gst::kExitError) << outcome.describe().toStdString();
    EXPECT_EQ(outcome.boxes(),
              QStringList{reliability::boxLine("critical", "", "Network is down Or Server may be Off!")});
    EXPECT_TRUE(peer.logins().empty());
}

} // namespace
