// The firm picker's behaviour: the list, switching firms, Enter, OK, Cancel and closing.
#include "app/ModMain.h"
#include "firms/FrmSelectFirm.h"
#include "platform/ProgramEnd.h"
#include "state/ConnectionState.h"
#include "support/SharedConnection.h"
#include "support/TestDatabase.h"
#include "ui_FrmSelectFirm.h"
#include "widgets/MessageBox.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

using ::testing::ExitedWithCode;

namespace
{

const char* kBillDate = "insert into options(billdate) values ('2019-01-01 00:00:00');";

class FrmSelectFirmTest : public ::testing::Test
{
public: // the ways out below reach the window through the fixture
    void SetUp() override
    {
        db.createDatabase("talvex",
                          QString(kBillDate) +
                              "insert into FirmMaster values (1, 'Sunrise Retail', 1, 'firm_sunrise');"
                              "insert into FirmMaster values (2, ' Harbour Stores ', 1, 'firm_harbour');"
                              "insert into FirmMaster values (3, 'Old Branch', 0, 'firm_old');"
                              "insert into FirmMaster values (4, 'No Database', 1, '');"
                              "insert into FirmMaster values (5, 'Null Database', 1, NULL);"
                              "insert into FirmMaster values (6, 'Harbour Stores', 1, 'firm_harbour2');"
                              "insert into FirmMaster values (7, 'Lakeside', 1, 'firm_lakeside');"
                              "insert into FirmMaster values (8, 'Early Books', 1, 'firm_early');");
        for (const char* firm :
             {"firm_sunrise", "firm_harbour", "firm_old", "firm_harbour2", "firm_lakeside"})
            db.createDatabase(firm, kBillDate);
        db.createDatabase("firm_early", "insert into options(billdate) values ('2018-07-26 23:59:00');");
        db.writeLoginSettings(db.folder(), "demo");
        connectShared(db, "talvex");
        gDatabaseName = "talvex";
        gst::msgbox_seam::clear();
        gst::Connection::setTraceHook([this](const QString& sql) { sent << sql; });
    }
    void TearDown() override
    {
        gst::Connection::setTraceHook(nullptr);
        window.reset();
        gConnection.reset();
    }

    void openWindow()
    {
        window = std::make_unique<FrmSelectFirm>(&ConnectDatabase);
        window->Form_Load();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        ASSERT_EQ(QApplication::focusWidget(), list());
        sent.clear();
    }

    QComboBox* list() const { return window->ui()->cmbFirm; }
    QString openCatalog() const { return gConnection ? gConnection->target().catalog : QString(); }
    int reconnections() const { return sent.count("select billdate from options"); }

    TestDatabase db;
    std::unique_ptr<FrmSelectFirm> window;
    QStringList sent;
};

TEST_F(FrmSelectFirmTest, LoadListsTheUsableFirmsAndSelectsTheFirst)
{
    openWindow();
    const std::pair<const char*, int> expected[] = {{"Sunrise Retail", 1},
                                                    {"Harbour Stores", 2},
                                                    {"Harbour Stores", 6},
                                                    {"Lakeside", 7},
                                                    {"Early Books", 8}};
    ASSERT_EQ(list()->count(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(list()->itemText(i), QString::fromLatin1(expected[i].first)) << i;
        EXPECT_EQ(list()->itemData(i).toInt(), expected[i].second) << i;
    }
    EXPECT_EQ(list()->currentIndex(), 0);
    EXPECT_EQ(gDatabaseName, "firm_sunrise");
    EXPECT_EQ(openCatalog(), "talvex") << "no connection before OK";
    EXPECT_EQ(sharedOpenStatements(), 0);
}

TEST_F(FrmSelectFirmTest, LoadingAsksForTheListThenTheFirstFirmsDatabase)
{
    window = std::make_unique<FrmSelectFirm>(&ConnectDatabase);
    window->Form_Load();
    EXPECT_EQ(sent, (QStringList{"Select Name, FirmId From FirmMaster Where Enabled = 1 AND DBName<>''",
                                 "Select DBName From FirmMaster Where FirmID = 1"}));
}

TEST_F(FrmSelectFirmTest, ArrowKeysFollowTheSelectionEachFirmToItsOwnDatabase)
{
    openWindow();
    const struct {
        Qt::Key key;
        const char* database;
    } steps[] = {{Qt::Key_Down, "firm_harbour"},
                 {Qt::Key_Down, "firm_harbour2"}, // same name, its own database
                 {Qt::Key_Down, "firm_lakeside"},
                 {Qt::Key_Up, "firm_harbour2"}};
    for (const auto& step : steps) {
        QTest::keyClick(list(), step.key);
        EXPECT_EQ(gDatabaseName, QString::fromLatin1(step.database));
    }
    EXPECT_EQ(sent.last(), "Select DBName From FirmMaster Where FirmID = 6");
    EXPECT_EQ(reconnections(), 0);
    EXPECT_EQ(openCatalog(), "talvex");
}

TEST_F(FrmSelectFirmTest, EnterMovesToOkAndASecondEnterReconnectsToTheChosenFirm)
{
    openWindow();
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(list(), Qt::Key_Down);
    QTest::keyClick(list(), Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), window->ui()->cmdOk);
    EXPECT_TRUE(window->isVisible()) << "the first Enter does not confirm";
    EXPECT_EQ(reconnections(), 0);

    QTest::keyClick(window->ui()->cmdOk, Qt::Key_Return);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Accepted);
    EXPECT_EQ(openCatalog(), "firm_lakeside");
    EXPECT_EQ(reconnections(), 1);
    EXPECT_TRUE(gst::msgbox_seam::shown().empty());
}

