// SPDX-License-Identifier: GPL-3.0-or-later
// A real X server with several heads, and what the window system makes of a window's shape.
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

#include "DesktopHarness.h"

namespace kolvex::testing {

namespace {

// A mode line of `width` × `height` at about 60 Hz, with short blanking.
std::string modeline(const std::string& name, int width, int height) {
    const int totalWidth = width + 60, totalHeight = height + 6;
    const double clock = totalWidth * static_cast<double>(totalHeight) * 60 / 1e6;
    return "    Modeline \"" + name + "\" " + std::to_string(clock) + " " + std::to_string(width) + " " +
           std::to_string(width + 20) + " " + std::to_string(width + 40) + " " + std::to_string(totalWidth) + " " +
           std::to_string(height) + " " + std::to_string(height + 2) + " " + std::to_string(height + 4) + " " +
           std::to_string(totalHeight) + "\n";
}

// One screen spanning the heads; each output gets a monitor section with its mode and place.
std::string configuration(const std::vector<XorgHeads::Head>& heads) {
    int width = 0, height = 0;
    for (const auto& head : heads) {
        width += head.width;
        height = std::max(height, head.height);
    }
    std::string text =
        "Section \"ServerFlags\"\n    Option \"AutoAddDevices\" \"false\"\n    Option \"AutoEnableDevices\" \"false\"\n"
        "    Option \"DontVTSwitch\" \"true\"\nEndSection\n"
        "Section \"Device\"\n    Identifier \"dummy\"\n    Driver \"dummy\"\n";
    // Video memory for the whole screen, in KiB at four bytes a pixel, with room.
    text += "    VideoRam " + std::to_string(width * height * 4 / 1024 + 4096) + "\n";
    for (std::size_t i = 0; i < heads.size(); ++i)
        text += "    Option \"Monitor-DUMMY" + std::to_string(i) + "\" \"head" + std::to_string(i) + "\"\n";
    text += "EndSection\n";
    int left = 0;
    for (std::size_t i = 0; i < heads.size(); ++i) {
        const std::string mode = "mode" + std::to_string(i);
        text += "Section \"Monitor\"\n    Identifier \"head" + std::to_string(i) +
                "\"\n    HorizSync 5.0-1000.0\n    VertRefresh 5.0-200.0\n";
        text += modeline(mode, heads[i].width, heads[i].height);
        text += "    Option \"PreferredMode\" \"" + mode + "\"\n    Option \"Position\" \"" + std::to_string(left) + " 0\"\n";
        text += i == 0 ? "    Option \"Primary\" \"true\"\n" : "    Option \"Enable\" \"true\"\n";
        text += "EndSection\n";
        left += heads[i].width;
    }
    text += "Section \"Screen\"\n    Identifier \"screen\"\n    Device \"dummy\"\n    Monitor \"head0\"\n"
            "    DefaultDepth 24\n    SubSection \"Display\"\n        Depth 24\n        Virtual " +
            std::to_string(width) + " " + std::to_string(height) + "\n    EndSubSection\nEndSection\n";
    return text;
}

}  // namespace

std::unique_ptr<XorgHeads> XorgHeads::start(const std::vector<Head>& heads, const std::filesystem::path& scratch,
                                            std::string& whyNot) {
    const std::string program = "/usr/lib/xorg/Xorg";
    if (access(program.c_str(), X_OK) != 0) {
        whyNot = "Xorg is not installed (package xserver-xorg-core)";
        return nullptr;
    }
    if (access("/usr/lib/xorg/modules/drivers/dummy_drv.so", R_OK) != 0) {
        whyNot = "Xorg's dummy video driver is not installed (package xserver-xorg-video-dummy)";
        return nullptr;
    }
    if (geteuid() != 0) {
        whyNot = "Xorg with the dummy driver needs root here";
        return nullptr;
    }
    const auto folder = scratch / "xorg";
    std::filesystem::create_directories(folder / "conf.d");
    std::ofstream(folder / "xorg.conf") << configuration(heads);
    const auto log = folder / "Xorg.log";
    std::unique_ptr<XorgHeads> server(new XorgHeads);
    // The server writes its display number to standard output once it takes connections.
    server->m_server = std::make_unique<ChildProgram>(
        program,
        std::vector<std::string>{"-config", (folder / "xorg.conf").string(), "-configdir", (folder / "conf.d").string(),
                                 "-logfile", log.string(), "-verbose", "0", "-noreset", "-nolisten", "tcp",
                                 "-displayfd", "1"},
        std::map<std::string, std::string>{});
    ChildProgram& xorg = *server->m_server;
    pumpUntil([&] { return !xorg.lines().empty() || xorg.exited(); }, patience(std::chrono::seconds(10)));
    const auto lines = xorg.lines();
    const std::string number = lines.empty() ? std::string() : lines.front();
    if (number.empty()) {
        // The log goes with the scratch folder: keep what it says went wrong.
        whyNot = "Xorg with the dummy driver did not come up";
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);)
            if (line.find("(EE)") != std::string::npos || line.find("Fatal") != std::string::npos) whyNot += "\n" + line;
        return nullptr;
    }
    server->m_display = ":" + number;
    for (std::size_t i = 0; i < heads.size(); ++i) server->m_outputs.push_back("DUMMY" + std::to_string(i));
    return server;
}

