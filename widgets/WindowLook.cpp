#include "widgets/WindowLook.h"

#include <QDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

// Q_INIT_RESOURCE names a global function, so it cannot be used inside gst.
// Calling it is also what pulls the resources out of the static library.
static void initPictures()
{
    Q_INIT_RESOURCE(pictures);
}

namespace gst
{

void loadWindowResources()
{
    initPictures();
}

QPixmap picture(const QString& path)
{
    QImageReader reader(path, QByteArrayLiteral("png"));
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

QIcon windowIcon(std::initializer_list<const char*> paths)
{
    QIcon icon;
    for (const char* path : paths)
        icon.addPixmap(picture(QString::fromLatin1(path)));
    return icon;
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

void setLabelCaption(QLabel* label, const QString& caption)
{
    const int centre = label->x() + label->width() / 2;
    label->setText(caption);
    label->adjustSize();
    if (label->alignment() & Qt::AlignHCenter)
        label->move(centre - label->width() / 2, label->y());
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

void setWrappedCaption(QPushButton* button, const QString& caption)
{
    const QString labelName = QStringLiteral("wrappedCaption");
    auto* label = button->findChild<QLabel*>(labelName, Qt::FindDirectChildrenOnly);
    if (!label) {
        label = new QLabel(button);
        label->setObjectName(labelName);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignCenter);
        label->setTextFormat(Qt::PlainText);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        auto* layout = new QVBoxLayout(button);
        layout->setContentsMargins(4, 2, 4, 2);
        layout->addWidget(label);
        // The caption keeps the button's text colours; the button's own one-line
        // drawing of it is made invisible.
        QPalette labelPalette = label->palette();
        QPalette palette = button->palette();
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            labelPalette.setColor(group, QPalette::ButtonText, palette.color(group, QPalette::ButtonText));
        label->setPalette(labelPalette);
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            palette.setColor(group, QPalette::ButtonText, Qt::transparent);
        button->setPalette(palette);
    }
    button->setText(caption);
    QString shown = caption;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    label->setText(shown);
    // Where the desktop's font is wider than the one the button was laid out
    // for, the caption is made smaller until all of it fits.
    const QRect room = button->rect().adjusted(4, 2, -4, -2);
    QFont font = button->font();
    for (qreal size = font.pointSizeF(); size > 6.0; size -= 0.5) {
        font.setPointSizeF(size);
        const QRect needed = QFontMetrics(font).boundingRect(QRect(0, 0, room.width(), 0),
                                                             Qt::TextWordWrap | Qt::AlignCenter, shown);
        if (needed.height() <= room.height() && needed.width() <= room.width())
            break;
    }
    label->setFont(font);
}

} // namespace gst