TEST_F(FrmSelectFirmTest, OkAtOnceOpensTheFirstFirm)
{
    openWindow();
    QTest::mouseClick(window->ui()->cmdOk, Qt::LeftButton);
    EXPECT_EQ(openCatalog(), "firm_sunrise");
    EXPECT_EQ(reconnections(), 1);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(FrmSelectFirmTest, PickingAFirmThenAnotherOpensOnlyTheLast)
{
    openWindow();
    // By mouse from the opened list, then by keyboard.
    list()->showPopup();
    QAbstractItemView* view = list()->view();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->isVisible(); }));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(view->model()->index(3, 0)).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->isVisible(); }));
    EXPECT_EQ(gDatabaseName, "firm_lakeside");
    QTest::keyClick(list(), Qt::Key_Up);
    EXPECT_EQ(gDatabaseName, "firm_harbour2");

    QTest::mouseClick(window->ui()->cmdOk, Qt::LeftButton);
    EXPECT_EQ(openCatalog(), "firm_harbour2");
    EXPECT_EQ(reconnections(), 1);
}

TEST_F(FrmSelectFirmTest, EscPressesNoButtonAndDoesNotClose)
{
    openWindow();
    QTest::keyClick(list(), Qt::Key_Escape);
    window->ui()->cmdOk->setFocus();
    QTest::keyClick(window->ui()->cmdOk, Qt::Key_Escape);
    QTest::qWait(50);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(reconnections(), 0);
    EXPECT_EQ(gDatabaseName, "firm_sunrise");
}

TEST_F(FrmSelectFirmTest, FirmDeletedAfterSelectionKeepsItsDatabaseName)
{
    openWindow();
    QTest::keyClick(list(), Qt::Key_Down);
    db.exec("talvex", "delete from FirmMaster where FirmId = 2");
    QTest::mouseClick(window->ui()->cmdOk, Qt::LeftButton);
    EXPECT_EQ(openCatalog(), "firm_harbour");
}

TEST_F(FrmSelectFirmTest, LeavingWithoutChoosingEndsTheProgramUnconnected)
{
    struct Way {
        const char* what;
        std::function<void(FrmSelectFirmTest&)> leave;
    };
    const Way ways[] = {
        {"Cancel clicked",
         [](FrmSelectFirmTest& t) { QTest::mouseClick(t.window->ui()->cmdCancel, Qt::LeftButton); }},
        {"Enter on the focused Cancel",
         [](FrmSelectFirmTest& t) {
             t.window->ui()->cmdCancel->setFocus();
             QTest::keyClick(t.window->ui()->cmdCancel, Qt::Key_Enter);
         }},
        {"Alt+C", [](FrmSelectFirmTest& t) { QTest::keyClick(t.window.get(), Qt::Key_C, Qt::AltModifier); }},
        {"the close command", [](FrmSelectFirmTest& t) { t.window->close(); }},
        {"the dialog's own rejection", [](FrmSelectFirmTest& t) { t.window->reject(); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.what);
        EXPECT_EXIT(
            {
                openWindow();
                QTest::keyClick(list(), Qt::Key_Down);
                way.leave(*this);
                QTest::qWait(300); // a shortcut animates the button before it fires
                // Reaching here, or having reconnected, is the fault.
                gst::endProgram(reconnections() == 0 ? 42 : 43);
            },
            ExitedWithCode(gst::kExitCancelled), "");
    }
}

TEST_F(FrmSelectFirmTest, ReconnectionFailuresEndTheProgramWithTheirMessages)
{
    struct Case {
        const char* what;
        std::function<void(FrmSelectFirmTest&)> choose;
        int exitCode;
        const char* box;
    };
    const Case cases[] = {
        {"firm deleted before it was selected",
         [](FrmSelectFirmTest& t) {
             t.db.exec("talvex", "delete from FirmMaster where FirmId = 2");
             QTest::keyClick(t.list(), Qt::Key_Down);
             std::fprintf(stderr, "database=%s\n", qPrintable(gDatabaseName));
         },
         gst::kExitError, "database=0\n.*icon=critical title= text=Network is down Or Server may be Off!"},
        {"firm database with a bill date before the cut-off",
         [](FrmSelectFirmTest& t) {
             for (int i = 0; i < 4; ++i)
                 QTest::keyClick(t.list(), Qt::Key_Down);
         },
         gst::kExitRefused,
         "title=Invalid Date text=This utility is to be run on or after 27th July 2018 only\\."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EXIT(
            {
                openWindow();
                c.choose(*this);
                QTest::mouseClick(window->ui()->cmdOk, Qt::LeftButton);
                gst::endProgram(42);
            },
            ExitedWithCode(c.exitCode), c.box);
    }
}

TEST_F(FrmSelectFirmTest, MissingFirmRegisterAtLoadIsAnErrorReport)
{
    db.exec("talvex", "drop table FirmMaster");
    EXPECT_EXIT(
        {
            FrmSelectFirm w(&ConnectDatabase);
            w.Form_Load();
            gst::endProgram(42);
        },
        ExitedWithCode(gst::kExitError), "title=gstconvert text=Run-time error '-2147217900':.*FirmMaster");
}

} // namespace
