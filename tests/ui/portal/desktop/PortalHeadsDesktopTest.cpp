// SPDX-License-Identifier: GPL-3.0-or-later
// The Portal on a desktop of two heads of different scale: one X screen made of two RandR
// outputs side by side, with Qt told a scale for each by name (as a Plasma session on X11 does).
// Opened on one head, then the other, then the first again, the window must be the whole
// round disc at the scale of the head it is on, and a drop on each chip must convert.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <sstream>

#include <gtest/gtest.h>

#include <QCoreApplication>

#include "DesktopHarness.h"
#include "PortalHostSteps.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;
using testing::ChildProgram;
using testing::FakeInput;
using testing::WindowShape;
using testing::XorgHeads;

QCoreApplication& app() { return testing::coreApplication("test-ui-portal-heads-desktop"); }

struct Head {
    int width, height;
    double scale;
};
// Left at scale 1, right at scale 2: the layout of the report, a 2560 × 1440 screen.
const std::vector<Head> kHeads{{1280, 1440, 1.0}, {1280, 1440, 2.0}};

constexpr int kSourceX = 100, kSourceY = 100, kSourceSize = 200;
const std::vector<std::string> kChips{"png", "webp", "tiff", "gif", "bmp", "heic", "avif", "jxl"};

std::string describe(const WindowShape& shape) {
    if (!shape.found()) return "no window there";
    std::ostringstream out;
    out << "window " << shape.width << "x" << shape.height << "+" << shape.x << "+" << shape.y << ", shape of "
        << shape.rectangles.size() << " rectangles";
    int right = 0, bottom = 0;
    for (const auto& [x, y, w, h] : shape.rectangles) {
        right = std::max(right, x + w - shape.x);
        bottom = std::max(bottom, y + h - shape.y);
    }
    out << " reaching " << right << "x" << bottom << " into it";
    return out.str();
}

// Whether the window is the Portal's disc drawn for `scale`: 480 logical pixels square, shaped
// to the circle it encloses, so that every part of the disc takes drops and none of its corners do.
bool roundAt(const WindowShape& shape, double scale) {
    const int side = static_cast<int>(std::lround(480 * scale));
    if (!shape.found() || shape.width != side || shape.height != side) return false;
    const double r = side / 2.0, cx = shape.x + r, cy = shape.y + r;
    for (int step = 0; step < 32; ++step) {
        const double angle = step * M_PI / 16;
        for (double reach : {0.2, 0.6, 0.93})
            if (!shape.contains(static_cast<int>(cx + std::sin(angle) * r * reach),
                                static_cast<int>(cy - std::cos(angle) * r * reach)))
                return false;
    }
    for (const auto& [sx, sy] : std::vector<std::pair<int, int>>{{-1, -1}, {1, -1}, {1, 1}, {-1, 1}})
        if (shape.contains(static_cast<int>(cx + sx * r * 0.85), static_cast<int>(cy + sy * r * 0.85))) return false;
    return true;
}

// Whether the disc is painted whole in the window's pixels (row by row, `side` square): without
// a compositor it is an opaque dark disc on the black root, so every point near its rim and
// halfway in shows it, in every direction. A layer drawn for another scale would cover a
// quarter of the disc, or spill past it.
bool discPainted(const std::vector<unsigned>& pixels, int side) {
    if (pixels.size() != static_cast<std::size_t>(side) * static_cast<std::size_t>(side)) return false;
    const double r = side / 2.0;
    for (int step = 0; step < 64; ++step) {
        const double angle = step * M_PI / 32;
        for (double reach : {0.5, 0.95}) {
            const int x = static_cast<int>(r + std::sin(angle) * r * reach), y = static_cast<int>(r - std::cos(angle) * r * reach);
            const unsigned p = pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(side) + static_cast<std::size_t>(x)];
            if (std::max({p >> 16 & 0xff, p >> 8 & 0xff, p & 0xff}) < 16) return false;
        }
    }
    return true;
}

// Whether the disc's edge has detail finer than one logical pixel where the head's scale allows
// it: an edge drawn at the head's scale is smooth at device pixels, while one drawn for a lower
// scale and blown up comes in whole blocks of scale × scale device pixels.
bool drawnAtScale(const std::vector<unsigned>& pixels, int side, double scale) {
    const int block = static_cast<int>(std::lround(scale));
    if (block < 2) return true;
    const double r = side / 2.0;
    int fine = 0;
    for (int y = 0; y + block <= side; y += block)
        for (int x = 0; x + block <= side; x += block) {
            const double distance = std::hypot(x + block / 2.0 - r, y + block / 2.0 - r);
            if (distance < r * 0.9 || distance > r) continue;
            const unsigned first = pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(side) + static_cast<std::size_t>(x)];
            bool uniform = true;
            for (int dy = 0; dy < block && uniform; ++dy)
                for (int dx = 0; dx < block && uniform; ++dx)
                    uniform = pixels[static_cast<std::size_t>(y + dy) * static_cast<std::size_t>(side) + static_cast<std::size_t>(x + dx)] == first;
            if (!uniform) ++fine;
        }
    return fine >= 32;
}

