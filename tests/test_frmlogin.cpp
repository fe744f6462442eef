// The login window's behaviour: caption and height, field colours, keys, OK, Cancel and closing.
#include "conversion/Form1.h"
#include "platform/ProgramEnd.h"
#include "signin/Credentials.h"
#include "signin/FrmLogin.h"
#include "state/ConnectionState.h"
#include "support/SharedConnection.h"
#include "support/TestDatabase.h"
#include "support/WindowTesting.h"
#include "ui_FrmLogin.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

using ::testing::ExitedWithCode;

namespace
{

// The colour drawn inside a field, clear of its text and frame.
QColor drawnColour(QWidget* field)
{
    const QImage image = field->grab().toImage();
    return QColor(image.pixel(image.width() - 6, image.height() / 2));
}

// Runs `action` with real message boxes; each box is looked at by `whileShown`
// and dismissed. Offscreen, like a window manager whose focus follows the
// pointer, gives the focus back to no window: the program must take it back.
void withRealBoxes(const std::function<void()>& action, const std::function<void()>& whileShown)
{
    gst::msgbox_seam::setScripted(false);
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || QApplication::activeWindow() != box)
            return;
        whileShown();
        box->accept();
    });
    poll.start();
    action();
    gst::msgbox_seam::setScripted(true);
}

QList<Form1*> conversionWindows()
{
    QList<Form1*> found;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* form = qobject_cast<Form1*>(w); form && form->isVisible())
            found << form;
    }
    return found;
}

class FrmLoginTest : public ::testing::Test
{
public: // the ways out below reach the window through the fixture
    void SetUp() override
    {
        db.createDatabase("talvex", standardRetailData());
        connectShared(db, "talvex");
        gBillDate = QDateTime(QDate(2018, 7, 27), QTime(0, 0), Qt::UTC);
        gSignedIn = false;
        gst::msgbox_seam::clear();
        window = std::make_unique<FrmLogin>(&Form1::openConversionWindow);
        window->Form_Load();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::focusWidget() != nullptr; }));
    }
    void TearDown() override
    {
        for (Form1* form : conversionWindows())
            delete form;
        window.reset();
        gConnection.reset();
    }

    QLineEdit* userName() const { return window->ui()->txtUserName; }
    QLineEdit* password() const { return window->ui()->txtPassword; }
    QWidget* focused() const { return QApplication::focusWidget(); }

    void typeInto(QLineEdit* field, const QString& text)
    {
        field->setFocus();
        QTest::keyClicks(field, text);
    }

    TestDatabase db;
    std::unique_ptr<FrmLogin> window;
};

TEST_F(FrmLoginTest, ActivationShowsTheBillDateAndCutsOffTheBottomBand)
{
    EXPECT_EQ(window->windowTitle(), "27-Jul-2018");
    EXPECT_EQ(window->frameGeometry().height(), 137); // 2050 twips, frame included
    EXPECT_EQ(window->width(), 256);

    // Every activation sets them again.
    gBillDate = QDateTime(QDate(2019, 1, 3), QTime(18, 30), Qt::UTC);
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_EQ(window->windowTitle(), "03-Jan-2019");
    EXPECT_EQ(window->frameGeometry().height(), 137);
}

// The pictures are read without asking every image-format plugin: loading
// them (and the JPEG library) cost a start-up more than reading the pictures.
TEST_F(FrmLoginTest, OpensWithoutLoadingImageFormatPlugins)
{
    EXPECT_EXIT(
        {
            QFile maps("/proc/self/maps");
            if (!maps.open(QIODevice::ReadOnly))
                gst::endProgram(2);
            const QByteArray loaded = maps.readAll();
            std::fprintf(stderr, "image-format plugins: %s\n",
                         loaded.contains("imageformats") ? "loaded" : "none");
            gst::endProgram(window->ui()->Image1->pixmap().isNull() ? 1 : 0);
        },
        ExitedWithCode(0), "image-format plugins: none");
}

