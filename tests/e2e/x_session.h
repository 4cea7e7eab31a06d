// A private X server for driving the real program: starts Xvfb on a free
// display, finds top-level windows by title, reads their size and pixels,
// asks them to close as a window manager would, and runs the input tool
// (xdotool) against that display. Every wait is a bounded poll.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include <QImage>

typedef struct _XDisplay Display;
typedef unsigned long XWindow;

namespace sigillon::e2e {

using Seconds = std::chrono::duration<double>;

struct ToolResult {
    int exitCode = -1;  // -1: could not start, or killed on timeout
    std::string output;
};

// Runs a command to its end, at most timeout long; stdout and stderr joined.
ToolResult RunTool(const std::vector<std::string>& argv, Seconds timeout);

// Starts a command in a process group of its own, output to logPath.
pid_t StartProcess(const std::vector<std::string>& argv, const std::string& workDir,
                   const std::vector<std::pair<std::string, std::string>>& env,
                   const std::string& logPath);

// The exit status of a child once it has ended, or nothing after timeout.
std::optional<int> WaitForExit(pid_t pid, Seconds timeout);

// Ends a child's whole process group and reaps the child.
void KillProcessGroup(pid_t pid);

// Kills every child registered since if the test runs longer than seconds, so
// that a hang fails the run instead of blocking it.
void ArmWatchdog(unsigned seconds);
void WatchChild(pid_t pid);

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};

class XSession {
public:
    XSession() = default;
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // Starts the server; false with a reason in error when it does not come up.
    bool Start(int width, int height, std::string& error);
    const std::string& DisplayName() const { return displayName_; }

    // The viewable top-level window titled exactly title.
    std::optional<XWindow> FindWindow(const std::string& title);
    std::optional<XWindow> WaitForWindow(const std::string& title, Seconds timeout);
    bool WaitUntilGone(const std::string& title, Seconds timeout);
    // Titles of the viewable top-level windows, for failure messages.
    std::vector<std::string> VisibleTitles();

    // Client area in screen coordinates (there is no window manager, so the
    // program's top-level window is its client area).
    std::optional<Rect> Geometry(XWindow window);
    // Polls until the window has the size or the time is up; the last size.
    Rect WaitForSize(XWindow window, int width, int height, Seconds timeout);

    // The window's pixels as shown on the screen.
    QImage Grab(XWindow window);

    // The close box of a window manager: WM_DELETE_WINDOW.
    void RequestClose(XWindow window);

    // xdotool against this display.
    ToolResult Xdotool(const std::vector<std::string>& args);
    void Click(XWindow window, int x, int y);
    void MovePointerAway();
    void TypeText(XWindow window, const std::string& text);
    void Key(XWindow window, const std::string& keys);

private:
    std::string Title(XWindow window);

    pid_t server_ = -1;
    Display* display_ = nullptr;
    std::string displayName_;
    int width_ = 0, height_ = 0;
};

// Polls condition every few milliseconds until it holds or timeout passes.
template <typename F>
bool PollUntil(Seconds timeout, F condition) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        struct timespec pause {0, 20'000'000};
        nanosleep(&pause, nullptr);
    }
}

}  // namespace sigillon::e2e
