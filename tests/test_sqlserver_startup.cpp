// The start-up's failures and the SQL Server Agent picture against the TDS
// peer through the real FreeTDS driver: the boxes and exit codes a shop sees.
#include "platform/LoginSettings.h"
#include "platform/MessageBox.h"
#include "platform/ProgramEnd.h"
#include "signin/FrmLogin.h"
#include "startup/ConnectionState.h"
#include "startup/ModMain.h"
#include "support/QtPrinters.h"
#include "support/Reliability.h"
#include "support/TdsPeer.h"
#include "support/TestDatabase.h"
#include "ui_FrmLogin.h"

#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace reliability;

namespace
{

const QString kPassword = "Shop#Secret1";

// A server that reads the client's PRELOGIN and closes the connection.
class ClosesAfterPrelogin
{
public:
    ClosesAfterPrelogin()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
            ::listen(m_fd, 4) != 0)
            throw std::runtime_error("cannot listen");
        socklen_t length = sizeof(addr);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &length);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~ClosesAfterPrelogin()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }
    QString serverName() const { return QStringLiteral("127.0.0.1,%1").arg(m_port); }
    int preloginsRead() const { return m_prelogins; }

private:
    void serve()
    {
        // Bounded: polls for at most 60 s in all.
        for (int i = 0; i < 600 && !m_stop; ++i) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            const int client = ::accept(m_fd, nullptr, nullptr);
            if (client < 0)
                continue;
            pollfd c{client, POLLIN, 0};
            char header[8];
            if (::poll(&c, 1, 5000) > 0 && ::recv(client, header, sizeof(header), 0) == 8 &&
                header[0] == 0x12)
                ++m_prelogins;
            ::close(client);
        }
    }

    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_prelogins{0};
    std::thread m_thread;
};

struct StartupFailure {
    const char* name;
    const char* database; // the database the start-up opens
    bool wrongPassword;
    bool closingServer;
    QString box;
};

// Each failure of the first connection shows what the start-up's error table
// says and ends with exit code 3, before any window opens.
TEST(SqlServerStartup, ConnectionFailuresShowTheirBoxAndEndWithExitCode3)
{
    const QString networkDown = boxLine("critical", "", "Network is down Or Server may be Off!");
    const StartupFailure cases[] = {
        {"server closes the connection after PRELOGIN", "talvex", false, true, networkDown},
        {"login refused (18456)", "talvex", true, false,
         boxLine("critical", "-2147217843", "[FreeTDS][SQL Server]Login failed for user 'sa'.")},
        {"database cannot be opened (4060)", "nosuchfirm", false, false, networkDown},
    };
    for (const StartupFailure& c : cases) {
        SCOPED_TRACE(c.name);
        gst::msgbox_seam::clear();
        TestDatabase db;
        db.createDatabase("talvex", standardRetailData());
        TdsPeer peer(db.folder());
        peer.setAcceptedLogin("sa", kPassword);
        peer.start();
        std::unique_ptr<ClosesAfterPrelogin> closing;
        if (c.closingServer)
            closing = std::make_unique<ClosesAfterPrelogin>();
        db.writeLoginSettings(closing ? closing->serverName() : peer.serverName(),
                              c.wrongPassword ? "not-the-password" : kPassword, "FreeTDS");

        const ChildOutcome run = runChild([&] {
            gDatabaseName = c.database;
            ConnectDatabase();
            report("connected", "yes");
        });

        ASSERT_TRUE(run.exited) << run.describe().toStdString();
        EXPECT_EQ(run.exitCode, gst::kExitError) << run.describe().toStdString();
        EXPECT_EQ(run.boxes(), QStringList{c.box}) << run.describe().toStdString();
        EXPECT_FALSE(run.out.contains(kPassword) || run.err.contains(kPassword));
        if (closing) {
            EXPECT_GE(closing->preloginsRead(), 1);
            EXPECT_EQ(peer.connectionCount(), 0);
        } else {
            ASSERT_FALSE(peer.logins().empty());
            EXPECT_EQ(peer.logins().front().database, c.database);
            EXPECT_FALSE(peer.logins().front().accepted);
            EXPECT_EQ(peer.statements(), QStringList());
        }
    }
}

// The login window's picture on a server behind the peer: the statement goes
// to msdb on the window's own connection; the server's answer picks the box.
class SqlServerAgent : public ::testing::Test
{
protected:
    void SetUp() override
    {
        db.createDatabase("talvex", standardRetailData());
        peer = std::make_unique<TdsPeer>(db.folder());
        peer->setAcceptedLogin("sa", kPassword);
        // What ConnectDatabase leaves behind.
        gLogin = std::make_unique<gst::LoginSettings>();
        gLogin->driver = "FreeTDS";
        gDbUser = "sa";
        gDbPassword = kPassword;
        gDatabaseName = "talvex";
        gst::msgbox_seam::clear();
    }
    void TearDown() override
    {
        window.reset();
        gLogin.reset();
    }

    void openWindowAndClickTwice()
    {
        peer->start();
        gServerName = peer->serverName();
        window = std::make_unique<FrmLogin>();
        window->Form_Load();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        for (int i = 0; i < 2 && window->ui()->Image1->isVisible(); ++i)
            QTest::mouseClick(window->ui()->Image1, Qt::LeftButton, {}, QPoint(20, 20));
    }

    QStringList boxes() const
    {
        QStringList shown;
        for (const gst::ShownBox& b : gst::msgbox_seam::shown())
            shown << gst::msgbox_seam::describe(b);
        return shown;
    }

    TestDatabase db;
    std::unique_ptr<TdsPeer> peer;
    std::unique_ptr<FrmLogin> window;
};

TEST_F(SqlServerAgent, ClickSendsTheStartToMsdbAndTheServersAnswerPicksTheBox)
{
    struct Case {
        const char* name;
        bool succeed;
        QString box;
    };
    const Case cases[] = {
        {"the Agent starts", true,
         boxLine("information", gst::kAppTitle, "SQL Server Agent Started Successfully")},
        {"the server answers with an error", false,
         boxLine("information", gst::kAppTitle, "SQL Server Agent already Running...")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        TdsPeer::AgentAnswer answer;
        answer.succeed = c.succeed;
        peer->setAgentAnswer(answer);
        openWindowAndClickTwice();

        // One click: the picture is gone after its box.
        EXPECT_EQ(boxes(), QStringList{c.box});
        EXPECT_FALSE(window->ui()->Image1->isVisible());
        ASSERT_EQ(peer->logins().size(), 1u);
        EXPECT_EQ(peer->logins().front().database, "msdb");
        EXPECT_EQ(peer->statements(1),
                  QStringList{"exec master.dbo.xp_servicecontrol 'Start', 'SQLServerAgent' "});
        for (const TdsPeer::Request& r : peer->requests())
            EXPECT_EQ(r.database, "msdb");
        TearDown();
    }
}

TEST_F(SqlServerAgent, UnopenedAgentConnectionShowsNothingAndSendsNothing)
{
    // The server refuses the login to msdb: the window opens all the same.
    gDbPassword = "not-the-password";
    openWindowAndClickTwice();
    EXPECT_EQ(boxes(), QStringList());
    EXPECT_TRUE(window->ui()->Image1->isVisible());
    ASSERT_EQ(peer->logins().size(), 1u);
    EXPECT_FALSE(peer->logins().front().accepted);
    EXPECT_EQ(peer->statements(), QStringList());
}

} // namespace
