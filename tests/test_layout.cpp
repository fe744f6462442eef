// Layout of the three windows: frame, controls, captions, fonts, colours and
// tab order; what every window is checked for alike runs once over all three.
#include "conversion/Form1.h"
#include "firms/FrmSelectFirm.h"
#include "platform/QtRuntime.h"
#include "signin/FrmLogin.h"
#include "support/WindowTesting.h"
#include "ui_Form1.h"
#include "ui_FrmLogin.h"
#include "ui_FrmSelectFirm.h"
#include "widgets/ClickableLabel.h"
#include "widgets/WindowLook.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <vector>

namespace
{
// The three-pixel line of a window, drawn in one colour from end to end.
void expectLineDrawnIn(QWidget* lineWidget, const QColor& colour)
{
    ASSERT_NE(lineWidget, nullptr);
    const QImage line = lineWidget->grab().toImage();
    ASSERT_EQ(line.height(), 3);
    for (int y = 0; y < 3; ++y) {
        for (int x : {1, line.width() / 2, line.width() - 2})
            EXPECT_EQ(QColor(line.pixel(x, y)), colour) << "line pixel " << x << "," << y;
    }
}
} // namespace

namespace form1_layout
{

using layoutForm1 = LayoutTest<Form1>;

TEST_F(layoutForm1, FrameIsASizableWindowPlacedByTheWindowSystem)
{
    EXPECT_EQ(window->windowTitle(),
              QStringLiteral("Change GST from 'GST 5% (18% above Rs 500)' to 'GST 5% (18% above Rs 1000)'"));
    EXPECT_TRUE(window->isWindow());
    EXPECT_EQ(window->size(), QSize(px(12555), px(7860)));
    EXPECT_FALSE(window->testAttribute(Qt::WA_Moved)) << "the window system chooses the position";
    EXPECT_NE(window->minimumSize(), window->maximumSize()) << "the operator can resize it";

    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Window);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMaximizeButtonHint);

    EXPECT_EQ(window->palette().color(QPalette::Window), QApplication::palette().color(QPalette::Button));
    EXPECT_TRUE(window->windowIcon().availableSizes().contains(QSize(32, 32)));
}

