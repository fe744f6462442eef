// The start-up connection to SQL Server through FreeTDS and the TDS peer: the
// login packet the server receives, and how its refusals end the program.
#include "app/ModMain.h"
#include "platform/Error.h"
#include "platform/ProgramEnd.h"
#include "state/ConnectionState.h"
#include "support/QtPrinters.h"
#include "support/TdsPeer.h"
#include "support/TestDatabase.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include "PeerSockets.h"

#include <atomic>
#include <thread>

using ::testing::ExitedWithCode;

namespace
{

const QString kSaPassword = QString::fromUtf16(u"S@-Pw#2019!\u00E9\u20AC");

// Connects like the start-up does and, when the program goes on, ends it with
// a code of the test's own so that passing is seen from outside.
void connectThenEnd(const QString& database)
{
    gDatabaseName = database;
    ConnectDatabase();
    gst::endProgram(42);
}

class SqlServerStartup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        db.createDatabase(QStringLiteral("talvex"), standardRetailData());
        peer.setAcceptedLogin(QStringLiteral("sa"), kSaPassword);
    }
    void TearDown() override
    {
        gConnection.reset();
        peer.stop();
        EXPECT_EQ(peer.openConnectionCount(), 0);
    }
    TestDatabase db;
    TdsPeer peer{db.folder()};
};

TEST_F(SqlServerStartup, TheLoginPacketCarriesSaItsPasswordAndTheDatabase)
{
    peer.start();
    db.writeLoginSettings(peer.serverName(), kSaPassword, QStringLiteral("FreeTDS"));
    gDatabaseName = QStringLiteral("talvex");
    ConnectDatabase();
    ASSERT_TRUE(gConnection && gConnection->isOpen());

    const auto logins = peer.logins();
    ASSERT_EQ(logins.size(), 1u);
    const TdsPeer::Login& l = logins[0];
    EXPECT_EQ(l.userName, QStringLiteral("sa"));
    EXPECT_EQ(l.password, kSaPassword);
    EXPECT_EQ(l.database, QStringLiteral("talvex"));
    EXPECT_EQ(l.serverName, peer.address());
    EXPECT_EQ(l.appName, QString());
    EXPECT_EQ(l.tdsVersion, 0x74000004u);
    EXPECT_TRUE(l.encrypted); // the password never crosses the wire in clear
    EXPECT_TRUE(l.accepted);
    EXPECT_EQ(peer.statements(), QStringList{QStringLiteral("select billdate from options")});
    EXPECT_EQ(gBillDate, QDateTime(QDate(2019, 4, 1), QTime(0, 0)));
}

TEST_F(SqlServerStartup, ANamedInstanceIsLookedUpThroughTheBrowser)
{
    peer.setInstance(QStringLiteral("SHOP"));
    try {
        peer.start();
    } catch (const std::runtime_error& e) {
        GTEST_SKIP() << e.what();
    }
    db.writeLoginSettings(peer.instanceServerName(), kSaPassword, QStringLiteral("FreeTDS"));
    gDatabaseName = QStringLiteral("talvex");
    ConnectDatabase();
    ASSERT_TRUE(gConnection && gConnection->isOpen());
    EXPECT_EQ(peer.browserRequests(), QStringList{QStringLiteral("SHOP")});
    ASSERT_EQ(peer.logins().size(), 1u);
    EXPECT_EQ(peer.logins()[0].database, QStringLiteral("talvex"));
}

// Each case runs in a child process (the program ends); the peer the child
// talks to is the one the child starts on its own address.
TEST_F(SqlServerStartup, RefusedLoginReportsTheLoginFailedNumber)
{
    peer.start();
    db.writeLoginSettings(peer.serverName(), QStringLiteral("not-the-password"), QStringLiteral("FreeTDS"));
    EXPECT_EXIT(connectThenEnd(QStringLiteral("talvex")), ExitedWithCode(gst::kExitError),
                "icon=critical title=-2147217843 text=.*Login failed for user 'sa'\\.");
}

TEST_F(SqlServerStartup, ADatabaseTheServerCannotOpenIsNetworkDown)
{
    peer.start();
    db.writeLoginSettings(peer.serverName(), kSaPassword, QStringLiteral("FreeTDS"));
    EXPECT_EXIT(connectThenEnd(QStringLiteral("firm_gone")), ExitedWithCode(gst::kExitError),
                "icon=critical title= text=Network is down Or Server may be Off!");
}

TEST_F(SqlServerStartup, AnInstanceTheBrowserDoesNotKnowIsNetworkDown)
{
    peer.setInstance(QStringLiteral("SHOP"));
    try {
        peer.start();
    } catch (const std::runtime_error& e) {
        GTEST_SKIP() << e.what();
    }
    db.writeLoginSettings(peer.address() + QStringLiteral("\\ELSEWHERE"), kSaPassword,
                          QStringLiteral("FreeTDS"));
    EXPECT_EXIT(connectThenEnd(QStringLiteral("talvex")), ExitedWithCode(gst::kExitError),
                "icon=critical title= text=Network is down Or Server may be Off!");
}

// A server that reads the client's PRELOGIN and closes the connection.
class ClosesAfterPrelogin
{
public:
    ClosesAfterPrelogin()
    {
        peersockets::startUp();
        m_fd = static_cast<int>(::socket(AF_INET, SOCK_STREAM, 0));
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
        peersockets::closeSocket(m_fd);
    }
    QString serverName() const { return QStringLiteral("127.0.0.1,%1").arg(m_port); }
    int preloginsRead() const { return m_prelogins; }

private:
    void serve()
    {
        // Bounded: polls for at most 60 s in all.
        for (int i = 0; i < 600 && !m_stop; ++i) {
            pollfd p = peersockets::pollEntry(m_fd, POLLIN);
            if (peersockets::pollSockets(&p, 1, 100) <= 0)
                continue;
            const int client = static_cast<int>(::accept(m_fd, nullptr, nullptr));
            if (client < 0)
                continue;
            pollfd c = peersockets::pollEntry(client, POLLIN);
            char header[8];
            if (peersockets::pollSockets(&c, 1, 5000) > 0 && ::recv(client, header, sizeof(header), 0) == 8 &&
                header[0] == 0x12)
                ++m_prelogins;
            peersockets::closeSocket(client);
        }
    }

    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_prelogins{0};
    std::thread m_thread;
};

TEST_F(SqlServerStartup, AServerThatClosesAfterPreloginIsNetworkDown)
{
    ClosesAfterPrelogin server;
    db.writeLoginSettings(server.serverName(), kSaPassword, QStringLiteral("FreeTDS"));
    EXPECT_EXIT(connectThenEnd(QStringLiteral("talvex")), ExitedWithCode(gst::kExitError),
                "icon=critical title= text=Network is down Or Server may be Off!");
}

} // namespace
