// The conversion window: disclaimer, the choice of a line of business, and
// which operator actions count as a choice.
#include "conversion/Form1.h"
#include "platform/Error.h"
#include "platform/Odbc.h"
#include "platform/ProgramEnd.h"
#include "state/ConnectionState.h"
#include "support/SharedConnection.h"
#include "support/TestDatabase.h"
#include "support/WindowTesting.h"
#include "ui_Form1.h"
#include "widgets/MessageBox.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

using ::testing::ExitedWithCode;

namespace
{

const QString kProductWiseText = "You are currently having Product Wise GST.\r\n"
                                 "Would you like to convert all values of Products GST \r\n"
                                 " from 'GST 5% (18% above Rs 500)' to 'GST 5% (18% above Rs 1000)'?\r\n"
                                 "If yes, click on 'OK' below.";

QString attributeWiseText(const QString& a)
{
    return "You are currently having GST on " + a +
           ".\r\nWould you like to convert all values under the head " + a +
           "\r\n from GST 'GST 5% (18% above Rs 500)' to 'GST 5% (18% above Rs 1000)'?\r\nIf yes, click on "
           "'OK' "
           "below.";
}

void typeText(QWidget* target, const QString& text)
{
    for (const QChar ch : text)
        pressKey(target, ch.toUpper().unicode(), QString(ch));
}

void sendMouse(QWidget* target, QEvent::Type type, const QPoint& at)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
    QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

// Opens the list's popup and clicks an entry, as the operator does with the mouse.
void clickInPopup(QComboBox* combo, int row)
{
    combo->showPopup();
    QAbstractItemView* view = combo->view();
    ASSERT_TRUE(waitUntil([&] { return view->isVisible(); }));
    const QModelIndex index = view->model()->index(row, combo->modelColumn());
    view->scrollTo(index);
    const QPoint at = view->visualRect(index).center();
    sendMouse(view->viewport(), QEvent::MouseMove, at);
    sendMouse(view->viewport(), QEvent::MouseButtonPress, at);
    sendMouse(view->viewport(), QEvent::MouseButtonRelease, at);
    ASSERT_TRUE(waitUntil([&] { return !view->isVisible(); }));
}

// Opens the popup, moves to an entry and presses Enter in the list.
void enterInPopup(QComboBox* combo, int row)
{
    combo->showPopup();
    QAbstractItemView* view = combo->view();
    ASSERT_TRUE(waitUntil([&] { return view->isVisible(); }));
    view->setCurrentIndex(view->model()->index(row, combo->modelColumn()));
    pressKey(view, Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return !view->isVisible(); }));
}

class Form1Test : public ::testing::Test
{
protected:
    void SetUp() override { gst::msgbox_seam::clear(); }
    void TearDown() override
    {
        gst::Connection::setTraceHook(nullptr);
        window.reset();
        gConnection.reset();
    }

    // A database from the schema plus `data`, and the window loaded on it.
    void load(const QString& data)
    {
        db.createDatabase("talvex", data);
        connectShared(db, "talvex");
        window = std::make_unique<Form1>();
        window->Form_Load();
    }

    void showAndFocusList()
    {
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == window.get(); }));
        ui()->Combo1->setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(waitUntil([&] { return ui()->Combo1->hasFocus(); }));
    }

    void traceStatements()
    {
        gst::Connection::setTraceHook([this](const QString& sql) { sent << sql; });
    }

    Ui::Form1* ui() const { return window->ui(); }

    TestDatabase db;
    std::unique_ptr<Form1> window;
    QStringList sent;
};

TEST_F(Form1Test, LoadWritesTheCaptionsAndWaitsForAChoice)
{
    load(standardRetailData() + "insert into lobmaster values (3, ' Footwear ', 1), (0, 'Books', 1);");
    EXPECT_EQ(ui()->Command1->text(), "OK\r\nPlease convert all values from 'GST 5% (18% above Rs 500)' to "
                                      "'GST 5% (18% above Rs 1000)'");
    EXPECT_EQ(ui()->lblWarning->text(),
              "Disclaimer: This utility is being distributed for FREE. \r\n"
              "You would be well advised to consult your GST consultant \r\n"
              "before proceeding. You are doing this out of your own free will \r\n"
              "and because you choose to do so. Norvane Lumetra Pvt. Ltd.\r\n"
              "will not be responsible for the outcome and consequences of this utility.");
    QComboBox* list = ui()->Combo1;
    ASSERT_EQ(list->count(), 4);
    EXPECT_EQ(QStringList({list->itemText(0), list->itemText(1), list->itemText(2), list->itemText(3)}),
              QStringList({"Books", "Grocery", "Apparel", "Footwear"}));
    EXPECT_EQ(list->currentText(), "Books");
    EXPECT_FALSE(list->isHidden());
    EXPECT_EQ(ui()->Label1->text(), "");
    EXPECT_FALSE(ui()->Command1->isEnabled());
    EXPECT_EQ(window->lobId(), 0);
}

