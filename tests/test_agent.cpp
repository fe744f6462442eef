// The picture that asks the server to start its SQL Server Agent.
#include "conversion/Form1.h"
#include "platform/Error.h"
#include "signin/Agent.h"
#include "signin/FrmLogin.h"
#include "state/ConnectionState.h"
#include "support/TestDatabase.h"
#include "ui_FrmLogin.h"
#include "widgets/ClickableLabel.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>

using gst::AppError;

namespace
{

const QString kStatement = "exec master.dbo.xp_servicecontrol 'Start', 'SQLServerAgent' ";

TEST(StartSqlAgent, OutcomeDecidesTheMessageAndWhetherThePictureGoes)
{
    struct Case {
        const char* what;
        long errorNumber;    // 0: the statement succeeds
        const char* message; // nullptr: nothing shown
        bool done;
    };
    const Case cases[] = {
        {"server starts the Agent", 0, "SQL Server Agent Started Successfully", true},
        {"server answers with an error", gst::err::kCommandError, "SQL Server Agent already Running...",
         true},
        {"connection lost", gst::err::kGenericFailure, nullptr, false},
        {"login refused", gst::err::kLoginFailed, nullptr, false},
        {"connection never opened", 3709, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        gst::msgbox_seam::clear();
        QStringList sent;
        const bool done = gst::startSqlAgent([&](const QString& sql) {
            sent << sql;
            if (c.errorNumber != 0)
                throw AppError(c.errorNumber, "refused");
        });
        EXPECT_EQ(done, c.done);
        EXPECT_EQ(sent, QStringList{kStatement});
        const auto& shown = gst::msgbox_seam::shown();
        if (!c.message) {
            EXPECT_TRUE(shown.empty());
            continue;
        }
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, QString::fromLatin1(c.message));
        EXPECT_EQ(shown[0].icon, gst::MsgIcon::Information);
        EXPECT_EQ(shown[0].buttons, gst::MsgButtons::Ok);
        EXPECT_EQ(shown[0].title, QString::fromLatin1(gst::kAppTitle)); // none of its own
    }
}

// The login window on a server folder that may hold an "msdb" database.
class AgentPicture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        db.createDatabase("talvex", standardRetailData());
        // What ConnectDatabase leaves behind, on a firm's database.
        gLogin = std::make_unique<gst::LoginSettings>();
        gLogin->driver = "SQLite3";
        gServerName = db.folder();
        gDbUser = "sa";
        gDbPassword = "demo";
        gDatabaseName = "talvex";
        gst::msgbox_seam::clear();
        gst::Connection::setTraceHook([this](const QString& sql) { sent << sql; });
    }
    void TearDown() override
    {
        gst::Connection::setTraceHook(nullptr);
        window.reset();
        gLogin.reset();
    }

    void openWindow()
    {
        window = std::make_unique<FrmLogin>(&Form1::openConversionWindow);
        window->Form_Load();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        window->ui()->txtUserName->setText("admin");
        window->ui()->txtPassword->setText("pw");
        window->ui()->txtPassword->setFocus();
    }

    void clickPicture() { QTest::mouseClick(window->ui()->Image1, Qt::LeftButton, {}, QPoint(20, 20)); }

    void expectFocusAndTextsKept()
    {
        EXPECT_EQ(QApplication::focusWidget(), window->ui()->txtPassword);
        EXPECT_EQ(window->ui()->txtUserName->text(), "admin");
        EXPECT_EQ(window->ui()->txtPassword->text(), "pw");
        EXPECT_TRUE(window->isVisible());
    }

    TestDatabase db;
    std::unique_ptr<FrmLogin> window;
    QStringList sent;
};

TEST_F(AgentPicture, OpensOnMsdbWhateverDatabaseTheProgramWorksOn)
{
    db.createDatabase("msdb");
    openWindow();
    const gst::Connection* agent = window->agentConnection();
    ASSERT_NE(agent, nullptr);
    EXPECT_TRUE(agent->isOpen());
    EXPECT_EQ(agent->target().catalog, "msdb");
    EXPECT_EQ(agent->target().dataSource, db.folder());
    EXPECT_EQ(agent->target().userId, "sa");
    EXPECT_EQ(agent->target().password, "demo");
    EXPECT_TRUE(sent.isEmpty()) << "loading reads nothing";
    EXPECT_TRUE(gst::msgbox_seam::shown().empty());
}

TEST_F(AgentPicture, ServerRefusingTheRequestMeansAlreadyRunningAndThePictureGoes)
{
    // SQLite answers the request with a statement error, as SQL Server does
    // when the Agent already runs.
    db.createDatabase("msdb");
    openWindow();
    ASSERT_TRUE(window->ui()->Image1->isVisible());
    clickPicture();
    EXPECT_EQ(sent, QStringList{kStatement});
    ASSERT_EQ(gst::msgbox_seam::shown().size(), 1u);
    EXPECT_EQ(gst::msgbox_seam::shown()[0].text, "SQL Server Agent already Running...");
    EXPECT_EQ(gst::msgbox_seam::shown()[0].icon, gst::MsgIcon::Information);
    EXPECT_FALSE(window->ui()->Image1->isVisible());
    expectFocusAndTextsKept();
}

TEST_F(AgentPicture, NoMsdbMeansEveryClickShowsNothing)
{
    openWindow(); // the failure to open is not told
    ASSERT_NE(window->agentConnection(), nullptr);
    EXPECT_FALSE(window->agentConnection()->isOpen());
    for (int i = 0; i < 3; ++i)
        clickPicture();
    EXPECT_TRUE(gst::msgbox_seam::shown().empty());
    EXPECT_TRUE(window->ui()->Image1->isVisible());
    EXPECT_TRUE(sent.isEmpty()) << "the unopened connection sends nothing";
    expectFocusAndTextsKept();
}

TEST_F(AgentPicture, MissingLoginSettingsLeaveThePictureInert)
{
    gLogin.reset();
    db.createDatabase("msdb");
    openWindow();
    clickPicture();
    EXPECT_TRUE(gst::msgbox_seam::shown().empty());
    EXPECT_TRUE(window->ui()->Image1->isVisible());
}

} // namespace
