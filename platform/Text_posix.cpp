#include "platform/Text.h"

namespace gst
{

void writeText(std::FILE* stream, const QString& text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

} // namespace gst