TEST_F(Form1Test, OkCaptionIsDrawnWrappedWithinTheButton)
{
    load(standardRetailData());
    window->show();
    auto* caption = ui()->Command1->findChild<QLabel*>("wrappedCaption");
    ASSERT_NE(caption, nullptr);
    EXPECT_EQ(caption->text(), "OK\nPlease convert all values from 'GST 5% (18% above Rs 500)' to "
                               "'GST 5% (18% above Rs 1000)'");
    EXPECT_TRUE(caption->wordWrap());
    // The whole caption fits inside the button, and the button's own one-line
    // drawing of it is invisible.
    EXPECT_LE(caption->heightForWidth(caption->width()), caption->height());
    EXPECT_TRUE(ui()->Command1->rect().contains(caption->geometry()));
    EXPECT_EQ(ui()->Command1->palette().color(QPalette::Active, QPalette::ButtonText).alpha(), 0);
    for (bool enabled : {true, false}) {
        ui()->Command1->setEnabled(enabled);
        const QColor text = caption->palette().color(
            caption->isEnabled() ? QPalette::Active : QPalette::Disabled, caption->foregroundRole());
        EXPECT_EQ(text.alpha(), 255) << "caption drawn when the button is "
                                     << (enabled ? "enabled" : "disabled");
    }
}

TEST_F(Form1Test, SingleLineOfBusinessIsTakenAtOnceWithItsOwnId)
{
    load("insert into lobmaster values (7, ' Footwear', 1);");
    EXPECT_TRUE(ui()->Combo1->isHidden());
    EXPECT_EQ(ui()->Combo1->count(), 0);
    EXPECT_EQ(ui()->Combo1->currentText(), "Footwear"); // names it in a failure box
    EXPECT_EQ(window->lobId(), 7);
    EXPECT_TRUE(window->productWise());
    EXPECT_EQ(ui()->Label1->text(), kProductWiseText);
    EXPECT_TRUE(ui()->Command1->isEnabled());
}

TEST_F(Form1Test, NoLineOfBusinessLeavesAnEmptyListAndOkDisabled)
{
    load("");
    EXPECT_EQ(ui()->Combo1->count(), 0);
    EXPECT_FALSE(ui()->Combo1->isHidden());
    EXPECT_EQ(ui()->Combo1->currentText(), ""); // not its design caption
    EXPECT_EQ(ui()->Combo1->lineEdit()->text(), "");
    EXPECT_EQ(ui()->Label1->text(), "");
    EXPECT_FALSE(ui()->Command1->isEnabled());
}

TEST_F(Form1Test, ChoosingEntriesTellsHowEachHoldsGst)
{
    load(standardRetailData() + "insert into lobmaster values (3, 'Men''s Wear', NULL), (4, '  Padded', 1);"
                                "insert into attributemaster values (3, 'Fabric Type');"
                                "insert into lobattribute values (3, 3, 1);");
    showAndFocusList();
    QComboBox* list = ui()->Combo1;
    struct Step {
        int row;
        bool byKey; // Enter in the popup instead of a click
        std::int16_t lobId;
        bool productWise;
        QString attribute; // empty for a product-wise line
        QString label;
    };
    const Step steps[] = {
        {0, false, 1, true, "", kProductWiseText}, // the entry already shown
        {1, false, 2, false, "Fabric", attributeWiseText("Fabric")},
        {0, true, 1, true, "", kProductWiseText},
        {2, true, 3, false, "Fabric Type", attributeWiseText("Fabric Type")},
        {3, false, 0, false, "0", attributeWiseText("0")}, // trimmed name finds no row
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.row);
        if (s.byKey)
            enterInPopup(list, s.row);
        else
            clickInPopup(list, s.row);
        EXPECT_EQ(window->lobId(), s.lobId);
        EXPECT_EQ(window->productWise(), s.productWise);
        EXPECT_EQ(window->gstAttribute(), s.attribute);
        EXPECT_EQ(ui()->Label1->text(), s.label);
        EXPECT_TRUE(ui()->Command1->isEnabled());
    }
    EXPECT_TRUE(gst::msgbox_seam::shown().empty());
}

TEST_F(Form1Test, ArrowKeysChooseEntries)
{
    load(standardRetailData());
    showAndFocusList();
    // The first name is shown, not chosen: Up has nothing before it, and the
    // first Down chooses the entry already shown.
    QTest::keyClick(ui()->Combo1, Qt::Key_Up);
    EXPECT_EQ(ui()->Combo1->currentText(), "Grocery");
    EXPECT_EQ(ui()->Label1->text(), "");
    EXPECT_FALSE(ui()->Command1->isEnabled());
    const struct {
        Qt::Key key;
        std::int16_t lobId;
        QString shown;
        QString label;
    } steps[] = {
        {Qt::Key_Down, 1, "Grocery", kProductWiseText},
        {Qt::Key_Down, 2, "Apparel", attributeWiseText("Fabric")},
        {Qt::Key_Down, 2, "Apparel", attributeWiseText("Fabric")}, // the last entry stays
        {Qt::Key_Up, 1, "Grocery", kProductWiseText},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.shown.toStdString());
        QTest::keyClick(ui()->Combo1, step.key);
        EXPECT_EQ(ui()->Combo1->currentText(), step.shown);
        EXPECT_EQ(window->lobId(), step.lobId);
        EXPECT_EQ(ui()->Label1->text(), step.label);
        EXPECT_TRUE(ui()->Command1->isEnabled());
    }
}