TEST_F(layoutForm1, CaptionsAndFonts)
{
    struct Row {
        const char* name;
        const char* caption;
        qreal points;
        bool bold;
        bool underline;
    };
    const Row rows[] = {
        {"Label1", "Label1", 12, true, true},    {"Combo1", "Combo1", 12, false, false},
        {"Command1", "OK. ", 13.5, true, false}, {"lblWarning", "Label1", 12, false, false},
        {"Check1", "I Agree", 12, false, true},
    };
    for (const Row& row : rows) {
        QWidget* widget = control(row.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(captionOf(widget), QString::fromUtf8(row.caption)) << row.name;
        const QFont font = widget->font();
        EXPECT_EQ(font.family(), QStringLiteral("MS Sans Serif")) << row.name;
        EXPECT_DOUBLE_EQ(font.pointSizeF(), row.points) << row.name;
        EXPECT_EQ(font.bold(), row.bold) << row.name;
        EXPECT_EQ(font.underline(), row.underline) << row.name;
    }
}

TEST_F(layoutForm1, ControlKinds)
{
    const Ui::Form1* ui = window->ui();
    EXPECT_TRUE(ui->Combo1->isEditable());
    EXPECT_EQ(ui->Combo1->insertPolicy(), QComboBox::NoInsert);
    EXPECT_EQ(ui->Combo1->count(), 0);
    EXPECT_FALSE(ui->Check1->isChecked());
    EXPECT_FALSE(ui->Command1->isDefault());
    EXPECT_FALSE(ui->Command1->autoDefault());
    EXPECT_EQ(ui->Label1->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
}

TEST_F(layoutForm1, CaptionsGrowAsTheProgramSetsThem)
{
    showAndActivate();
    struct Row {
        QLabel* label;
        bool keepsCentre; // otherwise the top-left corner
    };
    const Row rows[] = {{window->ui()->Label1, true}, {window->ui()->lblWarning, false}};
    for (const Row& row : rows) {
        QLabel* label = row.label;
        SCOPED_TRACE(label->objectName().toStdString());
        const QRect before = label->geometry();
        gst::setLabelCaption(label, QStringLiteral("A caption much longer\r\nthan the one drawn at design"));
        EXPECT_GT(label->width(), before.width());
        EXPECT_GT(label->height(), before.height());
        EXPECT_EQ(label->size(), label->sizeHint());
        EXPECT_EQ(label->y(), before.y());
        if (row.keepsCentre)
            EXPECT_LE(std::abs(label->geometry().center().x() - before.center().x()), 1);
        else
            EXPECT_EQ(label->x(), before.x());
    }
}

} // namespace form1_layout

namespace frmlogin_layout
{

const QColor kGrey(128, 128, 128);

using layoutFrmLogin = LayoutTest<FrmLogin>;

TEST_F(layoutFrmLogin, FrameIsAFixedGreyDialogAtItsScreenPosition)
{
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Login"));
    const QRect client(px(3915), px(3405), px(3840), px(2235));
    EXPECT_EQ(window->geometry(), client);
    EXPECT_EQ(window->minimumSize(), client.size());
    EXPECT_EQ(window->maximumSize(), client.size());

    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Dialog);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(window->isSizeGripEnabled());

    EXPECT_EQ(window->palette().color(QPalette::Window), kGrey);
    const QList<QSize> iconSizes = window->windowIcon().availableSizes();
    EXPECT_TRUE(iconSizes.contains(QSize(32, 32)));
    EXPECT_TRUE(iconSizes.contains(QSize(16, 16)));

    showAndActivate();
    // Activation cuts the band of hidden tick boxes off: 2050 twips outer height.
    EXPECT_EQ(window->geometry().topLeft(), client.topLeft()) << "the window system must not move it";
    EXPECT_EQ(window->width(), client.width());
    EXPECT_EQ(window->frameGeometry().height(), px(2050));
}

TEST_F(layoutFrmLogin, CaptionsFontsAndVisibility)
{
    struct Row {
        const char* name;
        const char* caption;
        const char* family; // nullptr: the window's default font
        qreal points;
        bool bold;
        bool visible;
    };
    const Row rows[] = {
        {"lblLabels_0", "&User Name:", "Arial", 9, true, true},
        {"txtUserName", "", "Courier New", 12, false, true},
        {"lblLabels_1", "&Password:", "Arial", 9, true, true},
        {"txtPassword", "", "Courier New", 12, false, true},
        {"cmdOk", "&OK", "MS Sans Serif", 9.75, false, true},
        {"cmdCancel", "&Cancel", "MS Sans Serif", 9.75, false, true},
        {"chkBioCap", "Use Biometric Device (Press F5)", "Tahoma", 8.25, true, false},
        {"chkMifare", "Use Mifare Login (Press F1)", "Tahoma", 8.25, true, false},
        {"lblCardString", "", nullptr, 0, false, false},
        {"lblOffLine", "Off-Line", "Verdana", 11.25, true, false},
        {"Image1", "", nullptr, 0, false, true},
    };
    showAndActivate();
    for (const Row& row : rows) {
        QWidget* widget = control(row.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(captionOf(widget), QString::fromUtf8(row.caption)) << row.name;
        EXPECT_EQ(widget->isVisible(), row.visible) << row.name;
        const QFont font = widget->font();
        if (row.family) {
            EXPECT_EQ(font.family(), QString::fromLatin1(row.family)) << row.name;
            EXPECT_DOUBLE_EQ(font.pointSizeF(), row.points) << row.name;
            EXPECT_EQ(font.bold(), row.bold) << row.name;
            EXPECT_FALSE(font.underline()) << row.name;
        } else {
            EXPECT_EQ(font, QApplication::font()) << row.name;
        }
    }
}

TEST_F(layoutFrmLogin, Colours)
{
    struct Row {
        const char* name;
        QPalette::ColorRole role;
        QColor colour;
    };
    const QColor yellowish(255, 255, 192);
    const Row rows[] = {
        {"lblLabels_0", QPalette::WindowText, yellowish},
        {"lblLabels_1", QPalette::WindowText, yellowish},
        {"txtUserName", QPalette::Base, info()},
        {"txtPassword", QPalette::Base, info()},
        {"cmdOk", QPalette::Button, info()},
        {"cmdCancel", QPalette::Button, info()},
        {"chkBioCap", QPalette::Window, kGrey},
        {"chkBioCap", QPalette::WindowText, info()},
        {"chkMifare", QPalette::Window, kGrey},
        {"chkMifare", QPalette::WindowText, info()},
        {"lblOffLine", QPalette::Window, kGrey},
        {"lblOffLine", QPalette::WindowText, QColor(255, 0, 0)},
        {"Line1", QPalette::WindowText, info()},
    };
    for (const Row& row : rows) {
        QWidget* widget = control(row.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->palette().color(row.role), row.colour) << row.name << " role " << row.role;
    }

    // Filled backgrounds, and the captions that let the grey show through.
    const std::pair<const char*, bool> fills[] = {
        {"lblLabels_0", false}, {"lblLabels_1", false}, {"cmdOk", true},      {"cmdCancel", true},
        {"chkBioCap", true},    {"chkMifare", true},    {"lblOffLine", true},
    };
    for (const auto& [name, filled] : fills)
        EXPECT_EQ(control(name)->autoFillBackground(), filled) << name;
}

TEST_F(layoutFrmLogin, DrawnColoursOfEntryFieldsAndLine)
{
    showAndActivate();
    // The focused field shows the focus colour, the other one the resting colour.
    const struct {
        const char* name;
        QColor expected;
    } fields[] = {{"txtUserName", QColor(237, 227, 253)}, {"txtPassword", info()}};
    for (const auto& f : fields) {
        QWidget* field = control(f.name);
        const QImage image = field->grab().toImage();
        // Right-hand side of the field, clear of text and frame.
        const QPoint inside(image.width() - 6, image.height() / 2);
        EXPECT_EQ(QColor(image.pixel(inside)), f.expected) << f.name;
    }
    expectLineDrawnIn(control("Line1"), info());
}

TEST_F(layoutFrmLogin, EntryFieldsHideWhatIsTyped)
{
    const Ui::FrmLogin* ui = window->ui();
    for (QLineEdit* field : {ui->txtUserName, ui->txtPassword}) {
        const std::string name = field->objectName().toStdString();
        EXPECT_EQ(field->echoMode(), QLineEdit::Password) << name;
        EXPECT_EQ(field->maxLength(), INT_MAX) << name;
        EXPECT_FALSE(field->testAttribute(Qt::WA_InputMethodEnabled)) << name;
        field->setText(QStringLiteral("sa pw"));
        EXPECT_EQ(field->displayText(), QStringLiteral("*****")) << name;
        field->setText(QString(40000, u'x'));
        EXPECT_EQ(field->text().size(), 40000) << name << " must take text longer than 32767";
    }
    EXPECT_EQ(ui->lblLabels_0->buddy(), ui->txtUserName);
    EXPECT_EQ(ui->lblLabels_1->buddy(), ui->txtPassword);
}

TEST_F(layoutFrmLogin, NoButtonIsDefaultAndEscInThePasswordDoesNothing)
{
    const Ui::FrmLogin* ui = window->ui();
    showAndActivate();
    const auto okClicks = countEmissions(ui->cmdOk, &QPushButton::clicked);
    const auto cancelClicks = countEmissions(ui->cmdCancel, &QPushButton::clicked);
    const auto rejected = countEmissions(window.get(), &QDialog::rejected);
    for (QPushButton* button : {ui->cmdOk, ui->cmdCancel}) {
        EXPECT_FALSE(button->isDefault()) << button->objectName().toStdString();
        EXPECT_FALSE(button->autoDefault()) << button->objectName().toStdString();
    }
    // Enter and Esc in the user name, and Enter in the password, have meanings of
    // their own; Esc in the password field must neither cancel nor close.
    for (int key : {Qt::Key_Escape, Qt::Key_F1, Qt::Key_F5})
        pressKey(ui->txtPassword, key);
    EXPECT_EQ(*okClicks, 0);
    EXPECT_EQ(*cancelClicks, 0);
    EXPECT_EQ(*rejected, 0);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(layoutFrmLogin, PictureShowsItsBitmapAndReportsLeftClicks)
{
    gst::ClickableLabel* image = window->ui()->Image1;
    EXPECT_EQ(image->pixmap().size(), QSize(41, 42));
    EXPECT_EQ(image->toolTip(), QStringLiteral("Click to Start SQL Agent"));

    struct Row {
        const char* what;
        Qt::MouseButton button;
        QPointF releaseAt;
        int clicks;
    };
    const Row rows[] = {
        {"left press and release on the picture", Qt::LeftButton, QPointF(20, 20), 1},
        {"right button", Qt::RightButton, QPointF(20, 20), 0},
        {"left released off the picture", Qt::LeftButton, QPointF(60, 20), 0},
    };
    showAndActivate();
    for (const Row& row : rows) {
        const auto clicked = countEmissions(image, &gst::ClickableLabel::clicked);
        const QPointF pressAt(10, 10);
        QMouseEvent press(QEvent::MouseButtonPress, pressAt, image->mapToGlobal(pressAt), row.button,
                          row.button, Qt::NoModifier);
        QCoreApplication::sendEvent(image, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, row.releaseAt, image->mapToGlobal(row.releaseAt),
                            row.button, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(image, &release);
        EXPECT_EQ(*clicked, row.clicks) << row.what;
    }
    // A release alone, without a press on the picture, is no click.
    const auto clicked = countEmissions(image, &gst::ClickableLabel::clicked);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), image->mapToGlobal(QPointF(5, 5)),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(image, &release);
    EXPECT_EQ(*clicked, 0);
    EXPECT_NE(QApplication::focusWidget(), image);
}

TEST_F(layoutFrmLogin, UndrawnTimerIsNeverStarted)
{
    EXPECT_EQ(window->Timer1.interval(), 0);
    showAndActivate();
    EXPECT_FALSE(window->Timer1.isActive());
}

} // namespace frmlogin_layout

namespace frmselectfirm_layout
{

using layoutFrmSelectFirm = LayoutTest<FrmSelectFirm>;

TEST_F(layoutFrmSelectFirm, FrameIsAFixedGreyDialogCentredOnTheScreen)
{
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Select Firm"));
    const QSize client(px(4305), px(1635));
    EXPECT_EQ(window->size(), client);
    EXPECT_EQ(window->minimumSize(), client);
    EXPECT_EQ(window->maximumSize(), client);

    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Dialog);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(window->isSizeGripEnabled());

    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(128, 128, 128));
    const QList<QSize> iconSizes = window->windowIcon().availableSizes();
    EXPECT_TRUE(iconSizes.contains(QSize(32, 32)));
    EXPECT_TRUE(iconSizes.contains(QSize(16, 16)));

    showAndActivate();
    const QPoint screenCentre = QGuiApplication::primaryScreen()->geometry().center();
    EXPECT_LE((window->geometry().center() - screenCentre).manhattanLength(), 1);
    EXPECT_EQ(window->size(), client);
}

TEST_F(layoutFrmSelectFirm, CaptionsFontsAndKinds)
{
    struct Row {
        const char* name;
        const char* caption;
        const char* family;
    };
    const Row rows[] = {
        {"cmdOk", "&OK", "MS Sans Serif"},
        {"cmdCancel", "&Cancel", "MS Sans Serif"},
    };
    for (const Row& row : rows) {
        auto* button = qobject_cast<QPushButton*>(control(row.name));
        ASSERT_NE(button, nullptr) << row.name;
        EXPECT_EQ(button->text(), QString::fromUtf8(row.caption)) << row.name;
        EXPECT_EQ(button->font().family(), QString::fromLatin1(row.family)) << row.name;
        EXPECT_DOUBLE_EQ(button->font().pointSizeF(), 9.75) << row.name;
        EXPECT_FALSE(button->font().bold()) << row.name;
        EXPECT_FALSE(button->autoDefault()) << row.name;
    }
    const QComboBox* firms = window->ui()->cmbFirm;
    EXPECT_FALSE(firms->isEditable());
    EXPECT_EQ(firms->count(), 0);
    EXPECT_EQ(firms->font().family(), QStringLiteral("Verdana"));
    EXPECT_DOUBLE_EQ(firms->font().pointSizeF(), 9.75);
}

TEST_F(layoutFrmSelectFirm, Colours)
{
    struct Row {
        const char* name;
        QPalette::ColorRole role;
    };
    const Row rows[] = {
        {"cmbFirm", QPalette::Base},     {"cmbFirm", QPalette::Button},   {"cmdOk", QPalette::Button},
        {"cmdCancel", QPalette::Button}, {"Line1", QPalette::WindowText},
    };
    for (const Row& row : rows)
        EXPECT_EQ(control(row.name)->palette().color(row.role), info()) << row.name << " role " << row.role;
    for (const char* name : {"cmdOk", "cmdCancel"})
        EXPECT_TRUE(control(name)->autoFillBackground()) << name;

    showAndActivate();
    expectLineDrawnIn(control("Line1"), info());
}

TEST_F(layoutFrmSelectFirm, NeitherEnterNorEscPressesAButtonOrClosesTheWindow)
{
    const Ui::FrmSelectFirm* ui = window->ui();
    showAndActivate();
    const auto okClicks = countEmissions(ui->cmdOk, &QPushButton::clicked);
    const auto cancelClicks = countEmissions(ui->cmdCancel, &QPushButton::clicked);
    const auto rejected = countEmissions(window.get(), &QDialog::rejected);
    for (QPushButton* button : {ui->cmdOk, ui->cmdCancel})
        EXPECT_FALSE(button->isDefault()) << button->objectName().toStdString();
    for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
        pressKey(ui->cmbFirm, key);
    EXPECT_EQ(*okClicks, 0);
    EXPECT_EQ(*cancelClicks, 0);
    EXPECT_EQ(*rejected, 0);
    EXPECT_TRUE(window->isVisible());
}

} // namespace frmselectfirm_layout

