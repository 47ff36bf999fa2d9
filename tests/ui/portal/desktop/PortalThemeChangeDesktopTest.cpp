// SPDX-License-Identifier: GPL-3.0-or-later
// The theme changed while the Portal shows its ring under a real drag: the whole Portal is drawn
// again in the new theme at once, as a Portal opened in that theme from the start is.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "DesktopHarness.h"
#include "PortalHostSteps.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;
using testing::ChildProgram;
using testing::FakeInput;
using testing::WindowShape;
using testing::Xvfb;

constexpr int kSourceX = 100, kSourceY = 100, kSourceSize = 200;
constexpr int kPointerX = 640, kPointerY = 400;

// The Portal's window as the screen shows it, row by row, with the band of the turning ring (it
// never stands still) left out as 0.
struct Picture {
    int side = 0;
    std::vector<unsigned> pixels;

    static Picture of(FakeInput& input, const WindowShape& shape) {
        Picture picture{shape.width, input.pixels(shape.x, shape.y, shape.width, shape.height)};
        const double centre = shape.width / 2.0;
        for (int y = 0; y < picture.side; ++y)
            for (int x = 0; x < picture.side; ++x) {
                const double r = std::hypot(x + 0.5 - centre, y + 0.5 - centre);
                if (r > 52 && r < 76) picture.pixels[static_cast<std::size_t>(y * picture.side + x)] = 0;
            }
        return picture;
    }
    // How many pixels differ from `other` by more than a shade in some channel.
    std::size_t differences(const Picture& other) const {
        if (other.pixels.size() != pixels.size()) return pixels.size() + 1;
        std::size_t count = 0;
        for (std::size_t i = 0; i < pixels.size(); ++i)
            for (int shift : {0, 8, 16})
                if (std::abs(static_cast<int>(pixels[i] >> shift & 0xff) - static_cast<int>(other.pixels[i] >> shift & 0xff)) > 8) {
                    ++count;
                    break;
                }
        return count;
    }
    // Mean lightness of what is shown, 0–255.
    double lightness() const {
        double sum = 0;
        for (unsigned p : pixels) sum += ((p >> 16 & 0xff) + (p >> 8 & 0xff) + (p & 0xff)) / 3.0;
        return pixels.empty() ? 0 : sum / static_cast<double>(pixels.size());
    }
};

// A Portal host on a desktop of its own, revealed under a GTK drag held still in the middle of
// the screen, no chip chosen.
class HeldPortal {
public:
    void start(const std::vector<std::string>& hostOptions) {
        std::string whyNot;
        server = Xvfb::start(whyNot);
        if (!server) GTEST_SKIP() << whyNot;
        input = std::make_unique<FakeInput>(server->display());
        ASSERT_TRUE(input->ok()) << "no XTest on " << server->display();
        const auto file = temp.write("photo one.jpg", "not really a picture");
        fifo = temp.path() / "commands";
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        const auto env = testing::desktopEnvironment(server->display(), temp.path());
        std::vector<std::string> options{"--chips", "4", "--stall", fifo.string()};
        options.insert(options.end(), hostOptions.begin(), hostOptions.end());
        host = std::make_unique<ChildProgram>(KOLVEX_PORTAL_HOST, options, env);
        ASSERT_TRUE(host->waitForLine("ready", 10s)) << "the Portal host did not come up";
        std::vector<std::string> arguments;
        for (int value : {kSourceX, kSourceY, kSourceSize, kSourceSize}) arguments.push_back(std::to_string(value));
        arguments.push_back(file.string());
        source = std::make_unique<ChildProgram>(KOLVEX_DRAG_SOURCE_GTK, arguments, env);
        ASSERT_TRUE(source->waitForLine("ready", 10s)) << "the drag source did not come up";
        ASSERT_TRUE(testing::beginDrag(*input, *source, kSourceX + kSourceSize / 2, kSourceY + kSourceSize / 2));
        ASSERT_TRUE(input->glideTo(kPointerX, kPointerY));
        ASSERT_TRUE(testing::revealUnderTheDrag(*input, *host));
        ASSERT_TRUE(testing::pumpUntil(
            [&] {
                shape = input->windowAt(kPointerX, kPointerY, "portal-desktop-host");
                return shape.found();
            },
            testing::patience(2s)));
    }

    ~HeldPortal() {
        if (input && input->ok()) {
            input->key("Shift_L", false);
            input->button(1, false);
        }
    }

    // The Portal once it has stopped changing (it grows in, its chips arrive): the same twice in a
    // row, half a second apart. Empty when it never settles.
    Picture settled() {
        Picture last, now;
        const bool still = testing::pumpUntil(
            [&] {
                last = std::exchange(now, Picture::of(*input, shape));
                testing::pumpUntil([] { return false; }, 500ms);
                return !last.pixels.empty() && now.differences(last) == 0;
            },
            testing::patience(5s));
        return still ? now : Picture{};
    }

    void tellHost(char command) {
        const int out = ::open(fifo.c_str(), O_WRONLY);
        ASSERT_GE(out, 0) << "the host does not read its command FIFO";
        ASSERT_EQ(::write(out, &command, 1), 1);
        ::close(out);
    }

    testing::TempDir temp;
    std::unique_ptr<Xvfb> server;
    std::unique_ptr<FakeInput> input;
    std::unique_ptr<ChildProgram> host, source;
    std::filesystem::path fifo;
    WindowShape shape;
};

struct Change {
    char to;           // the host's command
    const char* from;  // the theme it starts in
    const char* name;
};

class AThemeChangeUnderTheRing : public ::testing::TestWithParam<Change> {};

TEST_P(AThemeChangeUnderTheRing, DrawsTheWholePortalAsAFreshOneInTheNewTheme) {
    testing::coreApplication("test-ui-portal-desktop");
    const Change change = GetParam();
    const char* target = change.to == 'l' ? "light" : "dark";
    Picture fresh;
    {
        HeldPortal portal;
        portal.start({"--theme", target});
        if (::testing::Test::IsSkipped() || HasFatalFailure()) return;
        fresh = portal.settled();
        ASSERT_FALSE(fresh.pixels.empty()) << "a fresh " << target << " Portal never stood still";
    }
    HeldPortal portal;
    portal.start({"--theme", change.from});
    if (::testing::Test::IsSkipped() || HasFatalFailure()) return;
    const Picture before = portal.settled();
    ASSERT_FALSE(before.pixels.empty()) << "the Portal never stood still";
    ASSERT_GT(before.differences(fresh), before.pixels.size() / 4) << "the two themes look alike";
    portal.tellHost(change.to);
    ASSERT_TRUE(portal.host->waitForLine(std::string("theme ") + target, 5s)) << portal.host->linesText();
    // Every pixel of the new look arrives at once; no later event is needed for any of it.
    Picture now;
    const bool same = testing::pumpUntil(
        [&] {
            now = Picture::of(*portal.input, portal.shape);
            return now.differences(fresh) <= now.pixels.size() / 200;
        },
        testing::patience(2s));
    EXPECT_TRUE(same) << now.differences(fresh) << " of " << now.pixels.size()
                      << " pixels differ from a fresh Portal in the new theme (lightness " << now.lightness()
                      << " against " << fresh.lightness() << ")";
}

INSTANTIATE_TEST_SUITE_P(Themes, AThemeChangeUnderTheRing,
                         ::testing::Values(Change{'l', "dark", "DarkToLight"}, Change{'d', "light", "LightToDark"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kolvex
