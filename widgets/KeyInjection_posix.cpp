#include "widgets/KeyInjection.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace gst
{

namespace
{
int qtKeyFor(int virtualKey)
{
    switch (virtualKey) {
    case 9:
        return Qt::Key_Tab;
    case 13:
        return Qt::Key_Return;
    case 27:
        return Qt::Key_Escape;
    case 38:
        return Qt::Key_Up;
    case 40:
        return Qt::Key_Down;
    default:
        if (virtualKey >= 'A' && virtualKey <= 'Z')
            return virtualKey;
        if (virtualKey >= '0' && virtualKey <= '9')
            return virtualKey;
        return Qt::Key_unknown;
    }
}

QString textFor(int key)
{
    switch (key) {
    case Qt::Key_Tab:
        return QStringLiteral("\t");
    case Qt::Key_Return:
        return QStringLiteral("\r");
    case Qt::Key_Escape:
        return QString(QChar(27));
    default:
        return QString();
    }
}
} // namespace

void injectKey(int virtualKey, bool keyDown)
{
    QWidget* target = QApplication::focusWidget();
    if (!target)
        return;
    const int key = qtKeyFor(virtualKey);
    // Posted, not sent: the event is handled after the current handler returns,
    // as a key from the keyboard would be.
    QApplication::postEvent(target, new QKeyEvent(keyDown ? QEvent::KeyPress : QEvent::KeyRelease, key,
                                                  Qt::NoModifier, textFor(key)));
}

} // namespace gst
