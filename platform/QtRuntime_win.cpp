#include "platform/QtRuntime.h"

#include <QByteArray>

namespace gst
{

void configureQtRuntime()
{
    // Read once, when the first pattern is compiled.
    qputenv("QT_ENABLE_REGEXP_JIT", "0");
}

} // namespace gst