TEST_F(FrmLoginTest, CaptionUsesTheWorkstationsLanguage)
{
    const struct {
        const char* locale;
        const char* caption;
    } rows[] = {
        {"C.UTF-8", "27-Jul-2018"}, {"de_DE.UTF-8", "27-Juli-2018"}, {"fr_FR.UTF-8", "27-juil\\.-2018"}};
    const QByteArray saved = qgetenv("LC_ALL");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.locale);
        // The child process starts afresh and reads the language from its environment.
        qputenv("LC_ALL", row.locale);
        EXPECT_EXIT(
            {
                std::fprintf(stderr, "caption=%s\n", window->windowTitle().toUtf8().constData());
                gst::endProgram(0);
            },
            ExitedWithCode(0), std::string("caption=") + row.caption + "\n");
    }
    if (saved.isNull())
        qunsetenv("LC_ALL");
    else
        qputenv("LC_ALL", saved);
}

TEST_F(FrmLoginTest, TheFocusedFieldAloneShowsTheFocusColourWithItsTextSelected)
{
    const QColor focus(237, 227, 253);
    password()->setText("secret");
    ASSERT_EQ(focused(), userName());
    EXPECT_EQ(userName()->palette().color(QPalette::Base), focus);
    EXPECT_EQ(drawnColour(userName()), focus);
    EXPECT_EQ(drawnColour(password()), info());

    QTest::keyClick(userName(), Qt::Key_Tab);
    ASSERT_EQ(focused(), password());
    EXPECT_EQ(password()->selectedText(), "secret");
    EXPECT_EQ(drawnColour(password()), focus);
    EXPECT_EQ(drawnColour(userName()), info());

    // While a button has the focus both fields rest.
    window->ui()->cmdOk->setFocus();
    EXPECT_EQ(drawnColour(password()), info());
    EXPECT_EQ(drawnColour(userName()), info());
}

TEST_F(FrmLoginTest, FocusMovesBetweenTheControlsHighlightTheField)
{
    const QColor focus(237, 227, 253);
    struct Move {
        const char* what;
        bool fromUserName;
        bool selects; // a click places the caret after the field is highlighted
        std::function<void(FrmLoginTest&)> move;
    };
    const Move moves[] = {
        {"Tab", true, true, [](FrmLoginTest& t) { QTest::keyClick(t.userName(), Qt::Key_Tab); }},
        {"Up", false, true, [](FrmLoginTest& t) { QTest::keyClick(t.password(), Qt::Key_Up); }},
        {"a click", true, false, [](FrmLoginTest& t) { QTest::mouseClick(t.password(), Qt::LeftButton); }},
        {"Alt+P", true, true,
         [](FrmLoginTest& t) { QTest::keyClick(t.window.get(), Qt::Key_P, Qt::AltModifier); }},
        {"the program's move", true, true, [](FrmLoginTest& t) { t.password()->setFocus(); }},
    };
    userName()->setText("admin");
    password()->setText("pw");
    for (const Move& m : moves) {
        SCOPED_TRACE(m.what);
        QLineEdit* from = m.fromUserName ? userName() : password();
        QLineEdit* to = m.fromUserName ? password() : userName();
        from->setFocus();
        from->end(false);
        to->end(false);
        m.move(*this);
        ASSERT_EQ(focused(), to);
        EXPECT_EQ(to->selectedText(), m.selects ? to->text() : QString());
        EXPECT_EQ(drawnColour(to), focus);
        EXPECT_EQ(drawnColour(from), info());
    }
}

