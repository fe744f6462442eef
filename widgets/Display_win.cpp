#include "widgets/Display.h"

namespace gst
{

// Windows always has its desktop to show the windows on.
QString missingDisplay()
{
    return QString();
}

} // namespace gst
