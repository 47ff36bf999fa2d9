// SPDX-License-Identifier: GPL-3.0-or-later
// Whether a drop on the Portal converts is decided by the keys held as the button went up, even
// when the Portal hears of the release late: its GUI thread was busy (a first reveal on a loaded
// machine) while the user let go of the trigger and the button.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "DesktopHarness.h"
#include "PortalHostSteps.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;
using testing::ChildProgram;
using testing::FakeInput;
using testing::Toolkit;
using testing::Xvfb;

constexpr int kSourceX = 100, kSourceY = 100, kSourceSize = 200;

// What the user did last, while the Portal could not look.
enum class LetGo { triggerFirst, buttonFirst };

struct Case {
    Toolkit toolkit;
    LetGo order;
};

class BusyRelease : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        testing::coreApplication("test-ui-portal-desktop");
        std::string whyNot;
        server = Xvfb::start(whyNot);
        if (!server) GTEST_SKIP() << whyNot;
        input = std::make_unique<FakeInput>(server->display());
        ASSERT_TRUE(input->ok()) << "no XTest on " << server->display();
        file = temp.write("photo one.jpg", "not really a picture");
        fifo = temp.path() / "stall";
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        const auto env = testing::desktopEnvironment(server->display(), temp.path());
        const std::vector<std::string> hostArguments{"--stall", fifo.string()};
        host = std::make_unique<ChildProgram>(KOLVEX_PORTAL_HOST, hostArguments, env);
        ASSERT_TRUE(host->waitForLine("ready", 10s)) << "the Portal host did not come up";
        std::vector<std::string> arguments;
        for (int value : {kSourceX, kSourceY, kSourceSize, kSourceSize}) arguments.push_back(std::to_string(value));
        arguments.push_back(file.string());
        source = std::make_unique<ChildProgram>(
            GetParam().toolkit == Toolkit::qt ? KOLVEX_DRAG_SOURCE_QT : KOLVEX_DRAG_SOURCE_GTK, arguments, env);
        ASSERT_TRUE(source->waitForLine("ready", 10s)) << "the drag source did not come up";
    }

    void TearDown() override {
        if (input && input->ok()) {
            input->key("Shift_L", false);
            input->button(1, false);
        }
    }

    // Tells the host to hold its GUI thread ('s') or to go on ('g').
    void tellHost(char command) {
        const int out = ::open(fifo.c_str(), O_WRONLY);
        ASSERT_GE(out, 0) << "the host does not read its stall FIFO";
        ASSERT_EQ(::write(out, &command, 1), 1);
        ::close(out);
    }

    std::string contentsOf(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    kolvex::testing::TempDir temp;
    std::filesystem::path file;
    std::filesystem::path fifo;
    std::unique_ptr<Xvfb> server;
    std::unique_ptr<FakeInput> input;
    std::unique_ptr<ChildProgram> host;
    std::unique_ptr<ChildProgram> source;
};

TEST_P(BusyRelease, TheKeysHeldAsTheButtonWentUpDecideTheDrop) {
    ASSERT_TRUE(testing::beginDrag(*input, *source, kSourceX + kSourceSize / 2, kSourceY + kSourceSize / 2))
        << "the source never began its drag";
    std::size_t shown = 0;
    ASSERT_TRUE(testing::revealUnderTheDrag(*input, *host, &shown));
    ASSERT_TRUE(testing::pointAtTheTopChip(*input, *host, shown));

    tellHost('s');
    ASSERT_TRUE(host->waitForLine("stalled", 5s)) << "the host never held its GUI thread";
    if (GetParam().order == LetGo::triggerFirst) {
        input->key("Shift_L", false);
        input->button(1, false);
    } else {
        input->button(1, false);
        input->key("Shift_L", false);
    }
    input->sync();
    const auto released = host->printedCount();
    tellHost('g');

    ASSERT_TRUE(source->waitForLine("drag-end", 5s)) << "the drag never ended; the Portal saw: " << host->linesText();
    ASSERT_TRUE(host->waitUntilPrinted("closed", 10s, released)) << "the Portal never closed: " << host->linesText();
    const bool converted = host->waitUntilPrinted("converting", 0ms, released);
    if (GetParam().order == LetGo::buttonFirst) {
        EXPECT_TRUE(converted) << "a drop made with the trigger held was not converted: " << host->linesText();
        EXPECT_TRUE(host->waitUntilPrinted("succeeded photo one.png", 0ms, released)) << host->linesText();
    } else {
        EXPECT_FALSE(converted) << "a drop made after the trigger was let go was converted";
        EXPECT_FALSE(std::filesystem::exists(temp.path() / "photo one.png"));
    }
    // Whatever the outcome, the dragged file is where it was, as it was.
    EXPECT_EQ(contentsOf(file), "not really a picture");
}

INSTANTIATE_TEST_SUITE_P(Orders, BusyRelease,
                         ::testing::Values(Case{Toolkit::gtk, LetGo::triggerFirst},
                                           Case{Toolkit::gtk, LetGo::buttonFirst},
                                           Case{Toolkit::qt, LetGo::triggerFirst},
                                           Case{Toolkit::qt, LetGo::buttonFirst}),
                         [](const auto& info) {
                             const bool first = info.param.order == LetGo::triggerFirst;
                             return std::string(info.param.toolkit == Toolkit::qt ? "Qt" : "Gtk") +
                                    (first ? "TriggerLetGoFirst" : "ButtonLetGoFirst");
                         });

}  // namespace
}  // namespace kolvex
