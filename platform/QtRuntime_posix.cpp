#include "platform/QtRuntime.h"

namespace gst
{

// Qt's defaults hold here: its thread_local objects end with their threads.
void configureQtRuntime() {}

} // namespace gst
