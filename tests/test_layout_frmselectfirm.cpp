// Layout of the firm picker: frame, controls, colours, tab order.
#include "firms/FrmSelectFirm.h"
#include "support/WindowTesting.h"
#include "ui_FrmSelectFirm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QScreen>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace
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

TEST_F(layoutFrmSelectFirm, ControlsAreWhereTheyBelong)
{
    struct Row {
        const char* name;
        QRect pixels;
    };
    const Row rows[] = {
        {"cmbFirm", twipsRect(90, 255, 4125, 360)},
        {"cmdOk", twipsRect(795, 1125, 1110, 420)},
        {"cmdCancel", twipsRect(2340, 1110, 1110, 420)},
        // The line runs from 45 to 4260 twips at 975, three pixels thick.
        {"Line1", QRect(px(45), px(975) - 1, px(4260) - px(45), 3)},
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
    const QImage line = control("Line1")->grab().toImage();
    ASSERT_EQ(line.height(), 3);
    for (int y = 0; y < 3; ++y) {
        for (int x : {1, line.width() / 2, line.width() - 2})
            EXPECT_EQ(QColor(line.pixel(x, y)), info()) << "line pixel " << x << "," << y;
    }
}

TEST_F(layoutFrmSelectFirm, AccessibleNames)
{
    const std::pair<const char*, const char*> rows[] = {
        {"cmbFirm", "Firm"},
        {"cmdOk", "OK"},
        {"cmdCancel", "Cancel"},
    };
    for (const auto& [name, accessible] : rows)
        EXPECT_EQ(control(name)->accessibleName(), QString::fromUtf8(accessible)) << name;
}

TEST_F(layoutFrmSelectFirm, TabOrderAndFirstFocus)
{
    std::vector<QString> chain;
    for (QWidget* w = window->nextInFocusChain(); w != window.get(); w = w->nextInFocusChain()) {
        if (w->parentWidget() == window.get() && (w->focusPolicy() & Qt::TabFocus))
            chain.push_back(w->objectName());
    }
    const std::vector<QString> expected = {"cmbFirm", "cmdOk", "cmdCancel"};
    EXPECT_EQ(chain, expected);
    EXPECT_EQ(control("Line1")->focusPolicy(), Qt::NoFocus);

    showAndActivate();
    ASSERT_TRUE(waitUntil([] { return QApplication::focusWidget() != nullptr; }));
    EXPECT_EQ(QApplication::focusWidget(), window->ui()->cmbFirm);

    for (const char* next : {"cmdOk", "cmdCancel", "cmbFirm"}) {
        pressKey(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), QString::fromLatin1(next));
    }
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

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