TEST_F(FrmLoginTest, ComingBackToTheWindowIsNoFocusMove)
{
    const QColor focus(237, 227, 253);
    struct Away {
        const char* what;
        std::function<void(FrmLoginTest&)> leave; // returns with the window inactive
    };
    QWidget other;
    const Away ways[] = {
        {"another program",
         [&](FrmLoginTest& t) {
             other.show();
             other.activateWindow();
             ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
             EXPECT_EQ(drawnColour(userName()), info()) << "while the window is inactive";
             other.hide();
             t.window->activateWindow(); // the operator comes back
         }},
        {"a message box",
         [&](FrmLoginTest&) {
             withRealBoxes(
                 [] {
                     gst::showMessage("SQL Server Agent already Running...", std::nullopt,
                                      gst::MsgIcon::Information);
                 },
                 [&] { EXPECT_EQ(drawnColour(userName()), info()) << "while the box is up"; });
         }},
    };
    for (const Away& way : ways) {
        SCOPED_TRACE(way.what);
        typeInto(userName(), "adm");
        way.leave(*this);
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        ASSERT_EQ(focused(), userName());
        EXPECT_EQ(userName()->selectedText(), "");
        EXPECT_EQ(drawnColour(userName()), focus);
        QTest::keyClicks(userName(), "in");
        EXPECT_EQ(userName()->text(), "admin");
        userName()->clear();
    }

    // The program's own move made while a box was up counts when the window is back.
    typeInto(password(), "wrong");
    withRealBoxes([&] { QTest::mouseClick(window->ui()->cmdOk, Qt::LeftButton); }, [] {});
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    ASSERT_EQ(focused(), password());
    EXPECT_EQ(drawnColour(password()), focus);
    EXPECT_EQ(drawnColour(userName()), info());
    typeInto(userName(), "x");
    EXPECT_EQ(drawnColour(password()), info());
}

TEST_F(FrmLoginTest, EnterInTheUserNameMovesOnThroughTheInputQueue)
{
    password()->setText("old");
    typeInto(userName(), "admin");
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) { // main keyboard and keypad
        SCOPED_TRACE(key);
        userName()->setFocus();
        QTest::keyClick(userName(), key);
        // The Tab is posted, not sent: it arrives after the key handler returns.
        EXPECT_EQ(focused(), userName());
        ASSERT_TRUE(QTest::qWaitFor([&] { return focused() == password(); }));
        EXPECT_EQ(password()->selectedText(), "old");
        EXPECT_EQ(userName()->text(), "admin");
        EXPECT_EQ(password()->text(), "old");
    }
    EXPECT_TRUE(gst::msgbox_seam::shown().empty());
}

TEST_F(FrmLoginTest, UpInThePasswordReturnsToTheUserNameSelectingIt)
{
    typeInto(userName(), "admin");
    typeInto(password(), "pw");
    QTest::keyClick(password(), Qt::Key_Up);
    ASSERT_EQ(focused(), userName());
    EXPECT_EQ(userName()->selectedText(), "admin");
    EXPECT_EQ(password()->text(), "pw");
    // Arrow keys in the user name keep their ordinary meaning.
    QTest::keyClick(userName(), Qt::Key_Down);
    QTest::keyClick(userName(), Qt::Key_Up);
    EXPECT_EQ(focused(), userName());
}

TEST_F(FrmLoginTest, TypedApostrophesNeverEnterEitherField)
{
    typeInto(userName(), "o'brien'");
    typeInto(password(), "'it's'");
    EXPECT_EQ(userName()->text(), "obrien");
    EXPECT_EQ(password()->text(), "its");
}

TEST_F(FrmLoginTest, KeysWithoutAMeaningChangeNothingVisible)
{
    typeInto(userName(), "admin");
    typeInto(password(), "pw");
    for (QLineEdit* field : {userName(), password()}) {
        field->setFocus();
        for (Qt::Key key : {Qt::Key_F1, Qt::Key_F5})
            QTest::keyClick(field, key);
    }
    QTest::keyClick(password(), Qt::Key_Escape); // Esc means something only in the user name
    QTest::qWait(50);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(focused(), password());
    EXPECT_EQ(userName()->text(), "admin");
    EXPECT_EQ(password()->text(), "pw");
    EXPECT_EQ(window->windowTitle(), "27-Jul-2018");
    EXPECT_FALSE(window->ui()->chkBioCap->isVisible());
    EXPECT_FALSE(window->ui()->chkMifare->isVisible());
    EXPECT_TRUE(gst::msgbox_seam::shown().empty());
}

