#include "XWatch.h"

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <signal.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench
{

namespace
{

std::string onPath(const std::string& command)
{
    if (command.empty())
        return {};
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = dirs.find(':', start);
        const std::string dir =
            dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + command;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return {};
}

void stop(pid_t& pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    pid = -1;
}

} // namespace

// A display number no X server uses: no lock file, and nothing answers on
// its socket (abstract sockets are shared by every mount namespace, so a lock
// file is not enough on a machine shared with other users of Xvfb).
int freeDisplay(int from)
{
    for (int n = from; n < from + 400; ++n) {
        const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
        if (access(lock.c_str(), F_OK) == 0 || access(path.c_str(), F_OK) == 0)
            continue;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, path.data(), path.size());
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool taken =
            fd >= 0 &&
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address),
                      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size())) == 0;
        if (fd >= 0)
            close(fd);
        if (!taken)
            return n;
    }
    throw std::runtime_error("no free X display number");
}

XServer::XServer(const std::string& wm)
{
    // A constructor that throws runs no destructor: stop what was started here.
    try {
        start(wm);
    } catch (...) {
        if (m_c)
            xcb_disconnect(m_c);
        m_c = nullptr;
        stop(m_wm);
        stop(m_xvfb);
        throw;
    }
}

void XServer::start(const std::string& wm)
{
    const std::string xvfb = onPath("Xvfb");
    if (xvfb.empty())
        throw std::runtime_error("Xvfb is not installed (Debian package xvfb)");
    std::string number;
    for (int attempt = 0, from = 100 + static_cast<int>(getpid() % 500); attempt < 5 && number.empty();
         ++attempt, from += 7) {
        const std::string display = ":" + std::to_string(freeDisplay(from));
        SpawnOptions options;
        options.pipeReport = true; // -displayfd 3: Xvfb writes the display number once it listens
        options.pipeStderr = true;
        const Child child = spawn({xvfb, display, "-displayfd", "3", "-screen", "0", "1280x1024x24",
                                   "-nolisten", "tcp", "-noreset"},
                                  options);
        m_xvfb = child.pid;
        LineReader reader(child.reportFd);
        if (!reader.readLine(number))
            number.clear();
        close(child.reportFd);
        close(child.stderrFd);
        if (number.empty())
            stop(m_xvfb);
    }
    if (number.empty())
        throw std::runtime_error("Xvfb did not start");
    m_display = ":" + number;
    connect();

    const std::string wmPath = onPath(wm);
    if (wmPath.empty())
        return;
    SpawnOptions wmOptions;
    wmOptions.environment = {{"DISPLAY", m_display}};
    std::vector<std::string> command = {wmPath};
    if (wm == "evilwm")
        command.insert(command.end(), {"-fn", "fixed"}); // Xvfb has only its built-in fonts
    m_wm = spawn(command, wmOptions).pid;
    // A window manager selects SubstructureRedirect on the root window.
    for (int i = 0; i < 500; ++i) {
        const auto cookie = xcb_get_window_attributes(m_c, m_root);
        xcb_get_window_attributes_reply_t* reply = xcb_get_window_attributes_reply(m_c, cookie, nullptr);
        const bool managed = reply && (reply->all_event_masks & XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT);
        std::free(reply);
        if (managed) {
            m_wmName = wm;
            return;
        }
        usleep(10000);
    }
    throw std::runtime_error("the window manager " + wm + " did not start");
}

XServer::~XServer()
{
    if (m_c)
        xcb_disconnect(m_c);
    stop(m_wm);
    stop(m_xvfb);
}

void XServer::connect()
{
    int screenNumber = 0;
    m_c = xcb_connect(m_display.c_str(), &screenNumber);
    if (xcb_connection_has_error(m_c))
        throw std::runtime_error("cannot connect to " + m_display);
    const xcb_setup_t* setup = xcb_get_setup(m_c);
    m_root = xcb_setup_roots_iterator(setup).data->root;

    const xcb_query_extension_reply_t* damage = xcb_get_extension_data(m_c, &xcb_damage_id);
    if (!damage || !damage->present)
        throw std::runtime_error("the X server has no DAMAGE extension");
    m_damageEvent = damage->first_event;
    std::free(xcb_damage_query_version_reply(m_c, xcb_damage_query_version(m_c, 1, 1), nullptr));

    const char* name = "_NET_WM_PID";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, std::strlen(name), name), nullptr);
    m_pidAtom = atom ? atom->atom : 0;
    std::free(atom);

    // Every top-level window created from now on is reported.
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(m_c, m_root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(m_c);
}

