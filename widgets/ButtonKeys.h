#pragma once

class QAbstractButton;

namespace gst
{

// Lets Enter and Return press a focused button, as Space does. The windows
// have no default button, so Qt would otherwise pass the key on unused.
void pressOnEnter(QAbstractButton* button);

} // namespace gst
