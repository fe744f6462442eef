// Not on Windows: reads core-file limits and memory maps from /proc and sets Linux process attributes.
// The password of the database login "sa" (from the login settings) and the
// password the operator types never appear in anything the program prints or
// shows: not in stdout or stderr, not in a message box's text or title, not in
// an error description, and not when the connection fails.
#include "app/ModMain.h"
#include "conversion/Form1.h"
#include "platform/Error.h"
#include "platform/Odbc.h"
#include "platform/ProcessHardening.h"
#include "platform/ProgramEnd.h"
#include "signin/Credentials.h"
#include "signin/FrmLogin.h"
#include "state/ConnectionState.h"
#include "support/QtPrinters.h"
#include "support/Reliability.h"
#include "support/RunLogFolder.h"
#include "support/TestDatabase.h"
#include "ui_Form1.h"
#include "ui_FrmLogin.h"
#include "widgets/Handler.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <future>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace reliability;

namespace
{

// Distinctive, and holding the characters a connection string must quote.
const QString kSaPassword = "Zq7sa;Pw}={x}42";
const QString kTypedPassword = "Typ3dSecret!9";

// Every form of a secret that would give it away: whole, its distinctive
// start, and the stored (transformed) form of the typed one.
QStringList secretForms()
{
    return {kSaPassword,
            kSaPassword.left(7),
            kTypedPassword,
            kTypedPassword.left(9),
            storedPasswordForm(kTypedPassword),
            storedPasswordForm(kTypedPassword).left(6)};
}

// Where a secret shows up in what a child printed (message boxes included).
QStringList leaks(const ChildOutcome& run)
{
    QStringList found;
    for (const QString& secret : secretForms()) {
        if (run.out.contains(secret))
            found << "stdout holds " + secret;
        if (run.err.contains(secret))
            found << "stderr holds " + secret;
    }
    return found;
}

QStringList leaks(const QString& text)
{
    QStringList found;
    for (const QString& secret : secretForms()) {
        if (text.contains(secret))
            found << secret;
    }
    return found;
}

// Listens on a loopback port and answers every connection with bytes that are
// not the server's protocol, then hangs up.
class GarbageServer
{
public:
    GarbageServer()
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_socket, 8) != 0 ||
            ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length))
            throw std::runtime_error("cannot listen on the loopback interface");
        m_port = ntohs(address.sin_port);
        // Children are forked while this thread runs: they start only once it
        // waits in accept(), not while it is starting up.
        std::promise<void> started;
        m_thread = std::thread([this, &started] {
            m_tid = static_cast<int>(::gettid());
            started.set_value();
            for (;;) {
                const int client = ::accept(m_socket, nullptr, nullptr);
                if (client < 0)
                    return;
                static const char reply[] = "HTTP/1.0 400 Bad Request\r\n\r\n\x04\x01\x00\x08garbage";
                [[maybe_unused]] const auto n = ::send(client, reply, sizeof(reply), MSG_NOSIGNAL);
                ::close(client);
            }
        });
        started.get_future().wait();
        for (int waited = 0; waited < 2000 && !waitsInAccept(); waited += 5)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~GarbageServer()
    {
        ::shutdown(m_socket, SHUT_RDWR);
        ::close(m_socket);
        m_thread.join();
    }
    int port() const { return m_port; }

private:
    bool waitsInAccept() const
    {
        QFile wchan(QStringLiteral("/proc/self/task/%1/wchan").arg(m_tid));
        return wchan.open(QIODevice::ReadOnly) && wchan.readAll().contains("accept");
    }

    int m_tid = 0;
    int m_socket = -1;
    int m_port = 0;
    std::thread m_thread;
};

class Secrets : public ::testing::Test
{
protected:
    void SetUp() override { gst::msgbox_seam::clear(); }
    void TearDown() override { gConnection.reset(); }

    void shop(const QString& extra = QString())
    {
        db.createDatabase("talvex", standardRetailData() + extra);
        db.exec("talvex", "update usermaster set Password = ? where loginname = 'admin'",
                {storedPasswordForm(kTypedPassword)});
    }

    // In the child: the start-up as the program runs it.
    static void startUp()
    {
        gDatabaseName = "talvex";
        ConnectDatabase();
        report("stage", "connected");
    }

    TestDatabase db;
};

// The check itself finds a secret when one is printed or shown.
TEST_F(Secrets, TheSearchFindsASecretThatIsPrintedOrShown)
{
    const ChildOutcome printed = runChild([] { std::fprintf(stdout, "pwd=%s\n", qPrintable(kSaPassword)); });
    EXPECT_FALSE(leaks(printed).isEmpty());
    const ChildOutcome shown = runChild([] {
        gst::showMessage("Invalid", "user " + storedPasswordForm(kTypedPassword), gst::MsgIcon::Critical);
    });
    EXPECT_FALSE(leaks(shown).isEmpty());
}

