#include "platform/Text.h"

#include <algorithm>

#ifdef Q_OS_WIN
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#endif

namespace gst
{

QString printable(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.category()) {
        case QChar::Other_Control:
        case QChar::Other_Format:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            out += QLatin1Char('?');
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool hasControlCharacter(const QString& text)
{
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.category() == QChar::Other_Control; });
}

QString number(std::int16_t n)
{
    return QString::number(n);
}

void wipe(QString& text)
{
    if (!text.isEmpty())
        std::fill(text.data(), text.data() + text.size(), QChar());
}

void wipe(QByteArray& bytes)
{
    if (!bytes.isEmpty())
        std::fill(bytes.data(), bytes.data() + bytes.size(), '\0');
}

void writeText(std::FILE* stream, const QString& text)
{
#ifdef Q_OS_WIN
    // A windowed program started from a console has no standard streams of
    // its own: it writes to that console, unless its output was redirected.
    const DWORD which = stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
    const HANDLE handle = GetStdHandle(which);
    if ((handle == nullptr || handle == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS))
        std::freopen("CONOUT$", "w", stream);
    _setmode(_fileno(stream), _O_BINARY);
#endif
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

} // namespace gst
