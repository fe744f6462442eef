#pragma once

#include <QString>
#include <optional>
#include <vector>

namespace gst
{

// The program's own name, the title of boxes that pass none.
extern const char* const kAppTitle;

enum class MsgIcon { None, Information, Critical };
enum class MsgButtons { Ok, YesNo };
enum class MsgAnswer { Ok, Yes, No };

// A box's title: none (the program's own title) or a given text (may be empty).
using MsgTitle = std::optional<QString>;

struct ShownBox {
    QString text;
    QString title; // as shown
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
    MsgAnswer answer = MsgAnswer::Ok;
};

// Shows a modal box and returns the answer. Yes is the default of Yes/No.
MsgAnswer showMessage(const QString& text, const MsgTitle& title, MsgIcon icon,
                      MsgButtons buttons = MsgButtons::Ok);

// Test seam: with scripted boxes on, nothing is drawn; each box takes the next
// queued answer (or its default button), is recorded, and is written to stderr
// as one line so that a child process's boxes can be read after it ends.
namespace msgbox_seam
{
void setScripted(bool on);
bool isScripted();
void queueAnswer(MsgAnswer answer);
const std::vector<ShownBox>& shown();
void clear();
// "[msgbox] icon=<none|information|critical> title=<title> text=<text>"; CR LF shown as "\n".
QString describe(const ShownBox& box);
} // namespace msgbox_seam

} // namespace gst
