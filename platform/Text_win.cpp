#include "platform/Text.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

namespace gst
{

void writeText(std::FILE* stream, const QString& text)
{
    // A windowed program started from a console has no standard streams of
    // its own: it writes to that console, unless its output was redirected.
    const DWORD which = stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
    const HANDLE handle = GetStdHandle(which);
    if ((handle == nullptr || handle == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS))
        std::freopen("CONOUT$", "w", stream);
    // Plain line feeds, as on Linux.
    _setmode(_fileno(stream), _O_BINARY);
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

} // namespace gst
