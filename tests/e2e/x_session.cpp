#include "tests/e2e/x_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sigillon::e2e {
namespace {

using Clock = std::chrono::steady_clock;

// Children the watchdog ends; a few at most.
pid_t g_children[8];
int g_childCount = 0;

void OnWatchdog(int) {
    static const char message[] = "\ne2e watchdog: the run took too long, ending it\n";
    (void)!write(2, message, sizeof message - 1);
    for (int i = 0; i < g_childCount; ++i) kill(-g_children[i], SIGKILL);
    _exit(3);
}

// An X error (a window that went away between two requests) must not end
// the test process, which is what Xlib's default handler does.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

[[noreturn]] void ExecOrDie(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    std::fprintf(stderr, "cannot start %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
}

}  // namespace

ToolResult RunTool(const std::vector<std::string>& argv, Seconds timeout) {
    ToolResult result;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return result;
    pid_t pid = fork();
    if (pid < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return result;
    }
    if (pid == 0) {
        setpgid(0, 0);
        dup2(pipeFds[1], 1);
        dup2(pipeFds[1], 2);
        ExecOrDie(argv);
    }
    close(pipeFds[1]);
    const auto end = Clock::now() + timeout;
    bool timedOut = false;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{pipeFds[0], POLLIN, 0};
        int ready = poll(&p, 1, int(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char buffer[4096];
        ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        result.output.append(buffer, std::size_t(n));
    }
    close(pipeFds[0]);
    if (timedOut) {
        KillProcessGroup(pid);
        result.output += "\n(timed out)";
        return result;
    }
    std::optional<int> status = WaitForExit(pid, timeout);
    if (!status) {
        KillProcessGroup(pid);
        return result;
    }
    result.exitCode = WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    return result;
}

pid_t StartProcess(const std::vector<std::string>& argv, const std::string& workDir,
                   const std::vector<std::pair<std::string, std::string>>& env,
                   const std::string& logPath) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    setpgid(0, 0);
    int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log >= 0) {
        dup2(log, 1);
        dup2(log, 2);
    }
    int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (devNull >= 0) dup2(devNull, 0);
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    ExecOrDie(argv);
}

std::optional<int> WaitForExit(pid_t pid, Seconds timeout) {
    int status = 0;
    bool ended = PollUntil(timeout, [&] {
        pid_t r = waitpid(pid, &status, WNOHANG);
        return r == pid || (r < 0 && errno == ECHILD);
    });
    if (!ended) return std::nullopt;
    return status;
}

void KillProcessGroup(pid_t pid) {
    if (pid <= 0) return;
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    int status;
    waitpid(pid, &status, 0);
}

void ArmWatchdog(unsigned seconds) {
    g_childCount = 0;  // the children of an earlier test have been reaped
    struct sigaction action {};
    action.sa_handler = OnWatchdog;
    sigaction(SIGALRM, &action, nullptr);
    alarm(seconds);
}

void WatchChild(pid_t pid) {
    if (g_childCount < int(std::size(g_children))) g_children[g_childCount++] = pid;
}

XSession::~XSession() {
    if (display_) XCloseDisplay(display_);
    if (server_ > 0) KillProcessGroup(server_);
}

bool XSession::Start(int width, int height, std::string& error) {
    width_ = width;
    height_ = height;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = "no pipe";
        return false;
    }
    server_ = fork();
    if (server_ == 0) {
        setpgid(0, 0);
        // The display number comes back through this pipe once the server
        // accepts connections; it picks a free number itself.
        int keep = dup(fds[1]);
        int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, 0);
        dup2(devNull, 1);
        dup2(devNull, 2);
        ExecOrDie({"Xvfb", "-displayfd", std::to_string(keep), "-screen", "0",
                   std::to_string(width) + "x" + std::to_string(height) + "x24", "-dpi", "96",
                   "-nolisten", "tcp", "-noreset"});
    }
    close(fds[1]);
    if (server_ < 0) {
        close(fds[0]);
        error = "cannot fork";
        return false;
    }
    WatchChild(server_);
    std::string number;
    const auto end = Clock::now() + std::chrono::seconds(20);
    while (number.find('\n') == std::string::npos && Clock::now() < end) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        char buffer[32];
        ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        number.append(buffer, std::size_t(n));
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) {
        error = "Xvfb did not start (is the package xvfb installed?)";
        return false;
    }
    displayName_ = ":" + number.substr(0, number.find('\n'));
    setenv("DISPLAY", displayName_.c_str(), 1);
    XSetErrorHandler(IgnoreXError);
    display_ = XOpenDisplay(displayName_.c_str());
    if (!display_) {
        error = "cannot connect to Xvfb on " + displayName_;
        return false;
    }
    ToolResult probe = RunTool({"xdotool", "getmouselocation"}, std::chrono::seconds(10));
    if (probe.exitCode != 0) {
        error = "xdotool does not work (is the package xdotool installed?): " + probe.output;
        return false;
    }
    return true;
}

