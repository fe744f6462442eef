// Layout of the conversion window: frame, controls, fonts, tab order.
#include "conversion/Form1.h"
#include "support/WindowTesting.h"
#include "ui_Form1.h"
#include "windows/WindowLook.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace
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

TEST_F(layoutForm1, ControlsAreWhereTheyBelong)
{
    struct Row {
        const char* name;
        QRect pixels;
    };
    const Row rows[] = {
        {"Label1", twipsRect(6315, 1275, 825, 300)},     {"Combo1", twipsRect(5130, 285, 2940, 420)},
        {"Command1", twipsRect(4350, 2700, 4935, 1515)}, {"lblWarning", twipsRect(3180, 4950, 735, 300)},
        {"Check1", twipsRect(3120, 4455, 1800, 360)},
    };
    showAndActivate();
    for (const Row& row : rows) {
        QWidget* widget = control(row.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget(), window.get()) << row.name;
        EXPECT_EQ(widget->geometry(), row.pixels) << row.name;
        EXPECT_TRUE(widget->isVisible()) << row.name;
    }
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

TEST_F(layoutForm1, AccessibleNames)
{
    const std::pair<const char*, const char*> rows[] = {
        {"Label1", "Label1"},     {"Combo1", "Combo1"},  {"Command1", "OK. "},
        {"lblWarning", "Label1"}, {"Check1", "I Agree"},
    };
    for (const auto& [name, accessible] : rows)
        EXPECT_EQ(control(name)->accessibleName(), QString::fromUtf8(accessible)) << name;
}

TEST_F(layoutForm1, TabOrderAndFirstFocus)
{
    std::vector<QString> chain;
    for (QWidget* w = window->nextInFocusChain(); w != window.get(); w = w->nextInFocusChain()) {
        if (w->parentWidget() == window.get() && (w->focusPolicy() & Qt::TabFocus))
            chain.push_back(w->objectName());
    }
    const std::vector<QString> expected = {"Combo1", "Command1", "Check1"};
    EXPECT_EQ(chain, expected);
    for (const char* name : {"Label1", "lblWarning"})
        EXPECT_EQ(control(name)->focusPolicy(), Qt::NoFocus) << name;

    showAndActivate();
    ASSERT_TRUE(waitUntil([] { return QApplication::focusWidget() != nullptr; }));
    EXPECT_EQ(QApplication::focusWidget(), window->ui()->Combo1);

    for (const char* next : {"Command1", "Check1", "Combo1"}) {
        pressKey(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), QString::fromLatin1(next));
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
