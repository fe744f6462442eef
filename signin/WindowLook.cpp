#include "signin/WindowLook.h"

#include <QDialog>
#include <QGuiApplication>
#include <QPalette>
#include <QWidget>

// Q_INIT_RESOURCE names a global function, so it cannot be used inside gst.
// Calling it is also what pulls the resources out of the static library.
static void initWindowsResource()
{
    Q_INIT_RESOURCE(windows);
}

namespace gst
{

void loadWindowResources()
{
    initWindowsResource();
}

QColor infoBackground()
{
    return QGuiApplication::palette().color(QPalette::ToolTipBase);
}

void fillBackground(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(widget->backgroundRole(), colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void setTextColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(widget->foregroundRole(), colour);
    widget->setPalette(palette);
}

void setPointSizeF(QWidget* widget, qreal pointSize)
{
    QFont font = widget->font();
    font.setPointSizeF(pointSize);
    widget->setFont(font);
}

QString withoutMnemonic(const QString& caption)
{
    QString plain;
    plain.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption.at(i) == u'&') {
            if (++i == caption.size())
                break;
        }
        plain += caption.at(i);
    }
    return plain;
}

void makeFixedDialog(QDialog* dialog, const QSize& clientSize)
{
    // Flags before size and position: setting flags re-parents the window.
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint);
    dialog->setSizeGripEnabled(false);
    dialog->setFixedSize(clientSize);
}

} // namespace gst
