#include "windows/ButtonKeys.h"

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
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            return false;
        auto* button = static_cast<QAbstractButton*>(watched);
        // A held key presses once, as a keyboard click would.
        if (!key->isAutoRepeat() && button->isEnabled())
            button->click();
        return true;
    }
};
} // namespace

void pressOnEnter(QAbstractButton* button)
{
    button->installEventFilter(new EnterPresses(button));
}

} // namespace gst
