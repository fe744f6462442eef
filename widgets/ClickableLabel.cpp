#include "widgets/ClickableLabel.h"

#include <QMouseEvent>

namespace gst
{

ClickableLabel::ClickableLabel(QWidget* parent) : QLabel(parent)
{
    setFocusPolicy(Qt::NoFocus);
}

void ClickableLabel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_leftPressed = true;
        event->accept();
        return;
    }
    QLabel::mousePressEvent(event);
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    const bool wasPressed = m_leftPressed;
    m_leftPressed = false;
    event->accept();
    // Releasing away from the picture cancels the click, as with a button.
    if (wasPressed && rect().contains(event->position().toPoint()))
        emit clicked();
}

} // namespace gst
