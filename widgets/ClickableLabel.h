#pragma once

#include <QLabel>

namespace gst
{

// A picture that reports a left-button click (press and release both on it).
// Like the other pictures it never takes keyboard focus.
class ClickableLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ClickableLabel(QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_leftPressed = false;
};

} // namespace gst
