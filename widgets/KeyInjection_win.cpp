#include "widgets/KeyInjection.h"

#include <windows.h>

namespace gst
{

void injectKey(int virtualKey, bool keyDown)
{
    // One keyboard event through the system's input queue, as the keyboard
    // itself would give it: it reaches whatever window has the focus.
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = static_cast<WORD>(virtualKey);
    input.ki.dwFlags = keyDown ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof input);
}

} // namespace gst