struct FailingConnection {
    const char* name;
    const char* server;  // the login settings' ServerName; "folder" for the test's folder
    const char* driver;  // its Driver
    const char* options; // its Options
    int permissions;
    QString box; // the box the failure ends with; empty: any single box
};

TEST_F(Secrets, FailedConnectionsNeverShowOrPrintTheSaPassword)
{
    shop();
    const QString network = "[msgbox] icon=critical title= text=Network is down Or Server may be Off!";
    GarbageServer garbage;
    const FailingConnection cases[] = {
        {"SQL Server on a closed loopback port", "127.0.0.1,1", "FreeTDS", "", 0600, network},
        {"a server that answers garbage", "garbage", "FreeTDS", "", 0600, ""},
        {"SQL Server with bad extra attributes", "127.0.0.1,1", "FreeTDS", "TextSize=x;PacketSize=y", 0600,
         nullptr},
        // FreeTDS 1.3 reports this one as a connection, opening none.
        {"an attribute FreeTDS cannot read", "127.0.0.1,1", "FreeTDS", "ApplicationIntent=x", 0600, network},
        {"no such ODBC driver", "127.0.0.1", "No Such Driver", "", 0600, network},
        {"SQLite database missing", "missing-folder", "SQLite3", "", 0600, network},
        {"login settings readable by others", "folder", "SQLite3", "", 0644, ""},
    };
    for (const FailingConnection& c : cases) {
        SCOPED_TRACE(c.name);
        QString server = c.server;
        if (server == "folder")
            server = db.folder();
        if (server == "garbage")
            server = QString("127.0.0.1,%1").arg(garbage.port());
        db.writeLoginSettings(server, kSaPassword, c.driver, c.options, c.permissions);

        const ChildOutcome run = runChild(startUp);

        EXPECT_TRUE(run.exited && run.exitCode == gst::kExitError) << run.describe().toStdString();
        EXPECT_FALSE(run.sanitizerReport());
        ASSERT_EQ(run.boxes().size(), 1) << run.describe().toStdString();
        if (!c.box.isEmpty()) {
            EXPECT_EQ(run.lastBox(), c.box);
        }
        EXPECT_EQ(leaks(run), QStringList()) << run.describe().toStdString();
    }
}

TEST_F(Secrets, ErrorDescriptionsOfFailedOpensHoldNoPassword)
{
    struct Target {
        const char* driver;
        const char* server;
        const char* options;
    };
    const Target targets[] = {
        {"FreeTDS", "127.0.0.1,1", ""},
        {"FreeTDS", "127.0.0.1,1", "TextSize=x"},
        {"No Such Driver", "127.0.0.1", ""},
        {"SQLite3", "/nonexistent", ""},
    };
    for (const Target& t : targets) {
        SCOPED_TRACE(t.driver);
        gst::Connection c;
        c.setProvider("SQLOLEDB");
        c.setDriver(t.driver, t.options);
        c.setProperty("Data Source", t.server);
        c.setProperty("Initial Catalog", "talvex");
        c.setProperty("User ID", "sa");
        c.setProperty("Password", kSaPassword);
        try {
            c.open();
            ADD_FAILURE() << "opened";
        } catch (const gst::AppError& e) {
            EXPECT_EQ(leaks(e.description()), QStringList()) << e.description().toStdString();
            EXPECT_EQ(leaks(QString::fromUtf8(e.what())), QStringList());
        }
    }
}

// In the child: signs in with a wrong password, then the right one, and
// converts Grocery; the agent picture is clicked on the way.
void signInAndConvert(bool agentOnClosedPort)
{
    gDatabaseName = "talvex";
    ConnectDatabase();
    if (agentOnClosedPort) {
        // The agent connection reaches SQL Server with the same login as the shop.
        gLogin->driver = "FreeTDS";
        gServerName = "127.0.0.1,1";
    }
    auto* login = new FrmLogin(&Form1::openConversionWindow);
    login->Form_Load();
    login->show();
    Ui::FrmLogin* ui = login->ui();
    QTest::mouseClick(ui->Image1, Qt::LeftButton);
    QTest::keyClicks(ui->txtUserName, "admin");
    QTest::keyClicks(ui->txtPassword, kTypedPassword + "x");
    ui->cmdOk->click();
    QTest::keyClicks(ui->txtPassword, kTypedPassword);
    ui->cmdOk->click();
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* form = qobject_cast<Form1*>(w); form && form->isVisible()) {
            QComboBox* list = form->ui()->Combo1;
            list->setCurrentIndex(list->findText("Grocery"));
            emit list->activated(list->currentIndex());
            form->ui()->Check1->setChecked(true);
            form->ui()->Command1->click();
        }
    }
}

struct SignInRun {
    const char* name;
    QString extra; // damage to the shop
    bool agentOnClosedPort;
    int exitCode;
    const char* lastBox; // a part of the last box
    const char* result;  // of the run's record; nullptr: no run reached the conversion
};

