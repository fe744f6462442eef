#include "widgets/Display.h"

#include <QByteArray>
#include <QList>
#include <cstddef>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace gst
{

namespace
{
bool isSet(const char* name)
{
    return !qEnvironmentVariableIsEmpty(name);
}

bool connects(const QByteArray& path, bool abstract)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t offset = abstract ? 1 : 0; // abstract names start with a NUL
    if (path.size() + offset >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path + offset, path.constData(), static_cast<size_t>(path.size()));
    const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return true; // cannot tell: let Qt try
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    close(fd);
    return ok;
}

// A display on this machine (":0", ":1.0", "unix:2") whose X server does not
// listen: a DISPLAY left from a session that has ended. Other forms (a host,
// a path) are left to Qt.
bool localDisplayGone(const QByteArray& display)
{
    QByteArray number = display;
    if (number.startsWith("unix:"))
        number = number.mid(4);
    if (!number.startsWith(':'))
        return false;
    number = number.mid(1);
    if (const qsizetype dot = number.indexOf('.'); dot >= 0)
        number.truncate(dot);
    bool numeric = false;
    number.toUInt(&numeric);
    if (!numeric)
        return false;
    const QByteArray path = "/tmp/.X11-unix/X" + number;
    return !connects(path, true) && !connects(path, false);
}
} // namespace

QString missingDisplay()
{
    // The command line takes no Qt options: the platform comes from the environment.
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    // "xcb:option=..." and lists such as "wayland;xcb" name their first choice first.
    const qsizetype options = platform.indexOf(':');
    const QByteArray name = (options < 0 ? platform : platform.left(options)).split(';').first().trimmed();
    if (!name.isEmpty() && name != "xcb")
        return QString(); // another platform (offscreen, vnc, wayland...) reports for itself
    const QByteArray display = qgetenv("DISPLAY");
    if (name.isEmpty() && isSet("WAYLAND_DISPLAY"))
        return QString();
    if (display.isEmpty())
        return name.isEmpty()
                   ? QStringLiteral(
                         "no display to show the windows on: DISPLAY and WAYLAND_DISPLAY are not set")
                   : QStringLiteral(
                         "no display to show the windows on: QT_QPA_PLATFORM is xcb and DISPLAY is not set");
    if (localDisplayGone(display))
        return QStringLiteral("no X server answers on DISPLAY ") + QString::fromLocal8Bit(display);
    return QString();
}

} // namespace gst
