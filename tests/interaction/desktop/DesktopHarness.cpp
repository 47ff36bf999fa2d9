// SPDX-License-Identifier: GPL-3.0-or-later
#include "DesktopHarness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

extern char** environ;

namespace kolvex::testing {

namespace {

// Starts a program with `childFd` writing to a pipe and stdin from /dev/null. The child is
// killed when the test process dies, however it dies, so no server or window outlives it.
int spawnWithPipe(const std::string& program, const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment, int& readEnd, int childFd = STDOUT_FILENO) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        const int devNull = open("/dev/null", O_RDONLY);
        if (devNull >= 0) dup2(devNull, STDIN_FILENO);
        if (fds[1] == childFd) {
            fcntl(childFd, F_SETFD, 0);  // dup2 onto itself would keep close-on-exec
        } else {
            dup2(fds[1], childFd);
        }
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return -1;
    }
    readEnd = fds[0];
    fcntl(readEnd, F_SETFL, fcntl(readEnd, F_GETFL) | O_NONBLOCK);
    return pid;
}

void stopChild(int pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

Display* dpy(void* p) { return static_cast<Display*>(p); }

}  // namespace

std::map<std::string, std::string> desktopEnvironment(const std::string& display, const std::filesystem::path& home) {
    return {{"DISPLAY", display},
            {"QT_QPA_PLATFORM", "xcb"},
            {"GDK_BACKEND", "x11"},
            {"NO_AT_BRIDGE", "1"},
            {"HOME", home.string()},
            {"XDG_RUNTIME_DIR", home.string()},
            {"XDG_CONFIG_HOME", (home / "config").string()},
            {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kolvex-test-bus"}};
}

QCoreApplication& coreApplication(const char* programName) {
    static int argc = 1;
    static std::string name = programName;
    static char* argv[] = {name.data(), nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    QElapsedTimer clock;
    clock.start();
    // Blocks in the event loop, waking at least every 2 ms to look at pipes and the clock.
    QTimer heartbeat;
    heartbeat.start(2);
    while (!done()) {
        if (clock.elapsed() >= timeout.count()) return done();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

std::chrono::milliseconds patience(std::chrono::milliseconds usual) {
    static const int stretch = [] {
        const char* text = std::getenv("KOLVEX_TEST_PATIENCE");
        const int value = text ? std::atoi(text) : 0;
        return value > 0 ? value : 6;
    }();
    return usual * stretch;
}

std::unique_ptr<Xvfb> Xvfb::start(std::string& whyNot, int width, int height) {
    const std::string program = "/usr/bin/Xvfb";
    if (access(program.c_str(), X_OK) != 0) {
        whyNot = "Xvfb is not installed (package xvfb)";
        return nullptr;
    }
    // Xvfb picks a free display number itself and writes it to the descriptor we name.
    int readEnd = -1;
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    const int pid = spawnWithPipe(program, {"-displayfd", "3", "-screen", "0",
                                                 std::to_string(width) + "x" + std::to_string(height) + "x24",
                                                 "-nolisten", "tcp"},
                                  env, readEnd, 3);
    if (pid < 0) {
        whyNot = "Xvfb could not be started";
        return nullptr;
    }
    std::unique_ptr<Xvfb> server(new Xvfb);
    server->m_pid = pid;
    std::string number;
    pollfd pfd{readEnd, POLLIN, 0};
    for (int waited = 0; waited < 10000 && number.find('\n') == std::string::npos; waited += 50) {
        if (poll(&pfd, 1, 50) > 0) {
            char buffer[32];
            const ssize_t n = read(readEnd, buffer, sizeof buffer);
            if (n <= 0) break;
            number.append(buffer, static_cast<std::size_t>(n));
        }
    }
    close(readEnd);
    if (number.find('\n') == std::string::npos) {
        whyNot = "Xvfb did not report its display";
        return nullptr;
    }
    server->m_display = ":" + number.substr(0, number.find('\n'));
    return server;
}

Xvfb::~Xvfb() { stopChild(m_pid); }

ChildProgram::ChildProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment) {
    std::map<std::string, std::string> merged;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const auto eq = entry.find('=');
        if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [k, v] : environment) merged[k] = v;
    std::vector<std::string> env;
    for (const auto& [k, v] : merged) env.push_back(k + "=" + v);
    m_pid = spawnWithPipe(program.string(), arguments, env, m_stdout);
}

ChildProgram::~ChildProgram() {
    stopChild(m_pid);
    if (m_stdout >= 0) close(m_stdout);
}

bool ChildProgram::exited() {
    if (m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == m_pid) m_pid = -1;
    return m_pid <= 0;
}

void ChildProgram::readAvailable() {
    if (m_stdout < 0) return;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(m_stdout, buffer, sizeof buffer);
        if (n <= 0) break;
        m_buffer.append(buffer, static_cast<std::size_t>(n));
    }
    std::size_t nl;
    while ((nl = m_buffer.find('\n')) != std::string::npos) {
        m_lines.push_back(m_buffer.substr(0, nl));
        m_printed.push_back(m_lines.back());
        m_buffer.erase(0, nl + 1);
    }
}

bool ChildProgram::waitForLine(const std::string& line, std::chrono::milliseconds timeout) {
    bool found = false;
    pumpUntil(
        [&] {
            readAvailable();
            for (auto it = m_lines.begin(); it != m_lines.end(); ++it) {
                if (*it == line) {
                    m_lines.erase(m_lines.begin(), it + 1);
                    found = true;
                    return true;
                }
            }
            return false;
        },
        patience(timeout));
    return found;
}

std::size_t ChildProgram::printedCount() {
    readAvailable();
    return m_printed.size();
}

bool ChildProgram::waitUntilPrinted(const std::string& line, std::chrono::milliseconds timeout, std::size_t since) {
    return pumpUntil(
        [&] {
            readAvailable();
            const auto from = m_printed.begin() + static_cast<std::ptrdiff_t>(std::min(since, m_printed.size()));
            return std::find(from, m_printed.end(), line) != m_printed.end();
        },
        patience(timeout));
}

std::string ChildProgram::waitForLineStarting(const std::string& prefix, std::chrono::milliseconds timeout) {
    std::string found;
    pumpUntil(
        [&] {
            readAvailable();
            for (auto it = m_lines.begin(); it != m_lines.end(); ++it) {
                if (it->rfind(prefix, 0) == 0) {
                    found = *it;
                    m_lines.erase(m_lines.begin(), it + 1);
                    return true;
                }
            }
            return false;
        },
        patience(timeout));
    return found;
}

std::vector<std::string> ChildProgram::lines() {
    readAvailable();
    return m_lines;
}

std::vector<std::string> ChildProgram::printed() {
    readAvailable();
    return m_printed;
}

std::string ChildProgram::linesText() {
    std::string text;
    for (const auto& line : lines()) text += line + "; ";
    return text;
}

bool beginDrag(FakeInput& input, ChildProgram& source, int x, int y, int button) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        input.moveTo(x, y);
        input.button(button, true);
        for (int step = 0; step < 30; ++step) {
            input.moveBy(3, 2);
            if (source.waitForLine("drag-begin", std::chrono::milliseconds(30))) return true;
        }
        input.button(button, false);
    }
    return false;
}

