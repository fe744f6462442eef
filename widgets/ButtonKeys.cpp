#include "widgets/ButtonKeys.h"

#include <QAbstractButton>
#include <QKeyEvent>

namespace gst
{

namespace
{
class EnterPresses : public QObject
{
public:
    using QObject::QObject;

protected:
    // A press as a keyboard click makes it: armed by a key-down this button saw,
    // made by that key's key-up. Whether the key-down is marked as a repeat
    // does not matter: when a window closes on Enter's key-down, its key-up
    // reaches no window, and Qt on Windows then takes the next Enter for a repeat.
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FocusOut || event->type() == QEvent::EnabledChange) {
            m_armed = 0;
            return false;
        }
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            return false;
        // Cast only here: while the button is destroyed, the filter still sees
        // events for what is left of it, a plain QWidget.
        auto* button = static_cast<QAbstractButton*>(watched);
        if (event->type() == QEvent::KeyPress) {
            m_armed = button->isEnabled() ? key->key() : 0;
        } else if (!key->isAutoRepeat() && m_armed == key->key()) {
            m_armed = 0;
            if (button->isEnabled())
                button->click();
        }
        return true;
    }

private:
    int m_armed = 0; // the key whose key-down this button saw
};
} // namespace

void pressOnEnter(QAbstractButton* button)
{
    button->installEventFilter(new EnterPresses(button));
}

} // namespace gst