TEST_F(Form1Test, EnterOrSpaceOnTheFocusedOkPressesIt)
{
    struct Case {
        const char* what;
        QString data;
        Qt::Key key;
    };
    const QString oneLine = "insert into lobmaster values (7, 'Footwear', 1);";
    const Case cases[] = {
        {"single line, Enter", oneLine, Qt::Key_Return},
        {"single line, keypad Enter", oneLine, Qt::Key_Enter},
        {"single line, Space", oneLine, Qt::Key_Space},
        {"line chosen from the list, Enter", standardRetailData(), Qt::Key_Return},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        gst::msgbox_seam::clear();
        window.reset();
        load(c.data);
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == window.get(); }));
        if (ui()->Combo1->isVisible()) {
            ASSERT_TRUE(waitUntil([&] { return ui()->Combo1->hasFocus(); }));
            QTest::keyClick(ui()->Combo1, Qt::Key_Down);
            QTest::keyClick(ui()->Combo1, Qt::Key_Tab);
        }
        // With the list hidden the window opens with the focus on OK.
        ASSERT_TRUE(waitUntil([&] { return ui()->Command1->hasFocus(); }));
        QTest::keyClick(ui()->Command1, c.key);
        // "I Agree" is not ticked, so pressing OK asks for it.
        ASSERT_TRUE(waitUntil([] { return !gst::msgbox_seam::shown().empty(); }));
        EXPECT_EQ(gst::msgbox_seam::shown()[0].text, "Please tick the 'I Agree' checkbox before proceeding");
        EXPECT_EQ(gst::msgbox_seam::shown().size(), 1u);
    }
}

TEST_F(Form1Test, TypedTextChoosesNothing)
{
    load(standardRetailData() + "insert into lobmaster values (3, 'Men''s Wear', 1);");
    showAndFocusList();
    clickInPopup(ui()->Combo1, 0); // Grocery
    ASSERT_EQ(window->lobId(), 1);
    traceStatements();

    struct Case {
        const char* typed;
        bool leaveByFocus; // otherwise Enter
    };
    const Case cases[] = {
        {"Apparel", false}, {"Apparel", true}, {"Men's Wear", false}, {"Men's Wear", true}, {"app", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        showAndFocusList();
        ui()->Combo1->lineEdit()->clear();
        typeText(ui()->Combo1, c.typed);
        if (c.leaveByFocus) {
            ui()->Check1->setFocus(Qt::TabFocusReason);
            ASSERT_TRUE(waitUntil([&] { return ui()->Check1->hasFocus(); }));
        } else {
            pressKey(ui()->Combo1, Qt::Key_Return);
        }
        QCoreApplication::processEvents();
        EXPECT_EQ(ui()->Combo1->currentText(), QString::fromUtf8(c.typed)); // no completion either
        EXPECT_EQ(window->lobId(), 1);
        EXPECT_EQ(ui()->Label1->text(), kProductWiseText);
    }
    EXPECT_TRUE(sent.isEmpty()) << sent.join(" | ").toStdString();
}

TEST_F(Form1Test, OpenedWindowIsLoadedShownModelessAndDeletedWhenClosed)
{
    db.createDatabase("talvex", standardRetailData());
    connectShared(db, "talvex");
    QPointer<Form1> opened = Form1::openConversionWindow();
    ASSERT_FALSE(opened.isNull());
    EXPECT_TRUE(opened->isVisible());
    EXPECT_EQ(opened->windowModality(), Qt::NonModal);
    EXPECT_TRUE(opened->testAttribute(Qt::WA_DeleteOnClose));
    EXPECT_TRUE(opened->ui()->Command1->text().startsWith("OK\r\n"));
    opened->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(opened.isNull());
}

TEST_F(Form1Test, LoadErrorsReachTheCaller)
{
    db.createDatabase("talvex", "drop table lobmaster;");
    connectShared(db, "talvex");
    try {
        Form1::openConversionWindow();
        FAIL() << "no error";
    } catch (const gst::AppError& e) {
        EXPECT_EQ(e.number(), gst::err::kCommandError);
    }
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_EQ(qobject_cast<Form1*>(w), nullptr) << "a window was left behind";
}

TEST_F(Form1Test, LineOfBusinessIdBeyondSixteenBitsIsReportedAndEnds)
{
    load(standardRetailData() + "insert into lobmaster values (70000, 'Huge', 1);");
    ui()->Combo1->setCurrentIndex(2);
    EXPECT_EXIT(emit ui()->Combo1->activated(2), ExitedWithCode(gst::kExitError),
                "icon=critical title=gstconvert text=Run-time error '6':");
}

} // namespace
