// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/PortalScreens.h"

#include <algorithm>
#include <cmath>

#include <QGuiApplication>
#include <QScreen>

#include "interaction/DevicePixels.h"
#include "interaction/x11/ScreenPixels.h"

namespace kolvex::PortalScreens {

namespace {

Rect intersection(const Rect& a, const Rect& b) {
    const double left = std::max(a.minX(), b.minX()), right = std::min(a.maxX(), b.maxX());
    const double top = std::max(a.minY(), b.minY()), bottom = std::min(a.maxY(), b.maxY());
    if (right <= left || bottom <= top) return Rect{};
    return Rect{Point{left, top}, Size{right - left, bottom - top}};
}

PortalScreen screenOf(const QScreen* s, double rootHeight, const std::optional<ScreenPixels>& pixels) {
    // Qt keeps a screen's top-left corner where the window system has it and divides only its
    // size by the scale, rounded: the real size comes from the X server's monitor at that corner.
    const QRect g = s->geometry();
    const double scale = s->devicePixelRatio() > 0 ? s->devicePixelRatio() : 1.0;
    PortalScreen screen{upward(g, rootHeight), upward(s->availableGeometry(), rootHeight),
                        Rect{Point{static_cast<double>(g.x()), static_cast<double>(g.y())},
                             Size{std::round(g.width() * scale), std::round(g.height() * scale)}},
                        scale};
    if (!pixels) return screen;
    const auto monitor = std::find_if(pixels->monitors.begin(), pixels->monitors.end(), [&](const Rect& m) {
        return m.origin == screen.rootFrame.origin;
    });
    if (monitor == pixels->monitors.end()) return screen;
    screen.rootFrame = *monitor;
    // Qt leaves out the panels and docks (the work area) only on a desktop of one screen.
    if (s->availableGeometry() == g) screen.rootVisibleFrame = *monitor;
    else if (pixels->workArea) screen.rootVisibleFrame = intersection(*monitor, *pixels->workArea);
    return screen;
}

// The X server's numbers, asked again only once Qt has heard of a change of screens: the Portal
// converts the pointer through its screens 120 times a second during a drag.
std::optional<ScreenPixels> realPixels() {
    static bool known = false;
    static std::optional<ScreenPixels> pixels;
    static bool watching = false;
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app || QGuiApplication::platformName() != QLatin1String("xcb")) return std::nullopt;
    if (!watching) {
        watching = true;
        const auto forget = [] { known = false; };
        const auto watch = [forget, app](QScreen* screen) {
            QObject::connect(screen, &QScreen::geometryChanged, app, forget);
            QObject::connect(screen, &QScreen::availableGeometryChanged, app, forget);
        };
        for (QScreen* screen : QGuiApplication::screens()) watch(screen);
        QObject::connect(app, &QGuiApplication::screenAdded, app, [forget, watch](QScreen* screen) {
            watch(screen);
            forget();
        });
        QObject::connect(app, &QGuiApplication::screenRemoved, app, forget);
    }
    if (!known) {
        pixels = screenPixels();
        known = true;
    }
    return pixels;
}

}  // namespace

double virtualHeight() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return 0;
    const QRect all = screen->virtualGeometry();
    return all.y() + all.height();
}

std::vector<PortalScreen> all(double rootHeight) {
    const auto pixels = realPixels();
    std::vector<PortalScreen> screens;
    for (const QScreen* s : QGuiApplication::screens()) screens.push_back(screenOf(s, rootHeight, pixels));
    return screens;
}

std::optional<PortalScreen> primary(double rootHeight) {
    const QScreen* s = QGuiApplication::primaryScreen();
    if (!s) return std::nullopt;
    return screenOf(s, rootHeight, realPixels());
}

Rect upward(const QRect& r, double rootHeight) {
    return Rect{Point{static_cast<double>(r.x()), rootHeight - (r.y() + r.height())},
                Size{static_cast<double>(r.width()), static_cast<double>(r.height())}};
}

// A pointer's pixels run from a screen's left edge up to, not including, the right one, and
// (upward) from the top edge down to, not including, the bottom one, so each column and row of
// the desktop belongs to one screen alone. At the seam of two heads the pointer on the right
// one's first column is on the right head, whose scale converted it.
bool containsPointer(const Rect& r, Point p) {
    return p.x >= r.minX() && p.x < r.maxX() && p.y > r.minY() && p.y <= r.maxY();
}

Rect rootFrameOf(const PortalScreen& screen, double rootHeight) {
    if (screen.rootFrame.size.width > 0 && screen.rootFrame.size.height > 0) return screen.rootFrame;
    return Rect{Point{screen.frame.origin.x, rootHeight - screen.frame.maxY()}, screen.frame.size};
}

Rect rootVisibleFrameOf(const PortalScreen& screen, double rootHeight) {
    if (screen.rootVisibleFrame.size.width > 0 && screen.rootVisibleFrame.size.height > 0) return screen.rootVisibleFrame;
    // Qt's own conversion of the visible frame, kept within the screen's real pixels.
    const Rect root = rootFrameOf(screen, rootHeight);
    const double scale = screen.scale > 0 ? screen.scale : 1.0;
    const auto at = [](double logical, double origin, double s) {
        return static_cast<double>(DevicePixels::position(static_cast<int>(std::lround(logical)),
                                                          static_cast<int>(std::lround(origin)), s));
    };
    const Rect& v = screen.visibleFrame;
    const double top = rootHeight - v.maxY();
    const Rect converted{Point{at(v.minX(), root.minX(), scale), at(top, root.minY(), scale)},
                         Size{static_cast<double>(DevicePixels::length(static_cast<int>(std::lround(v.size.width)), scale)),
                              static_cast<double>(DevicePixels::length(static_cast<int>(std::lround(v.size.height)), scale))}};
    return intersection(converted, root);
}

Point withinRealPixels(Point origin, double side, const PortalScreen& screen, double rootHeight) {
    const Rect root = rootFrameOf(screen, rootHeight);
    const Rect visible = rootVisibleFrameOf(screen, rootHeight);
    if (visible.size.width <= 0 || visible.size.height <= 0) return origin;
    const double scale = screen.scale > 0 ? screen.scale : 1.0;
    const int length = static_cast<int>(std::lround(side));
    // As the window's geometry will be set: whole logical pixels, y down.
    const int left = static_cast<int>(std::lround(origin.x));
    const int top = static_cast<int>(std::lround(rootHeight - (origin.y + side)));
    const auto whole = [](double v) { return static_cast<int>(std::lround(v)); };
    const int fittedLeft =
        DevicePixels::fit(left, length, whole(root.minX()), scale, whole(visible.minX()), whole(visible.maxX()));
    const int fittedTop =
        DevicePixels::fit(top, length, whole(root.minY()), scale, whole(visible.minY()), whole(visible.maxY()));
    if (fittedLeft == left && fittedTop == top) return origin;
    return Point{fittedLeft == left ? origin.x : static_cast<double>(fittedLeft),
                 fittedTop == top ? origin.y : rootHeight - fittedTop - side};
}

}  // namespace kolvex::PortalScreens
