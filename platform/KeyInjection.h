#pragma once

namespace gst
{

// Posts one key event for a Windows virtual-key code (9 Tab, 13 Enter, 27 Esc,
// 38 Up) to the focused widget through the application's event queue, as if the
// key had been pressed on the keyboard.
void injectKey(int virtualKey, bool keyDown);

} // namespace gst
