#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <initializer_list>

class QDialog;
class QLabel;
class QPushButton;
class QWidget;

namespace gst
{

// Loads the windows' icons and pictures; safe to call more than once.
void loadWindowResources();

// A picture of the windows' resources, read as PNG. Naming the format spares
// Qt loading every image-format plugin (and the JPEG library) to ask each
// whether it reads the file, which it does for a picture given by name alone.
QPixmap picture(const QString& path);
// A window icon made of the pictures at `paths`, one per size.
QIcon windowIcon(std::initializer_list<const char*> paths);

// The system's information-background colour (tool-tip background).
QColor infoBackground();

// Fills the widget's whole area with the colour, behind whatever its style draws.
void fillBackground(QWidget* widget, const QColor& colour);
void setTextColour(QWidget* widget, const QColor& colour);
// Point sizes such as 9.75 that the form description cannot hold.
void setPointSizeF(QWidget* widget, qreal pointSize);

// Sets the caption of a label that sizes itself to its caption: it grows
// rightwards and downwards from its top-left corner, or, when its text is
// centred, sideways about its centre.
void setLabelCaption(QLabel* label, const QString& caption);

// A caption as read aloud: "&&" stays "&", any other "&" is dropped.
QString withoutMnemonic(const QString& caption);

// Sets a button's caption and draws it wrapped within the button, as long
// captions are shown on the shop's desktop; Qt buttons draw one line only. The
// button keeps the caption as its text, so it is read aloud and found by tests.
void setWrappedCaption(QPushButton* button, const QString& caption);

// A dialog the operator cannot resize, minimise or maximise, with the given
// client size.
void makeFixedDialog(QDialog* dialog, const QSize& clientSize);

} // namespace gst