namespace {

// Windows come and go while the harness looks at them (a question closing as its title is read):
// a request about a window already gone fails that request, not the test program, which Xlib's
// own handler would end.
int toleratingVanishedWindows(Display* display, XErrorEvent* error) {
    if (error->error_code == BadWindow) return 0;
    char text[256] = {};
    XGetErrorText(display, error->error_code, text, sizeof text);
    std::fprintf(stderr, "X error in the test harness: %s (request %d)\n", text, error->request_code);
    return 0;
}

}  // namespace

FakeInput::FakeInput(const std::string& display) {
    XSetErrorHandler(&toleratingVanishedWindows);
    Display* d = XOpenDisplay(display.c_str());
    int event = 0, error = 0, major = 0, minor = 0;
    if (d && !XTestQueryExtension(d, &event, &error, &major, &minor)) {
        XCloseDisplay(d);
        d = nullptr;
    }
    m_display = d;
}

FakeInput::~FakeInput() {
    if (m_display) XCloseDisplay(dpy(m_display));
}

void FakeInput::moveTo(int x, int y) {
    XTestFakeMotionEvent(dpy(m_display), 0, x, y, CurrentTime);
    sync();
}

void FakeInput::moveBy(int dx, int dy) {
    XTestFakeRelativeMotionEvent(dpy(m_display), dx, dy, CurrentTime);
    sync();
}

bool FakeInput::glideTo(int x, int y) {
    const auto step = [](int d) { return std::abs(d) <= 4 ? d : std::clamp(d / 2, -40, 40); };
    for (int i = 0; i < 400; ++i) {
        const auto [px, py] = pointer();
        if (px == x && py == y) return true;
        moveBy(step(x - px), step(y - py));
        pumpUntil([] { return false; }, std::chrono::milliseconds(8));  // the hand's pace
    }
    return false;
}

void FakeInput::button(int number, bool down) {
    XTestFakeButtonEvent(dpy(m_display), static_cast<unsigned>(number), down ? True : False, CurrentTime);
    sync();
}

void FakeInput::key(const std::string& keysym, bool down) {
    const KeySym sym = XStringToKeysym(keysym.c_str());
    const KeyCode code = XKeysymToKeycode(dpy(m_display), sym);
    XTestFakeKeyEvent(dpy(m_display), code, down ? True : False, CurrentTime);
    sync();
}

void FakeInput::sync() { XSync(dpy(m_display), False); }

