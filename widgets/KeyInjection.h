#pragma once

namespace gst
{

// One key event for a Windows virtual-key code (9 Tab, 13 Enter, 27 Esc, 38 Up),
// as if the key had been pressed on the keyboard: on Windows one SendInput
// keyboard event; elsewhere a key event posted to the focused widget through
// the application's event queue.
void injectKey(int virtualKey, bool keyDown);

} // namespace gst