// Started on each head in turn: what is drawn for the first head's scale must not be shown on
// the other.
class PortalOnTwoHeads : public ::testing::TestWithParam<std::size_t> {};

TEST_P(PortalOnTwoHeads, TheDiscAndItsChipsFollowTheScaleOfTheHeadItOpensOn) {
    app();
    kolvex::testing::TempDir temp;
    std::vector<XorgHeads::Head> layout;
    for (const Head& head : kHeads) layout.push_back({head.width, head.height});
    std::string whyNot;
    auto server = XorgHeads::start(layout, temp.path(), whyNot);
    if (!server) GTEST_SKIP() << whyNot;
    FakeInput input(server->display());
    ASSERT_TRUE(input.ok()) << "no XTest on " << server->display();
    const auto file = temp.write("photo one.jpg", "not really a picture");
    const auto env = testing::desktopEnvironment(server->display(), temp.path());
    auto hostEnv = env;
    std::string factors;
    for (std::size_t i = 0; i < kHeads.size(); ++i)
        factors += (i ? ";" : "") + server->outputs()[i] + "=" + std::to_string(kHeads[i].scale);
    hostEnv["QT_SCREEN_SCALE_FACTORS"] = factors;
    ChildProgram host(KOLVEX_PORTAL_HOST, {"--chips", std::to_string(kChips.size())}, hostEnv);
    ASSERT_TRUE(host.waitForLine("ready", 10s)) << "the Portal host did not come up";
    std::vector<std::string> arguments;
    for (int value : {kSourceX, kSourceY, kSourceSize, kSourceSize}) arguments.push_back(std::to_string(value));
    arguments.push_back(file.string());
    ChildProgram source(KOLVEX_DRAG_SOURCE_GTK, arguments, env);
    ASSERT_TRUE(source.waitForLine("ready", 10s)) << "the drag source did not come up";

    // One drop per chip, on the heads in turn from the first one: every chip is tried, and the
    // Portal moves from each head to the other several times (left, right, left…).
    for (std::size_t chip = 0; chip < kChips.size(); ++chip) {
        const std::size_t at = (GetParam() + chip) % kHeads.size();
        const Head& head = kHeads[at];
        int left = 0;
        for (std::size_t i = 0; i < at; ++i) left += kHeads[i].width;
        std::string label = kChips[chip];
        for (char& c : label) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        SCOPED_TRACE("chip " + label + " on " + server->outputs()[at] + " at scale " + std::to_string(head.scale));

        ASSERT_TRUE(testing::beginDrag(input, source, kSourceX + kSourceSize / 2, kSourceY + kSourceSize / 2))
            << "the source never began its drag";
        const int x = left + head.width / 2, y = head.height / 2;
        ASSERT_TRUE(input.glideTo(x, y)) << "the pointer did not reach the middle of the head";
        std::size_t shown = 0;
        ASSERT_TRUE(testing::revealUnderTheDrag(input, host, &shown));

        WindowShape shape;
        const bool round = testing::pumpUntil(
            [&] {
                shape = input.windowAt(x, y, "portal-desktop-host");
                return roundAt(shape, head.scale);
            },
            testing::patience(2s));
        EXPECT_TRUE(round) << "the Portal is not the whole disc at this head's scale: " << describe(shape);
        if (round) {
            std::vector<unsigned> pixels;
            const bool painted = testing::pumpUntil(
                [&] {
                    pixels = input.pixels(shape.x, shape.y, shape.width, shape.height);
                    return discPainted(pixels, shape.width) && drawnAtScale(pixels, shape.width, head.scale);
                },
                testing::patience(2s));
            EXPECT_TRUE(painted) << "the Portal's disc is not painted whole and sharp at this head's scale";
        }

        ASSERT_TRUE(host.waitUntilPrinted("inside", 5s, shown)) << "the drag never entered the Portal";
        // Toward the chip (clockwise from the top), past the dead zone, well inside the disc.
        const double angle = 2 * M_PI * static_cast<double>(chip) / static_cast<double>(kChips.size());
        const double reach = 130 * head.scale;
        ASSERT_TRUE(input.glideTo(x + static_cast<int>(std::lround(std::sin(angle) * reach)),
                                  y - static_cast<int>(std::lround(std::cos(angle) * reach))))
            << "the pointer did not reach the chip";
        ASSERT_TRUE(host.waitForLine("selected " + label, 5s)) << host.linesText();
        input.button(1, false);
        ASSERT_TRUE(source.waitForLine("drag-end", 5s));
        ASSERT_TRUE(host.waitForLine("converting", 5s)) << "the drop did not reach the Portal: " << host.linesText();
        EXPECT_TRUE(host.waitForLine("succeeded photo one." + kChips[chip], 5s)) << host.linesText();
        ASSERT_TRUE(host.waitForLine("closed", 10s)) << host.linesText();
        input.key("Shift_L", false);
    }
}

