// The login window's SQL Server Agent picture against the TDS peer through the
// real FreeTDS driver: the statement on msdb and the box the server's answer gives.
#include "conversion/Form1.h"
#include "platform/LoginSettings.h"
#include "signin/FrmLogin.h"
#include "state/ConnectionState.h"
#include "support/QtPrinters.h"
#include "support/Reliability.h"
#include "support/TdsPeer.h"
#include "support/TestDatabase.h"
#include "ui_FrmLogin.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>

namespace
{

const QString kPassword = "Shop#Secret1";

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
        window = std::make_unique<FrmLogin>(&Form1::openConversionWindow);
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
         reliability::boxLine("information", gst::kAppTitle, "SQL Server Agent Started Successfully")},
        {"the server answers with an error", false,
         reliability::boxLine("information", gst::kAppTitle, "SQL Server Agent already Running...")},
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