TEST_F(Secrets, SignInAndConversionNeverShowOrPrintEitherPassword)
{
    const SignInRun runs[] = {
        {"wrong then right password, converted", "", false, gst::kExitDone, "text=Done", "done"},
        {"agent on a closed port", "", true, gst::kExitDone, "text=Done", "done"},
        {"user record unreadable after the password matched", "update usermaster set Name = NULL;", false,
         gst::kExitError, "Run-time error '94'", nullptr},
        {"conversion fails and is reported", "drop table vatmaster;", false, gst::kExitError,
         "Run-time error '-2147217900'", "failed"},
        // The driver's text of the failure holds the sa password: the record withholds it.
        {"the failure's text holds the sa password",
         "create trigger leak before update on Products begin select raise(abort, " +
             TestDatabase::sqlQuote(kSaPassword) + "); end;",
         false, kChildReturned, "text=Try Again", "failed"},
    };
    for (const SignInRun& r : runs) {
        SCOPED_TRACE(r.name);
        shop(r.extra);
        db.writeLoginSettings(db.folder(), kSaPassword);
        RunLogFolder runLog;

        const ChildOutcome run = runChild([&] { signInAndConvert(r.agentOnClosedPort); });

        EXPECT_TRUE(run.exited && run.exitCode == r.exitCode) << run.describe().toStdString();
        EXPECT_FALSE(run.sanitizerReport());
        // The first attempt was refused, the second admitted.
        ASSERT_GE(run.boxes().size(), 2);
        EXPECT_EQ(run.boxes().first(), boxLine("critical", "", "Invalid Password - Try again!"));
        EXPECT_TRUE(run.lastBox().contains(r.lastBox)) << run.lastBox().toStdString();
        EXPECT_EQ(leaks(run), QStringList()) << run.describe().toStdString();

        // The run record names who converted, and holds neither password.
        EXPECT_EQ(leaks(QString::fromUtf8(runLog.bytes())), QStringList()) << runLog.bytes().toStdString();
        const std::vector<QJsonObject> records = runLog.records();
        ASSERT_EQ(records.size(), r.result ? 1u : 0u) << runLog.bytes().toStdString();
        if (r.result) {
            EXPECT_EQ(records[0]["result"].toString(), r.result);
            EXPECT_EQ(records[0]["appUser"].toString(), "admin");
            EXPECT_EQ(records[0]["lob"].toString(), "Grocery");
        }
    }
}

// The soft and hard core-file limits of a running process, from /proc.
std::pair<QString, QString> coreLimits(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/limits").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("Max core file size")) {
            const QStringList parts = QString::fromLatin1(line.mid(18)).simplified().split(' ');
            if (parts.size() >= 2)
                return {parts[0], parts[1]};
        }
    }
    return {};
}

// A crash must not write the sa password to disk: the program turns core files
// off (and, on Linux, makes itself not dumpable) before anything else.
TEST(SecretsOnDisk, TheProgramTurnsCoreDumpsOffAtStart)
{
    // The function, in a child that starts out dumpable with core files allowed.
    const ChildOutcome child = runChild([] {
        rlimit limit{};
        getrlimit(RLIMIT_CORE, &limit);
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_CORE, &limit);
        prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
        gst::disableCoreDumps();
        getrlimit(RLIMIT_CORE, &limit);
        report("dumpable", QString::number(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0)));
        report("core", QStringLiteral("%1 %2").arg(limit.rlim_cur).arg(limit.rlim_max));
    });
    EXPECT_EQ(child.result("dumpable"), "0");
    EXPECT_EQ(child.result("core"), "0 0");

    // The program itself: started with core files allowed, it must drop them.
    rlimit own{};
    getrlimit(RLIMIT_CORE, &own);
    if (own.rlim_max == 0)
        GTEST_SKIP() << "core files are already forbidden here; the program's change cannot be seen";
    const QString program = QDir(QCoreApplication::applicationDirPath()).filePath("../gstconvert");
    ASSERT_TRUE(QFile::exists(program)) << program.toStdString();
    QTemporaryDir config; // no login settings: the program shows its error and waits
    ASSERT_TRUE(config.isValid());
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.setChildProcessModifier([] {
        rlimit limit{};
        getrlimit(RLIMIT_CORE, &limit);
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_CORE, &limit);
    });
    process.start(program, {});
    ASSERT_TRUE(process.waitForStarted(10000));
    std::pair<QString, QString> limits;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 20000 && process.state() == QProcess::Running) {
        limits = coreLimits(process.processId());
        if (limits == std::pair<QString, QString>{"0", "0"})
            break;
        QTest::qWait(50);
    }
    process.kill();
    process.waitForFinished(10000);
    EXPECT_EQ(limits.first, "0");
    EXPECT_EQ(limits.second, "0");
}

} // namespace
