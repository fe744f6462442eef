#pragma once

#include <QString>

namespace gst
{

// Why the windows could not be shown, or an empty text when a display may be
// there. Call before the application object is made: Qt ends the process
// inside its own code (an abort and a core dump) when it finds no display.
// Only what can be told without connecting is looked at: the Qt platform
// chosen by QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY.
QString missingDisplay();

} // namespace gst
