#pragma once

#include <QString>

namespace gst
{

enum class UserFolder {
    Config, // the login settings
    Data,   // the run log
};

// The user's "talvex" folder of that kind. XDG_CONFIG_HOME and XDG_DATA_HOME,
// when set to an absolute path, name the base on every system, so that a test
// or a user can point the program elsewhere the same way on Linux and Windows.
// Otherwise: ~/.config and ~/.local/share on Linux; on Windows the user's
// LocalAppData folder as the shell knows it, whatever LOCALAPPDATA says.
QString talvexFolder(UserFolder kind);

// The system's own base for that kind, when XDG names none.
QString systemUserBase(UserFolder kind);

} // namespace gst