TEST_F(FrmLoginTest, WrongPasswordsKeepTheWindowOpenUntilTheRightOne)
{
    typeInto(userName(), "admin");
    for (const char* wrong : {"admin", "ADMIN123", "admin123 "}) {
        SCOPED_TRACE(wrong);
        typeInto(password(), wrong);
        QTest::keyClick(password(), Qt::Key_Return);
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(focused(), password());
        EXPECT_EQ(password()->text(), QString());
        EXPECT_EQ(userName()->text(), "admin");
        EXPECT_TRUE(conversionWindows().isEmpty());
    }
    ASSERT_EQ(gst::msgbox_seam::shown().size(), 3u);
    for (const gst::ShownBox& box : gst::msgbox_seam::shown())
        EXPECT_EQ(box.text, "Invalid Password - Try again!");

    typeInto(password(), "admin123");
    QTest::keyClick(password(), Qt::Key_Return);
    EXPECT_TRUE(gSignedIn);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Accepted);
    EXPECT_EQ(conversionWindows().size(), 1);
    EXPECT_EQ(gst::msgbox_seam::shown().size(), 3u);
}

TEST_F(FrmLoginTest, OkButtonSignsIn)
{
    typeInto(userName(), "admin");
    typeInto(password(), "admin123");
    QTest::mouseClick(window->ui()->cmdOk, Qt::LeftButton);
    EXPECT_TRUE(gSignedIn);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(conversionWindows().size(), 1);
}

TEST_F(FrmLoginTest, PastedHostileUserNameIsNotFilteredAndDoesNotSignIn)
{
    QApplication::clipboard()->setText("x' OR '1'='1");
    userName()->setFocus();
    QTest::keyClick(userName(), Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(userName()->text(), "x' OR '1'='1");
    typeInto(password(), "admin123");
    QTest::mouseClick(window->ui()->cmdOk, Qt::LeftButton);
    EXPECT_FALSE(gSignedIn);
    EXPECT_TRUE(window->isVisible());
    ASSERT_EQ(gst::msgbox_seam::shown().size(), 1u);
    EXPECT_EQ(gst::msgbox_seam::shown()[0].text, "Invalid Password - Try again!");
}

TEST_F(FrmLoginTest, LeavingWithoutSigningInEndsTheProgram)
{
    struct Way {
        const char* what;
        std::function<void(FrmLoginTest&)> leave;
    };
    const Way ways[] = {
        {"Esc in the user name", [](FrmLoginTest& t) { QTest::keyClick(t.userName(), Qt::Key_Escape); }},
        {"Cancel clicked",
         [](FrmLoginTest& t) { QTest::mouseClick(t.window->ui()->cmdCancel, Qt::LeftButton); }},
        {"Enter on the focused Cancel",
         [](FrmLoginTest& t) {
             t.window->ui()->cmdCancel->setFocus();
             QTest::keyClick(t.window->ui()->cmdCancel, Qt::Key_Return);
         }},
        {"Space on the focused Cancel",
         [](FrmLoginTest& t) {
             t.window->ui()->cmdCancel->setFocus();
             QTest::keyClick(t.window->ui()->cmdCancel, Qt::Key_Space);
         }},
        {"Alt+C", [](FrmLoginTest& t) { QTest::keyClick(t.window.get(), Qt::Key_C, Qt::AltModifier); }},
        {"the close box", [](FrmLoginTest& t) { t.window->close(); }},
        {"the close box after a failed attempt",
         [](FrmLoginTest& t) {
             t.typeInto(t.userName(), "admin");
             t.typeInto(t.password(), "wrong");
             QTest::keyClick(t.password(), Qt::Key_Return);
             t.window->close();
         }},
        {"the dialog's own rejection", [](FrmLoginTest& t) { t.window->reject(); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.what);
        EXPECT_EXIT(
            {
                way.leave(*this);
                QTest::qWait(300); // a key click animates the button before it fires
                gst::endProgram(42);
            },
            ExitedWithCode(gst::kExitCancelled), "");
    }
}

TEST_F(FrmLoginTest, ClosingAfterSigningInDoesNotEndTheProgram)
{
    gSignedIn = true;
    window->close();
    EXPECT_FALSE(window->isVisible());
    gSignedIn = false;
}

} // namespace
