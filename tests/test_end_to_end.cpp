// A whole run from Main on a shop with three firms: the operator picks the
// third firm, signs in, converts Apparel and is told "Done".
#include "app/ModMain.h"
#include "conversion/Form1.h"
#include "firms/FrmSelectFirm.h"
#include "platform/ProgramEnd.h"
#include "signin/FrmLogin.h"
#include "support/SignIn.h"
#include "support/TestDatabase.h"
#include "ui_Form1.h"
#include "ui_FrmLogin.h"
#include "ui_FrmSelectFirm.h"
#include "widgets/Handler.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <gtest/gtest.h>

using ::testing::ExitedWithCode;

namespace
{

QString demoSql(const char* database)
{
    QFile file(QStringLiteral(GST_SOURCE_DIR "/db/demo/%1.sql").arg(QLatin1String(database)));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + file.fileName().toStdString());
    return QString::fromUtf8(file.readAll());
}

// Plays the operator: looks at the screen every few milliseconds and acts on
// whichever window is waiting, with the keyboard and the mouse.
class Operator : public QObject
{
public:
    Operator()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
        m_timer.start(10);
        m_sinceStep.start();
    }

private:
    template <typename Window> Window* waiting() const
    {
        auto* window = qobject_cast<Window*>(QApplication::activeModalWidget());
        return window && QApplication::activeWindow() == window ? window : nullptr;
    }

    void next()
    {
        ++m_step;
        m_sinceStep.restart();
    }

    void tick()
    {
        // Input may run nested event loops; one action at a time.
        if (m_busy)
            return;
        m_busy = true;
        act();
        m_busy = false;
        if (m_sinceStep.elapsed() > 20000) {
            Form1* form = shownConversionWindow();
            std::fprintf(stderr, "operator stuck at step %d [%s] %d %d\n", m_step,
                         form ? qPrintable(form->ui()->Combo1->currentText()) : "-",
                         form ? form->ui()->Combo1->currentIndex() : -9,
                         form ? form->ui()->Command1->isEnabled() : -9);
            gst::endProgram(99);
        }
    }

    void act()
    {
        QWidget* focus = QApplication::focusWidget();
        switch (m_step) {
        case 0: { // the firm picker: down twice to the third firm, Enter moves to OK
            auto* firms = waiting<FrmSelectFirm>();
            if (!firms || focus != firms->ui()->cmbFirm)
                return;
            QTest::keyClick(focus, Qt::Key_Down);
            QTest::keyClick(focus, Qt::Key_Down);
            QTest::keyClick(focus, Qt::Key_Return);
            next();
            return;
        }
        case 1: { // Enter again, on the button that now has the focus
            auto* firms = waiting<FrmSelectFirm>();
            if (!firms || focus != firms->ui()->cmdOk)
                return;
            QTest::keyClick(focus, Qt::Key_Return);
            next();
            return;
        }
        case 2: { // the login window: the user name, Enter
            auto* login = waiting<FrmLogin>();
            if (!login || focus != login->ui()->txtUserName)
                return;
            QTest::keyClicks(focus, QStringLiteral("admin"));
            QTest::keyClick(focus, Qt::Key_Return);
            next();
            return;
        }
        case 3: { // the injected Tab has brought the focus to the password
            auto* login = waiting<FrmLogin>();
            if (!login || focus != login->ui()->txtPassword)
                return;
            QTest::keyClicks(focus, QStringLiteral("admin123"));
            QTest::keyClick(focus, Qt::Key_Return);
            next();
            return;
        }
        case 4: { // the conversion window: arrow down to Apparel, which chooses it
            Form1* form = shownConversionWindow();
            if (!form || QApplication::activeModalWidget())
                return;
            QComboBox* lines = form->ui()->Combo1;
            if (lines->currentText() == QLatin1String("Apparel") && form->ui()->Command1->isEnabled()) {
                next();
                return;
            }
            if (++m_presses > lines->count()) {
                std::fprintf(stderr, "Apparel cannot be reached\n");
                gst::endProgram(96);
            }
            QTest::keyClick(lines, Qt::Key_Down);
            return;
        }
        case 5: { // tick I Agree, press OK, answer Yes
            Form1* form = shownConversionWindow();
            if (!form)
                return;
            if (!gst::msgbox_seam::shown().empty()) {
                std::fprintf(stderr, "operator saw an unexpected box\n");
                gst::endProgram(98);
            }
            QCheckBox* agree = form->ui()->Check1;
            QTest::mouseClick(agree, Qt::LeftButton, {}, QPoint(8, agree->height() / 2));
            if (!agree->isChecked()) {
                std::fprintf(stderr, "I Agree did not tick\n");
                gst::endProgram(97);
            }
            gst::msgbox_seam::queueAnswer(gst::MsgAnswer::Yes);
            next();
            QTest::mouseClick(form->ui()->Command1, Qt::LeftButton);
            return;
        }
        default:
            return;
        }
    }

    QTimer m_timer;
    QElapsedTimer m_sinceStep;
    int m_step = 0;
    int m_presses = 0;
    bool m_busy = false;
};

