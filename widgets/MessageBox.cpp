#include "widgets/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <cstdio>
#include <deque>

namespace gst
{

const char* const kAppTitle = "gstconvert";

namespace
{
struct SeamState {
    bool scripted = false;
    std::deque<MsgAnswer> answers;
    std::vector<ShownBox> shown;
};
SeamState& seam()
{
    static SeamState s;
    return s;
}

const char* iconName(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Information:
        return "information";
    case MsgIcon::Critical:
        return "critical";
    case MsgIcon::None:
        break;
    }
    return "none";
}
} // namespace

namespace msgbox_seam
{
void setScripted(bool on)
{
    seam().scripted = on;
}
bool isScripted()
{
    return seam().scripted;
}
void queueAnswer(MsgAnswer answer)
{
    seam().answers.push_back(answer);
}
const std::vector<ShownBox>& shown()
{
    return seam().shown;
}
void clear()
{
    seam().answers.clear();
    seam().shown.clear();
}
QString describe(const ShownBox& box)
{
    QString text = box.text;
    text.replace(QLatin1String("\r\n"), QLatin1String("\\n"));
    return QStringLiteral("[msgbox] icon=%1 title=%2 text=%3")
        .arg(QLatin1String(iconName(box.icon)), box.title, text);
}
} // namespace msgbox_seam

MsgAnswer showMessage(const QString& text, const MsgTitle& title, MsgIcon icon, MsgButtons buttons)
{
    ShownBox box;
    box.text = text;
    box.title = title ? *title : QString::fromLatin1(kAppTitle);
    box.icon = icon;
    box.buttons = buttons;

    if (seam().scripted) {
        MsgAnswer answer = buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
        if (!seam().answers.empty()) {
            answer = seam().answers.front();
            seam().answers.pop_front();
        }
        box.answer = answer;
        seam().shown.push_back(box);
        std::fprintf(stderr, "%s\n", msgbox_seam::describe(box).toUtf8().constData());
        std::fflush(stderr);
        return answer;
    }

    const QPointer<QWidget> owner = QApplication::activeWindow();
    QMessageBox mb(owner);
    mb.setWindowTitle(box.title);
    // The texts use CR LF line breaks; Qt wants plain line feeds.
    QString shownText = text;
    shownText.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    mb.setText(shownText);
    mb.setTextFormat(Qt::PlainText);
    mb.setIcon(icon == MsgIcon::Critical      ? QMessageBox::Critical
               : icon == MsgIcon::Information ? QMessageBox::Information
                                              : QMessageBox::NoIcon);
    if (buttons == MsgButtons::YesNo) {
        mb.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        mb.setDefaultButton(QMessageBox::Yes);
        mb.setEscapeButton(QMessageBox::No);
    } else {
        mb.setStandardButtons(QMessageBox::Ok);
        mb.setDefaultButton(QMessageBox::Ok);
    }
    mb.setAccessibleName(box.title);
    mb.setAccessibleDescription(shownText);
    const int result = mb.exec();
    // The window that was active gets the keyboard back, so that typing goes on
    // there. Window managers that let the focus follow the pointer, and a
    // screen without any, would otherwise leave it nowhere.
    if (owner && owner->isVisible())
        owner->activateWindow();
    if (buttons == MsgButtons::YesNo)
        box.answer = result == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
    seam().shown.push_back(box);
    return box.answer;
}

} // namespace gst