INSTANTIATE_TEST_SUITE_P(StartingHead, PortalOnTwoHeads, ::testing::Range<std::size_t>(0, kHeads.size()),
                         [](const auto& info) { return "head" + std::to_string(info.param); });

// The seam of two heads of different scale, in either order: with the pointer on the first
// column of either head, the Portal opens on that head, whole, at its scale, around the pointer.
class PortalAtTheSeam : public ::testing::TestWithParam<std::vector<double>> {};

TEST_P(PortalAtTheSeam, OpensOnTheHeadWhoseFirstColumnThePointerIsOn) {
    app();
    const std::vector<double> scales = GetParam();
    kolvex::testing::TempDir temp;
    const std::vector<XorgHeads::Head> layout(scales.size(), XorgHeads::Head{1280, 1440});
    std::string whyNot;
    auto server = XorgHeads::start(layout, temp.path(), whyNot);
    if (!server) GTEST_SKIP() << whyNot;
    FakeInput input(server->display());
    ASSERT_TRUE(input.ok()) << "no XTest on " << server->display();
    const auto file = temp.write("photo one.jpg", "not really a picture");
    const auto env = testing::desktopEnvironment(server->display(), temp.path());
    auto hostEnv = env;
    std::string factors;
    for (std::size_t i = 0; i < scales.size(); ++i)
        factors += (i ? ";" : "") + server->outputs()[i] + "=" + std::to_string(scales[i]);
    hostEnv["QT_SCREEN_SCALE_FACTORS"] = factors;
    ChildProgram host(KOLVEX_PORTAL_HOST, {"--chips", std::to_string(kChips.size())}, hostEnv);
    ASSERT_TRUE(host.waitForLine("ready", 10s)) << "the Portal host did not come up";
    std::vector<std::string> arguments;
    for (int value : {kSourceX, kSourceY, kSourceSize, kSourceSize}) arguments.push_back(std::to_string(value));
    arguments.push_back(file.string());
    ChildProgram source(KOLVEX_DRAG_SOURCE_GTK, arguments, env);
    ASSERT_TRUE(source.waitForLine("ready", 10s)) << "the drag source did not come up";

    for (std::size_t at = 0; at < scales.size(); ++at) {
        const int left = 1280 * static_cast<int>(at), x = left, y = 720;
        SCOPED_TRACE("the first column of " + server->outputs()[at] + " at scale " + std::to_string(scales[at]));
        ASSERT_TRUE(testing::beginDrag(input, source, kSourceX + kSourceSize / 2, kSourceY + kSourceSize / 2))
            << "the source never began its drag";
        ASSERT_TRUE(input.glideTo(x, y)) << "the pointer did not reach the seam";
        ASSERT_EQ(input.pointer(), std::make_pair(x, y));
        std::size_t shown = 0;
        ASSERT_TRUE(testing::revealUnderTheDrag(input, host, &shown));
        WindowShape shape;
        const bool onTheHead = testing::pumpUntil(
            [&] {
                shape = input.windowAt(x, y, "portal-desktop-host");
                return roundAt(shape, scales[at]) && shape.x >= left && shape.x + shape.width <= left + 1280;
            },
            testing::patience(2s));
        EXPECT_TRUE(onTheHead) << "the Portal is not whole on the head under the pointer: " << describe(shape);
        // Let go of the trigger first: the release then drops nothing on the Portal.
        input.key("Shift_L", false);
        ASSERT_TRUE(host.waitForLine("unrevealed", 5s)) << host.linesText();
        input.button(1, false);
        ASSERT_TRUE(source.waitForLine("drag-end", 5s));
        ASSERT_TRUE(host.waitForLine("gone", 10s)) << host.linesText();
    }
}

INSTANTIATE_TEST_SUITE_P(Orders, PortalAtTheSeam,
                         ::testing::Values(std::vector<double>{1.0, 2.0}, std::vector<double>{2.0, 1.0}),
                         [](const auto& info) { return info.param[0] == 1.0 ? "PlainThenDouble" : "DoubleThenPlain"; });

}  // namespace
}  // namespace kolvex
