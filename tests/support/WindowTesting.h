#pragma once

// Small helpers shared by the window tests.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPalette>
#include <QRect>
#include <QWidget>
#include <functional>
#include <memory>

// Twips to the nearest pixel, at 15 twips a pixel.
inline int px(int twips)
{
    return (twips * 2 + 15) / 30;
}

inline QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

// Runs the event loop until `done` holds, for at most three seconds.
inline bool waitUntil(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 3000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A key pressed and released on the widget, delivered at once.
inline void pressKey(QWidget* target, int key, const QString& text = QString())
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(target, &release);
}

// How many times a signal fires from now on.
template <typename Sender, typename Signal> std::shared_ptr<int> countEmissions(Sender* sender, Signal signal)
{
    auto count = std::make_shared<int>(0);
    QObject::connect(sender, signal, [count] { ++*count; });
    return count;
}

// The resting colour of the fields and buttons: the tool-tip background.
inline QColor info()
{
    return QGuiApplication::palette().color(QPalette::ToolTipBase);
}

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <gtest/gtest.h>

// The text a control shows: a caption, a field's text, a list's current text.
inline QString captionOf(const QWidget* widget)
{
    if (auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    if (auto* field = qobject_cast<const QLineEdit*>(widget))
        return field->text();
    if (auto* combo = qobject_cast<const QComboBox*>(widget))
        return combo->currentText();
    ADD_FAILURE() << "no caption for " << widget->objectName().toStdString();
    return {};
}

// A fresh window of type W for each layout test, with its controls by name.
template <typename W> class LayoutTest : public ::testing::Test
{
protected:
    void SetUp() override { window = std::make_unique<W>(); }

    QWidget* control(const char* name) const
    {
        auto* found = window->template findChild<QWidget*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    void showAndActivate()
    {
        window->show();
        ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == window.get(); }));
    }

    std::unique_ptr<W> window;
};
