#include "platform/Text.h"

#include <algorithm>

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

} // namespace gst