XorgHeads::~XorgHeads() = default;

bool WindowShape::contains(int px, int py) const {
    for (const auto& [rx, ry, rw, rh] : rectangles)
        if (px >= rx && px < rx + rw && py >= ry && py < ry + rh) return true;
    return false;
}

WindowShape FakeInput::windowAt(int x, int y, const std::string& program) {
    auto* d = static_cast<Display*>(m_display);
    WindowShape shape;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) return shape;
    // Children come bottom first: look from the top.
    for (unsigned i = count; i-- > 0;) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(d, children[i], &a) || a.map_state != IsViewable) continue;
        if (x < a.x || y < a.y || x >= a.x + a.width || y >= a.y + a.height) continue;
        XClassHint hint{};
        if (!XGetClassHint(d, children[i], &hint)) continue;
        const bool ours = (hint.res_name && program == hint.res_name) || (hint.res_class && program == hint.res_class);
        if (hint.res_name) XFree(hint.res_name);
        if (hint.res_class) XFree(hint.res_class);
        if (!ours) continue;
        shape.x = a.x;
        shape.y = a.y;
        shape.width = a.width;
        shape.height = a.height;
        int rectangleCount = 0, ordering = 0;
        if (XRectangle* r = XShapeGetRectangles(d, children[i], ShapeBounding, &rectangleCount, &ordering)) {
            for (int k = 0; k < rectangleCount; ++k)
                shape.rectangles.push_back({a.x + r[k].x, a.y + r[k].y, r[k].width, r[k].height});
            XFree(r);
        }
        break;
    }
    if (children) XFree(children);
    return shape;
}

namespace {

// The WM_CLASS name of `window` or, for a frame without one, of the first window inside it that
// has one.
std::string programOf(Display* d, Window window, int depth) {
    XClassHint hint{};
    if (XGetClassHint(d, window, &hint)) {
        std::string name = hint.res_name ? hint.res_name : "";
        if (hint.res_name) XFree(hint.res_name);
        if (hint.res_class) XFree(hint.res_class);
        return name;
    }
    if (depth == 0) return {};
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    std::string name;
    if (XQueryTree(d, window, &root, &parent, &children, &count))
        for (unsigned i = count; i-- > 0 && name.empty();) name = programOf(d, children[i], depth - 1);
    if (children) XFree(children);
    return name;
}

}  // namespace

std::string FakeInput::topProgramAt(int x, int y) {
    auto* d = static_cast<Display*>(m_display);
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) return {};
    std::string name;
    // Children come bottom first: look from the top.
    for (unsigned i = count; i-- > 0;) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(d, children[i], &a) || a.map_state != IsViewable) continue;
        if (x < a.x || y < a.y || x >= a.x + a.width || y >= a.y + a.height) continue;
        name = programOf(d, children[i], 3);
        break;
    }
    if (children) XFree(children);
    return name;
}

}  // namespace kolvex::testing
