// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// A whole desktop for tests: an Xvfb of our own, child programs on it, and fake input
// through XTest. No Xlib types leak from here.
class QCoreApplication;

namespace kolvex::testing {

// Which toolkit a drag source program is written with.
enum class Toolkit { qt, gtk };

// The program's one QCoreApplication, made on first use under `programName`; later calls return
// the same instance whatever name they pass.
QCoreApplication& coreApplication(const char* programName);

// The environment of a program on `display` whose home and runtime folder are `home`: X11 for
// Qt and GTK, and no accessibility bridge or session bus for the toolkits to wait for.
std::map<std::string, std::string> desktopEnvironment(const std::string& display, const std::filesystem::path& home);

// Runs the Qt event loop until `done` holds or the time is up; returns `done()`.
bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// The bound on a wait for an event that is expected to come: `usual` (what an idle machine
// needs, with room) stretched so that a machine under heavy load still sees it. A wait that
// proves something does NOT happen keeps its own span and does not come through here.
// KOLVEX_TEST_PATIENCE sets the stretch (default 6).
std::chrono::milliseconds patience(std::chrono::milliseconds usual);

// An Xvfb server on a display number it picks itself; stopped with the object.
class Xvfb {
public:
    // None (with the reason) when Xvfb is missing or does not come up. One screen of
    // `width` × `height` pixels.
    static std::unique_ptr<Xvfb> start(std::string& whyNot, int width = 1280, int height = 800);
    ~Xvfb();
    const std::string& display() const { return m_display; }

private:
    Xvfb() = default;
    int m_pid = -1;
    std::string m_display;
};

// A window's place on the screen and the part of it the window system shows and sends input
// to (its bounding shape), in the root window's y-down pixels.
struct WindowShape {
    int x = 0, y = 0, width = 0, height = 0;
    std::vector<std::array<int, 4>> rectangles;  // x, y, width, height
    bool found() const { return width > 0; }
    bool contains(int px, int py) const;
};

// A child program whose standard output is read line by line. Killed with the object.
class ChildProgram {
public:
    ChildProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& environment);
    ~ChildProgram();
    bool running() const { return m_pid > 0; }
    // Whether the program has ended (it is then reaped, and `running` is false).
    bool exited();
    // Pumps the Qt event loop until the program printed `line` (counting from the start);
    // lines are consumed as they are matched.
    bool waitForLine(const std::string& line, std::chrono::milliseconds timeout);
    // How many lines the program has printed so far, consumed or not.
    std::size_t printedCount();
    // Pumps the event loop until the program has printed `line` as its `since`-th line or later,
    // whether or not a wait consumed it since; consumes nothing.
    bool waitUntilPrinted(const std::string& line, std::chrono::milliseconds timeout, std::size_t since = 0);
    // The same for the first line that starts with `prefix`; the whole line, or empty.
    std::string waitForLineStarting(const std::string& prefix, std::chrono::milliseconds timeout);
    // Lines printed so far and not consumed yet.
    std::vector<std::string> lines();
    // Every line printed so far, consumed or not.
    std::vector<std::string> printed();
    // The same lines joined by "; ", for a failure message.
    std::string linesText();

private:
    void readAvailable();
    int m_pid = -1;
    int m_stdout = -1;
    std::string m_buffer;
    std::vector<std::string> m_lines;
    std::vector<std::string> m_printed;
};

// A real X server, Xorg with its dummy video driver, whose one screen is made of heads side by
// side from the left, each a RandR output of its own ("DUMMY0", "DUMMY1"…), as a desktop with
// several monitors is. Stopped with the object.
class XorgHeads {
public:
    struct Head {
        int width = 0, height = 0;
    };
    // None (with the reason) when Xorg or its dummy driver is missing or the server does not
    // come up (Xorg wants root here). `scratch` holds its configuration and log.
    static std::unique_ptr<XorgHeads> start(const std::vector<Head>& heads, const std::filesystem::path& scratch,
                                            std::string& whyNot);
    ~XorgHeads();
    const std::string& display() const { return m_display; }
    // The output (and screen) name of each head, in the order given.
    const std::vector<std::string>& outputs() const { return m_outputs; }

private:
    XorgHeads() = default;
    std::unique_ptr<ChildProgram> m_server;
    std::string m_display;
    std::vector<std::string> m_outputs;
};

// Fake keyboard and mouse through XTest on a connection of its own.
class FakeInput {
public:
    explicit FakeInput(const std::string& display);
    ~FakeInput();
    bool ok() const { return m_display != nullptr; }
    void moveTo(int x, int y);
    // Relative motion: real device motion, as a hand makes it.
    void moveBy(int dx, int dy);
    // Relative steps of a few pixels, paced as a hand moves, until the pointer is at (x, y).
    // The server's pointer acceleration can stretch steps that arrive in a burst (a busy
    // machine), so each step aims at what is left, halfway at a time. False when the pointer
    // never got there.
    bool glideTo(int x, int y);
    void button(int number, bool down);
    // A key by its symbol name ("Shift_L", "Alt_L", "Escape").
    void key(const std::string& keysym, bool down);
    void sync();
    // Swaps the first and third buttons (a left-handed mouse) or back.
    void setLeftHanded(bool leftHanded);
    // The pointer in the root window's y-down coordinates.
    std::pair<int, int> pointer();
    // Whether some program holds the keyboard grabbed, as an open menu does.
    bool keyboardIsGrabbed();
    // Whether some program holds the pointer (or the server holds it frozen), as a window
    // manager does while it looks at a click before handing it on to the window clicked. Keys
    // typed while it does may reach their window before the click.
    bool pointerIsGrabbed();
    // The title of the window that has the keyboard (the focus window or its nearest named
    // ancestor), or empty when none has it.
    std::string focusedWindowTitle();
    // What the screen shows in the rectangle, row by row, as 0xRRGGBB.
    std::vector<unsigned> pixels(int x, int y, int width, int height);
    // Whether some program owns the X selection `selection` ("_NET_SYSTEM_TRAY_S0" once a tray
    // is up, "WM_S0" once a window manager is).
    bool selectionHasOwner(const std::string& selection);
    // The text of an X selection ("PRIMARY", "CLIPBOARD") as UTF-8; empty when nobody holds one
    // or its owner does not answer within a second.
    std::string selectionText(const std::string& selection);
    // The topmost mapped top-level window of the program `program` (its WM_CLASS name or
    // class) whose frame holds (x, y), with its shape; none when there is no such window.
    WindowShape windowAt(int x, int y, const std::string& program);
    // The program (WM_CLASS name) whose window is topmost at (x, y), looking through a window
    // manager's frame to the window it holds; empty when none is there.
    std::string topProgramAt(int x, int y);

private:
    void* m_display = nullptr;
};

// A window manager (openbox) on the display, as on a real desktop: it frames and stacks the
// programs' windows and gives the keyboard to the one clicked. Stopped with the object.
class WindowManager {
public:
    // None (with the reason) when openbox is not installed or does not take the screen.
    static std::unique_ptr<WindowManager> start(const std::string& display, const std::filesystem::path& home,
                                                std::string& whyNot);
    ~WindowManager();

private:
    WindowManager() = default;
    std::unique_ptr<ChildProgram> m_program;
};

// Presses `button` at (x, y) and moves on until `source` prints "drag-begin"; true once it has.
// GTK swallows the first press after one of its drags failed to drop, so a press that starts
// nothing is let go and repeated, three times at most.
bool beginDrag(FakeInput& input, ChildProgram& source, int x, int y, int button = 1);

}  // namespace kolvex::testing
