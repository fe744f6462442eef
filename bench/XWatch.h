#pragma once

#include "BenchSupport.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <sys/types.h>

struct xcb_connection_t;

// The start-up benchmark's view of a real X server: an Xvfb of its own, with a
// window manager when one is installed, and a connection that sees every
// top-level window being created, mapped and drawn into. Times are taken when
// the X events arrive (CLOCK_MONOTONIC, ns), not by polling the windows.
namespace bench
{

class XServer
{
public:
    // Starts Xvfb on a free display, then the window manager `wm` (a command
    // on PATH, or empty for none) and waits until it manages the screen.
    XServer(const std::string& wm);
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    const std::string& display() const { return m_display; }
    const std::string& windowManager() const { return m_wmName; }

    // What one child process did on the server.
    struct Outcome {
        std::int64_t mappedNs = 0;  // MapNotify of its first mapped top-level window
        std::int64_t paintedNs = 0; // the first drawing into that window (DAMAGE)
        std::string windowName;     // that window's WM_NAME when it was mapped
    };
    // Follows the child `pid` until its report descriptor closes and its
    // windows are gone; the report's lines go to `onLine`. Throws after `timeoutMs`.
    Outcome follow(pid_t pid, int reportFd, const std::function<void(const std::string&)>& onLine,
                   int timeoutMs);

private:
    void start(const std::string& wm);
    void connect();
    void handleEvents(pid_t pid, Outcome& outcome, bool& windowGone);
    std::uint32_t pidOf(std::uint32_t window);
    std::string nameOf(std::uint32_t window);

    pid_t m_xvfb = -1;
    pid_t m_wm = -1;
    std::string m_display;
    std::string m_wmName;
    xcb_connection_t* m_c = nullptr;
    std::uint32_t m_root = 0;
    std::uint8_t m_damageEvent = 0;
    std::uint32_t m_pidAtom = 0;
    std::map<std::uint32_t, std::int64_t> m_firstDamage;
    std::set<std::uint32_t> m_mapped;
    std::uint32_t m_window = 0; // the child's window being timed
};

} // namespace bench