namespace
{

// Each control's place in pixels, its accessible name (null: none asked for)
// and whether it shows once the window does (null: not asked); then the
// controls Tab reaches, and where Tab goes from the first focus, which it
// comes back to last. Every other control takes no focus.
struct ControlRow {
    const char* name;
    QRect pixels;
    const char* accessible;
    std::optional<bool> shown;
};
struct WindowLayout {
    std::vector<ControlRow> controls;
    std::vector<QString> tabChain;
    std::vector<QString> tabWalk;
};

template <typename W> WindowLayout layoutOf();

template <> WindowLayout layoutOf<Form1>()
{
    return {{{"Label1", twipsRect(6315, 1275, 825, 300), "Label1", true},
             {"Combo1", twipsRect(5130, 285, 2940, 420), "Combo1", true},
             {"Command1", twipsRect(4350, 2700, 4935, 1515), "OK. ", true},
             {"lblWarning", twipsRect(3180, 4950, 735, 300), "Label1", true},
             {"Check1", twipsRect(3120, 4455, 1800, 360), "I Agree", true}},
            {"Combo1", "Command1", "Check1"},
            {"Command1", "Check1", "Combo1"}};
}

template <> WindowLayout layoutOf<FrmLogin>()
{
    return {{{"lblLabels_0", twipsRect(90, 195, 990, 225), "User Name:", {}},
             {"txtUserName", twipsRect(1290, 135, 2325, 345), "User Name", {}},
             {"lblLabels_1", twipsRect(105, 600, 915, 225), "Password:", {}},
             {"txtPassword", twipsRect(1290, 540, 2325, 345), "Password", {}},
             {"cmdOk", twipsRect(1230, 1185, 960, 405), "OK", {}},
             {"cmdCancel", twipsRect(2415, 1185, 960, 390), "Cancel", {}},
             {"chkBioCap", twipsRect(540, 1575, 2985, 255), "Use Biometric Device (Press F5)", {}},
             {"chkMifare", twipsRect(540, 1860, 2595, 255), "Use Mifare Login (Press F1)", {}},
             {"lblCardString", twipsRect(2475, 720, 1110, 120), nullptr, {}},
             {"lblOffLine", twipsRect(75, 1245, 990, 270), "Off-Line", {}},
             {"Image1", twipsRect(105, 1065, 615, 630), "Click to Start SQL Agent", {}},
             // The line runs from 120 to 3630 twips at 999, three pixels thick.
             {"Line1", QRect(px(120), px(999) - 1, px(3630) - px(120), 3), nullptr, {}}},
            {"txtUserName", "txtPassword", "cmdOk", "cmdCancel", "chkBioCap", "chkMifare"},
            // Tab skips the hidden check boxes and comes back round.
            {"txtPassword", "cmdOk", "cmdCancel", "txtUserName"}};
}

template <> WindowLayout layoutOf<FrmSelectFirm>()
{
    return {{{"cmbFirm", twipsRect(90, 255, 4125, 360), "Firm", true},
             {"cmdOk", twipsRect(795, 1125, 1110, 420), "OK", true},
             {"cmdCancel", twipsRect(2340, 1110, 1110, 420), "Cancel", true},
             // The line runs from 45 to 4260 twips at 975, three pixels thick.
             {"Line1", QRect(px(45), px(975) - 1, px(4260) - px(45), 3), nullptr, true}},
            {"cmbFirm", "cmdOk", "cmdCancel"},
            {"cmdOk", "cmdCancel", "cmbFirm"}};
}

template <typename W> using EveryWindow = LayoutTest<W>;
using Windows = ::testing::Types<Form1, FrmLogin, FrmSelectFirm>;
TYPED_TEST_SUITE(EveryWindow, Windows);

TYPED_TEST(EveryWindow, ControlsAccessibleNamesAndTabOrder)
{
    const WindowLayout layout = layoutOf<TypeParam>();
    std::vector<QString> chain;
    for (QWidget* w = this->window->nextInFocusChain(); w != this->window.get(); w = w->nextInFocusChain()) {
        if (w->parentWidget() == this->window.get() && (w->focusPolicy() & Qt::TabFocus))
            chain.push_back(w->objectName());
    }
    EXPECT_EQ(chain, layout.tabChain);
    this->showAndActivate();
    for (const ControlRow& row : layout.controls) {
        QWidget* widget = this->control(row.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget(), this->window.get()) << row.name;
        EXPECT_EQ(widget->geometry(), row.pixels) << row.name;
        if (row.accessible) {
            EXPECT_EQ(widget->accessibleName(), QString::fromUtf8(row.accessible)) << row.name;
        }
        if (row.shown) {
            EXPECT_EQ(widget->isVisible(), *row.shown) << row.name;
        }
        if (std::find(chain.begin(), chain.end(), QString::fromLatin1(row.name)) == chain.end()) {
            EXPECT_EQ(widget->focusPolicy(), Qt::NoFocus) << row.name;
        }
    }
    ASSERT_TRUE(waitUntil([] { return QApplication::focusWidget() != nullptr; }));
    EXPECT_EQ(QApplication::focusWidget()->objectName(), layout.tabWalk.back());
    for (const QString& next : layout.tabWalk) {
        pressKey(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), next);
    }
}

} // namespace

int main(int argc, char** argv)
{
    gst::configureQtRuntime();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