std::string XSession::Title(XWindow window) {
    Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
    Atom netName = XInternAtom(display_, "_NET_WM_NAME", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display_, window, netName, 0, 1024, False, utf8, &type, &format,
                           &count, &after, &data) == Success &&
        data) {
        if (type == utf8 && format == 8) title.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    if (title.empty()) {
        char* name = nullptr;
        if (XFetchName(display_, window, &name) && name) {
            title = name;
            XFree(name);
        }
    }
    return title;
}

std::vector<std::string> XSession::VisibleTitles() {
    std::vector<std::string> titles;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count))
        return titles;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display_, children[i], &attributes) &&
            attributes.map_state == IsViewable) {
            std::string t = Title(children[i]);
            if (!t.empty()) titles.push_back(t);
        }
    }
    if (children) XFree(children);
    return titles;
}

std::optional<XWindow> XSession::FindWindow(const std::string& title) {
    std::optional<XWindow> found;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    XSync(display_, False);
    if (!XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count))
        return found;
    for (unsigned i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display_, children[i], &attributes) &&
            attributes.map_state == IsViewable && Title(children[i]) == title)
            found = children[i];
    }
    if (children) XFree(children);
    return found;
}

std::optional<XWindow> XSession::WaitForWindow(const std::string& title, Seconds timeout) {
    std::optional<XWindow> found;
    PollUntil(timeout, [&] { return (found = FindWindow(title)).has_value(); });
    return found;
}

bool XSession::WaitUntilGone(const std::string& title, Seconds timeout) {
    return PollUntil(timeout, [&] { return !FindWindow(title); });
}

std::optional<Rect> XSession::Geometry(XWindow window) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display_, window, &attributes)) return std::nullopt;
    Window child;
    int x = 0, y = 0;
    XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
    return Rect{x, y, attributes.width, attributes.height};
}

Rect XSession::WaitForSize(XWindow window, int width, int height, Seconds timeout) {
    Rect last;
    PollUntil(timeout, [&] {
        if (auto g = Geometry(window)) last = *g;
        return last.width == width && last.height == height;
    });
    return last;
}

QImage XSession::Grab(XWindow window) {
    XSync(display_, False);
    std::optional<Rect> g = Geometry(window);
    if (!g || g->width <= 0 || g->height <= 0) return {};
    // Read from the root window: that is what the screen shows, and it
    // needs no backing store of the program's window.
    Rect r = *g;
    int x0 = std::max(r.x, 0), y0 = std::max(r.y, 0);
    int x1 = std::min(r.x + r.width, width_), y1 = std::min(r.y + r.height, height_);
    if (x1 <= x0 || y1 <= y0) return {};
    XImage* image = XGetImage(display_, DefaultRootWindow(display_), x0, y0, unsigned(x1 - x0),
                              unsigned(y1 - y0), AllPlanes, ZPixmap);
    if (!image) return {};
    QImage result(r.width, r.height, QImage::Format_RGB32);
    result.fill(Qt::black);
    for (int y = 0; y < y1 - y0; ++y)
        for (int x = 0; x < x1 - x0; ++x) {
            unsigned long p = XGetPixel(image, x, y);
            result.setPixel(x0 - r.x + x, y0 - r.y + y, QRgb(0xFF000000u | (p & 0xFFFFFFu)));
        }
    XDestroyImage(image);
    return result;
}

void XSession::RequestClose(XWindow window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window, False, NoEventMask, &event);
    XFlush(display_);
}

ToolResult XSession::Xdotool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunTool(argv, std::chrono::seconds(15));
}

void XSession::Click(XWindow window, int x, int y) {
    Xdotool({"mousemove", "--sync", "--window", std::to_string(window), std::to_string(x),
             std::to_string(y), "click", "1"});
}

void XSession::MovePointerAway() {
    // The bottom-right corner of the screen, away from every window, so
    // that no tool-tip covers what is read next.
    Xdotool({"mousemove", "--sync", std::to_string(width_ - 1), std::to_string(height_ - 1)});
}

void XSession::TypeText(XWindow window, const std::string& text) {
    Xdotool({"windowfocus", "--sync", std::to_string(window)});
    Xdotool({"type", "--delay", "15", text});
}

void XSession::Key(XWindow window, const std::string& keys) {
    Xdotool({"windowfocus", "--sync", std::to_string(window)});
    Xdotool({"key", keys});
}

}  // namespace sigillon::e2e