void FakeInput::setLeftHanded(bool leftHanded) {
    // The map must cover every button the device has.
    unsigned char map[256];
    const int count = XGetPointerMapping(dpy(m_display), map, 256);
    if (count < 3) return;
    for (int i = 0; i < count; ++i) map[i] = static_cast<unsigned char>(i + 1);
    if (leftHanded) std::swap(map[0], map[2]);
    XSetPointerMapping(dpy(m_display), map, count);
    sync();
}

std::pair<int, int> FakeInput::pointer() {
    Window root = 0, child = 0;
    int x = 0, y = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(dpy(m_display), DefaultRootWindow(dpy(m_display)), &root, &child, &x, &y, &wx, &wy, &mask);
    return {x, y};
}

bool FakeInput::keyboardIsGrabbed() {
    Display* d = dpy(m_display);
    const int status = XGrabKeyboard(d, DefaultRootWindow(d), False, GrabModeAsync, GrabModeAsync, CurrentTime);
    if (status == GrabSuccess) XUngrabKeyboard(d, CurrentTime);
    XSync(d, False);
    return status == AlreadyGrabbed;
}

bool FakeInput::pointerIsGrabbed() {
    Display* d = dpy(m_display);
    const int status = XGrabPointer(d, DefaultRootWindow(d), False, 0, GrabModeAsync, GrabModeAsync, None, None,
                                    CurrentTime);
    if (status == GrabSuccess) XUngrabPointer(d, CurrentTime);
    XSync(d, False);
    return status == AlreadyGrabbed || status == GrabFrozen;
}

std::string FakeInput::focusedWindowTitle() {
    Display* d = dpy(m_display);
    Window window = None;
    int revert = 0;
    XGetInputFocus(d, &window, &revert);
    const Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    while (window != None && window != PointerRoot) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(d, window, netName, 0, 1024, False, utf8, &type, &format, &count, &after, &data) ==
                Success &&
            data) {
            std::string title(reinterpret_cast<const char*>(data), count);
            XFree(data);
            if (!title.empty()) return title;
        }
        Window root = None, parent = None;
        Window* children = nullptr;
        unsigned int childCount = 0;
        if (!XQueryTree(d, window, &root, &parent, &children, &childCount)) break;
        if (children) XFree(children);
        if (parent == root) break;
        window = parent;
    }
    return {};
}

std::vector<unsigned> FakeInput::pixels(int x, int y, int width, int height) {
    Display* d = dpy(m_display);
    std::vector<unsigned> result;
    XImage* image = XGetImage(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(width), static_cast<unsigned>(height),
                              AllPlanes, ZPixmap);
    if (!image) return result;
    result.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column)
            result.push_back(static_cast<unsigned>(XGetPixel(image, column, row) & 0xffffff));
    XDestroyImage(image);
    return result;
}

bool FakeInput::selectionHasOwner(const std::string& selection) {
    Display* d = dpy(m_display);
    return XGetSelectionOwner(d, XInternAtom(d, selection.c_str(), False)) != None;
}

std::string FakeInput::selectionText(const std::string& selection) {
    Display* d = dpy(m_display);
    const Window window = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    const Atom property = XInternAtom(d, "KOLVEX_TEST_SELECTION", False);
    XConvertSelection(d, XInternAtom(d, selection.c_str(), False), utf8, property, window, CurrentTime);
    XFlush(d);
    std::string text;
    for (int waited = 0; waited < 1000; waited += 10) {
        XEvent event;
        if (!XCheckTypedWindowEvent(d, window, SelectionNotify, &event)) {
            usleep(10000);
            continue;
        }
        if (event.xselection.property == None) break;
        Atom type = None;
        int format = 0;
        unsigned long count = 0, left = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(d, window, property, 0, 1 << 20, True, AnyPropertyType, &type, &format, &count, &left,
                               &data) == Success && data) {
            text.assign(reinterpret_cast<const char*>(data), count);
            XFree(data);
        }
        break;
    }
    XDestroyWindow(d, window);
    sync();
    return text;
}

std::unique_ptr<WindowManager> WindowManager::start(const std::string& display, const std::filesystem::path& home,
                                                    std::string& whyNot) {
    const std::string program = "/usr/bin/openbox";
    if (access(program.c_str(), X_OK) != 0) {
        whyNot = "openbox is not installed (package openbox)";
        return nullptr;
    }
    std::unique_ptr<WindowManager> manager(new WindowManager);
    manager->m_program = std::make_unique<ChildProgram>(program, std::vector<std::string>{"--sm-disable"},
                                                        desktopEnvironment(display, home));
    // A window manager owns WM_S0 once it manages the screen.
    Display* d = XOpenDisplay(display.c_str());
    if (!d) {
        whyNot = "no connection to " + display;
        return nullptr;
    }
    const Atom owner = XInternAtom(d, "WM_S0", False);
    const bool up = pumpUntil([&] { return XGetSelectionOwner(d, owner) != None; }, std::chrono::seconds(10));
    XCloseDisplay(d);
    if (!up) {
        whyNot = "openbox did not take the screen";
        return nullptr;
    }
    return manager;
}

WindowManager::~WindowManager() = default;

}  // namespace kolvex::testing