// What gst::runApplication does once the application object exists.
void runProgram()
{
    Operator shopOperator;
    gst::guarded(&Main);
    bool anyWindow = false;
    for (QWidget* w : QApplication::topLevelWidgets())
        anyWindow = anyWindow || w->isVisible();
    if (anyWindow)
        QApplication::exec();
    gst::endProgram(gst::kExitCancelled);
}

int count(TestDatabase& db, const char* database, const char* sql)
{
    const DbValue v = db.scalar(database, sql);
    return v ? v->toInt() : -1;
}

TEST(EndToEnd, ThirdFirmSignInAndConversionOfApparel)
{
    // The child is a fork sharing this folder, so its changes can be read here.
    GTEST_FLAG_SET(death_test_style, "fast");

    TestDatabase db;
    db.createDatabase("talvex", demoSql("talvex") + "insert into FirmMaster (FirmId, Name, Enabled, DBName) "
                                                    "values (4, 'Lakeside Mart', 1, 'firm_lakeside');");
    db.createDatabase("firm_sunrise", demoSql("firm_sunrise"));
    db.createDatabase("firm_harbour", demoSql("firm_harbour"));
    db.createDatabase("firm_lakeside", demoSql("firm_harbour"));
    db.writeLoginSettings(db.folder(), "demo");

    const char* untouched[] = {"talvex", "firm_sunrise", "firm_harbour"};
    std::map<std::string, DbRows> before;
    for (const char* name : untouched)
        before[name] = db.queryRows(name, "select ProductId, vatid, VatPer from Products order by ProductId");
    ASSERT_EQ(count(db, "firm_lakeside", "select count(*) from Products where LobId = 2 and vatid = 5010"),
              3);

    EXPECT_EXIT(runProgram(), ExitedWithCode(gst::kExitDone),
                "title=Be VERY CAREFUL text=Are you sure\\? This process is NOT Reversible!\n"
                "\\[msgbox\\] icon=none title=New GST converted from 'GST 5% \\(18% above Rs 500\\)' to "
                "'GST 5% \\(18% above Rs 1000\\)' text=Done\n");

    // The third firm's Apparel moved to the new slab, its value table with it.
    EXPECT_EQ(count(db, "firm_lakeside", "select count(*) from vatmaster where VATID = 5019"), 1);
    EXPECT_EQ(count(db, "firm_lakeside", "select count(*) from Products where LobId = 2 and vatid = 5010"),
              0);
    EXPECT_EQ(count(db, "firm_lakeside", "select count(*) from Products where LobId = 2 and vatid = 5019"),
              3);
    EXPECT_EQ(
        count(db, "firm_lakeside", "select count(*) from FabricMaster where vatid = 5019 and GSTID = 5019"),
        2);
    // Other lines of business and the untaxed attribute stay as they were.
    EXPECT_EQ(count(db, "firm_lakeside", "select count(*) from Products where LobId <> 2 and vatid = 5019"),
              0);
    EXPECT_EQ(count(db, "firm_lakeside", "select count(*) from ColourMaster where vatid = 5010"), 2);
    // Nothing else changed anywhere.
    for (const char* name : untouched) {
        SCOPED_TRACE(name);
        EXPECT_EQ(db.queryRows(name, "select ProductId, vatid, VatPer from Products order by ProductId"),
                  before[name]);
        EXPECT_EQ(count(db, name, "select count(*) from vatmaster where VATID = 5019"), 0);
    }
}

} // namespace