std::uint32_t XServer::pidOf(std::uint32_t window)
{
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        m_c, xcb_get_property(m_c, 0, window, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
    std::uint32_t pid = 0;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) == 4)
        std::memcpy(&pid, xcb_get_property_value(reply), 4);
    std::free(reply);
    return pid;
}

std::string XServer::nameOf(std::uint32_t window)
{
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        m_c, xcb_get_property(m_c, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr);
    std::string name;
    if (reply && reply->format == 8)
        name.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                    static_cast<size_t>(xcb_get_property_value_length(reply)));
    std::free(reply);
    return name;
}

void XServer::handleEvents(pid_t pid, Outcome& outcome, bool& windowGone)
{
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_c)) {
        const std::int64_t now = nowNs();
        const std::uint8_t type = event->response_type & 0x7f;
        if (type == XCB_CREATE_NOTIFY) {
            const auto* e = reinterpret_cast<xcb_create_notify_event_t*>(event);
            if (e->parent == m_root && !e->override_redirect) {
                // Its own map (the window manager puts it in a frame) and every drawing into it.
                const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
                xcb_change_window_attributes(m_c, e->window, XCB_CW_EVENT_MASK, &mask);
                xcb_damage_create(m_c, xcb_generate_id(m_c), e->window, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
                xcb_flush(m_c);
            }
        } else if (type == XCB_MAP_NOTIFY) {
            const auto* e = reinterpret_cast<xcb_map_notify_event_t*>(event);
            if (!outcome.mappedNs && !e->override_redirect && m_mapped.insert(e->window).second &&
                pidOf(e->window) == static_cast<std::uint32_t>(pid)) {
                outcome.mappedNs = now;
                outcome.windowName = nameOf(e->window);
                m_window = e->window;
            }
        } else if (type == XCB_DESTROY_NOTIFY) {
            const auto* e = reinterpret_cast<xcb_destroy_notify_event_t*>(event);
            if (m_window && e->window == m_window)
                windowGone = true;
        } else if (type == m_damageEvent + XCB_DAMAGE_NOTIFY) {
            const auto* e = reinterpret_cast<xcb_damage_notify_event_t*>(event);
            m_firstDamage.emplace(e->drawable, now);
        }
        std::free(event);
    }
}

XServer::Outcome XServer::follow(pid_t pid, int reportFd,
                                 const std::function<void(const std::string&)>& onLine, int timeoutMs)
{
    m_firstDamage.clear();
    m_mapped.clear();
    m_window = 0;
    Outcome outcome;
    bool reportOpen = true;
    bool windowGone = false;
    std::string buffer;
    const std::int64_t deadline = nowNs() + static_cast<std::int64_t>(timeoutMs) * 1000000;
    // Until the child has reported and the server has destroyed its window: by
    // then every drawing the child sent has been seen.
    while (reportOpen || (m_window && !windowGone)) {
        if (nowNs() > deadline)
            throw std::runtime_error("no window mapped and closed within the time limit");
        pollfd fds[2] = {{xcb_get_file_descriptor(m_c), POLLIN, 0}, {reportOpen ? reportFd : -1, POLLIN, 0}};
        handleEvents(pid, outcome, windowGone);
        if (poll(fds, 2, 100) < 0 && errno != EINTR)
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        if (xcb_connection_has_error(m_c))
            throw std::runtime_error("the X connection broke");
        handleEvents(pid, outcome, windowGone);
        if (reportOpen && (fds[1].revents & (POLLIN | POLLHUP))) {
            char chunk[1024];
            const ssize_t n = read(reportFd, chunk, sizeof chunk);
            if (n > 0) {
                buffer.append(chunk, static_cast<size_t>(n));
                size_t end;
                while ((end = buffer.find('\n')) != std::string::npos) {
                    onLine(buffer.substr(0, end));
                    buffer.erase(0, end + 1);
                }
            } else if (n == 0 || errno != EINTR) {
                reportOpen = false;
                if (!m_window)
                    break; // the child ended without a window
            }
        }
    }
    if (m_window) {
        const auto painted = m_firstDamage.find(m_window);
        if (painted != m_firstDamage.end())
            outcome.paintedNs = painted->second;
    }
    return outcome;
}

} // namespace bench
