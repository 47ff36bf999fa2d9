// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "DesktopHarness.h"
#include "core/services/Log.h"
#include "interaction/x11/DragObserver.h"
#include "interaction/x11/X11DragInputs.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;
using testing::ChildProgram;
using testing::FakeInput;
using testing::Xvfb;

using testing::Toolkit;

QCoreApplication& app() { return testing::coreApplication("test-interaction-desktop"); }

// A loaded test machine can keep a drag source from answering within the application's
// 100 ms; the tests wait longer so that "files known" does not depend on the load.
constexpr auto kPatientRead = 3s;
constexpr int kSourceX = 100, kSourceY = 100, kSourceSize = 200;

class DesktopDrags : public ::testing::TestWithParam<Toolkit> {
protected:
    void SetUp() override {
        app();
        std::string whyNot;
        server = Xvfb::start(whyNot);
        if (!server) GTEST_SKIP() << whyNot;
        input = std::make_unique<FakeInput>(server->display());
        ASSERT_TRUE(input->ok()) << "no XTest on " << server->display();

        files = {temp.write("plain.txt", "a"), temp.write("with space ä.png", "b")};
        observer = std::make_unique<DragObserver>(TriggerModifier::shift,
                                                  std::make_unique<X11DragInputs>(server->display(), kPatientRead), &defaults);
        observer->onSignal = [this](const DragObserver::Signal& signal) { received.push_back(signal); };
        observer->start();
        ASSERT_TRUE(observer->isListening());

        if (launchesDefaultSource())
            launchSource(GetParam() == Toolkit::qt ? KOLVEX_DRAG_SOURCE_QT : KOLVEX_DRAG_SOURCE_GTK, {});
    }

    virtual bool launchesDefaultSource() const { return true; }

    void launchSource(const char* program, std::vector<std::string> arguments) {
        for (int value : {kSourceX, kSourceY, kSourceSize, kSourceSize}) arguments.push_back(std::to_string(value));
        for (const auto& f : files) arguments.push_back(f.string());
        source = std::make_unique<ChildProgram>(program, arguments,
                                                testing::desktopEnvironment(server->display(), temp.path()));
        ASSERT_TRUE(source->waitForLine("ready", 10s)) << "the drag source did not come up";
    }

    void TearDown() override {
        if (input && input->ok()) {
            input->key("Shift_L", false);
            input->key("Control_L", false);
            input->key("Alt_L", false);
            input->button(leftButton, false);
            input->setLeftHanded(false);
        }
        if (observer) observer->stop();
    }

    // Presses on the source and moves until it has begun its drag.
    void startDrag(bool carriesFiles = true) {
        ASSERT_TRUE(testing::beginDrag(*input, *source, kSourceX + kSourceSize / 2, kSourceY + kSourceSize / 2, leftButton))
            << "the source never began its drag";
        // A few more moves, as a hand keeps moving.
        for (int step = 0; step < 3; ++step) {
            input->moveBy(3, 0);
            testing::pumpUntil([] { return false; }, 10ms);  // the hand's pace, not a wait for anyone
        }
        // The observer follows a drag once its source has said what it carries.
        if (carriesFiles) {
            ASSERT_TRUE(testing::pumpUntil([&] { return observer->isPolling(); }, testing::patience(5s)));
        }
    }

    void endDrag() {
        input->button(leftButton, false);
        EXPECT_TRUE(source->waitForLine("drag-end", 5s));
    }

    bool waitForSignals(std::size_t count, std::chrono::milliseconds timeout = 3s) {
        return testing::pumpUntil([&] { return received.size() >= count; }, testing::patience(timeout));
    }

    // Nothing arrives for a while (used only where nothing is the expected outcome).
    void expectQuiet(std::chrono::milliseconds span = 150ms) {
        testing::pumpUntil([] { return false; }, span);
        EXPECT_TRUE(received.empty()) << received.size() << " unexpected signals";
    }

    template <typename T>
    std::vector<T> all() const {
        std::vector<T> out;
        for (const auto& s : received)
            if (auto* v = std::get_if<T>(&s)) out.push_back(*v);
        return out;
    }

    kolvex::testing::TempDir temp;
    InMemoryUserDefaults defaults;
    std::vector<std::filesystem::path> files;
    std::unique_ptr<Xvfb> server;
    std::unique_ptr<FakeInput> input;
    std::unique_ptr<DragObserver> observer;
    std::unique_ptr<ChildProgram> source;
    std::vector<DragObserver::Signal> received;
    LogCapture log;
    int leftButton = 1;  // the physical button that acts as the left one
};

TEST_P(DesktopDrags, TriggerRevealsTracksAndReleaseCommits) {
    startDrag();
    ASSERT_TRUE(received.empty()) << "nothing before the trigger";
    input->key("Shift_L", true);
    ASSERT_TRUE(waitForSignals(1));
    const auto* reveal = std::get_if<DragObserver::Reveal>(&received.front());
    ASSERT_NE(reveal, nullptr);
    EXPECT_EQ(reveal->mode, PortalMode::convert);
    if (GetParam() == Toolkit::gtk || !reveal->payload.pending) {
        // Qt sources answer only early in a slow drag; when they do, the files must be right.
        EXPECT_FALSE(reveal->payload.pending);
        EXPECT_EQ(reveal->payload.urls, files);
    }
    const auto [x, y] = input->pointer();
    EXPECT_EQ(reveal->at, (Point{static_cast<double>(x), static_cast<double>(y)})) << "the root window's pixels";

    // Moving is tracked, and Alt added makes the advanced ring.
    const std::size_t before = received.size();
    input->key("Alt_L", true);
    for (int step = 0; step < 5; ++step) input->moveBy(-2, -3);
    ASSERT_TRUE(testing::pumpUntil(
        [&] {
            const auto tracks = all<DragObserver::Track>();
            return !tracks.empty() && tracks.back().mode == PortalMode::advanced &&
                   tracks.back().at == Point{static_cast<double>(input->pointer().first),
                                             static_cast<double>(input->pointer().second)};
        },
        testing::patience(2s)));
    EXPECT_GT(received.size(), before);
    input->key("Alt_L", false);

    endDrag();
    ASSERT_TRUE(testing::pumpUntil([&] { return !all<DragObserver::Dismiss>().empty(); }, testing::patience(2s)));
    const auto dismisses = all<DragObserver::Dismiss>();
    ASSERT_EQ(dismisses.size(), 1u);
    EXPECT_TRUE(dismisses.front().mayCommit);
    EXPECT_TRUE(std::holds_alternative<DragObserver::Dismiss>(received.back()));
    EXPECT_EQ(all<DragObserver::Reveal>().size(), 1u);
    EXPECT_FALSE(observer->isPolling());
}

TEST_P(DesktopDrags, LettingTheTriggerGoDismissesWithoutCommit) {
    startDrag();
    input->key("Shift_L", true);
    ASSERT_TRUE(waitForSignals(1));
    input->key("Shift_L", false);
    ASSERT_TRUE(testing::pumpUntil([&] { return !all<DragObserver::Dismiss>().empty(); }, testing::patience(2s)));
    EXPECT_FALSE(all<DragObserver::Dismiss>().front().mayCommit);
    const std::size_t afterDismiss = received.size();
    endDrag();
    // No signal follows: a wait that proves an absence keeps its own span.
    testing::pumpUntil([] { return false; }, 100ms);
    EXPECT_EQ(received.size(), afterDismiss) << "the drag ended as an ordinary drag";
    EXPECT_TRUE(log.contains("interaction", "DISMISS mayCommit=false"));
}

TEST_P(DesktopDrags, ANewTriggerKeyAppliesToTheNextDrag) {
    startDrag();
    input->key("Shift_L", true);
    ASSERT_TRUE(waitForSignals(1));
    input->key("Shift_L", false);
    endDrag();
    ASSERT_TRUE(testing::pumpUntil([&] { return !observer->isPolling(); }, testing::patience(2s)));

    observer->updateTrigger(TriggerModifier::control);
    received.clear();
    startDrag();
    input->key("Shift_L", true);
    for (int step = 0; step < 3; ++step) input->moveBy(2, 2);
    // Nothing opens: a wait that proves an absence keeps its own span.
    testing::pumpUntil([] { return false; }, 150ms);
    EXPECT_TRUE(all<DragObserver::Reveal>().empty()) << "the old key no longer opens the Portal";
    input->key("Shift_L", false);
    input->key("Control_L", true);
    ASSERT_TRUE(testing::pumpUntil([&] { return !all<DragObserver::Reveal>().empty(); }, testing::patience(3s)))
        << "the new key opens it on the very next drag";
    EXPECT_EQ(all<DragObserver::Reveal>().front().mode, PortalMode::convert);
    input->key("Control_L", false);
    endDrag();
}

TEST_P(DesktopDrags, NothingWithoutTheTrigger) {
    startDrag();
    for (int step = 0; step < 5; ++step) input->moveBy(4, 4);
    endDrag();
    expectQuiet();
}

TEST_P(DesktopDrags, NothingForADragCancelledWithEscape) {
    startDrag();
    input->key("Escape", true);
    input->key("Escape", false);
    ASSERT_TRUE(source->waitForLine("drag-end", 5s)) << "the source did not cancel";
    // The button is still down; the trigger now must not reveal a Portal for the dead drag.
    input->key("Shift_L", true);
    for (int step = 0; step < 5; ++step) input->moveBy(3, 3);
    expectQuiet();
    input->button(1, false);
}

TEST_P(DesktopDrags, NothingForAPlainShiftDragAfterAnEarlierDrag) {
    startDrag();
    endDrag();
    // A rubber-band drag on the empty desktop with Shift held: the source may still own the
    // drag selection from before, but this is no file drag.
    input->moveTo(900, 600);
    input->key("Shift_L", true);
    input->button(1, true);
    for (int step = 0; step < 10; ++step) input->moveBy(4, 3);
    expectQuiet();
    input->button(1, false);
}

TEST_P(DesktopDrags, EveryNewDragRevealsAgain) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        received.clear();
        startDrag();
        input->key("Shift_L", true);
        ASSERT_TRUE(waitForSignals(1));
        EXPECT_TRUE(std::holds_alternative<DragObserver::Reveal>(received.front()));
        input->key("Shift_L", false);
        endDrag();
        ASSERT_TRUE(testing::pumpUntil([&] { return !observer->isPolling(); }, testing::patience(2s)));
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, DesktopDrags, ::testing::Values(Toolkit::qt, Toolkit::gtk),
                         [](const auto& info) { return info.param == Toolkit::qt ? "Qt" : "Gtk"; });

TEST_P(DesktopDrags, ALeftHandedMouseDragsWithItsOtherButton) {
    input->setLeftHanded(true);
    leftButton = 3;
    startDrag();
    input->key("Shift_L", true);
    ASSERT_TRUE(waitForSignals(1));
    EXPECT_TRUE(std::holds_alternative<DragObserver::Reveal>(received.front()));
    endDrag();
    ASSERT_TRUE(testing::pumpUntil([&] { return !all<DragObserver::Dismiss>().empty(); }, testing::patience(2s)));
    EXPECT_TRUE(all<DragObserver::Dismiss>().front().mayCommit);
}

// Sources that will not tell us their files, and drags that carry none.
class UnreadableDrags : public DesktopDrags {
protected:
    bool launchesDefaultSource() const override { return false; }
};

TEST_P(UnreadableDrags, ASourceThatRefusesRevealsWithPendingFiles) {
    launchSource(KOLVEX_DRAG_SOURCE_GTK, {"--refuse"});
    startDrag();
    input->key("Shift_L", true);
    ASSERT_TRUE(waitForSignals(1));
    const auto* reveal = std::get_if<DragObserver::Reveal>(&received.front());
    ASSERT_NE(reveal, nullptr);
    EXPECT_TRUE(reveal->payload.pending);
    EXPECT_TRUE(reveal->payload.isEmpty());
    EXPECT_TRUE(log.contains("interaction", "REVEAL  mode=convert targets-pending"));
    endDrag();
    ASSERT_TRUE(testing::pumpUntil([&] { return !all<DragObserver::Dismiss>().empty(); }, testing::patience(2s)));
    EXPECT_TRUE(all<DragObserver::Dismiss>().front().mayCommit) << "the drop view may still receive the files";
}

TEST_P(UnreadableDrags, NothingForATextDrag) {
    launchSource(KOLVEX_DRAG_SOURCE_GTK, {"--text"});
    startDrag(false);
    input->key("Shift_L", true);
    for (int step = 0; step < 5; ++step) input->moveBy(3, 3);
    expectQuiet(250ms);
    endDrag();
}

INSTANTIATE_TEST_SUITE_P(Gtk, UnreadableDrags, ::testing::Values(Toolkit::gtk));

TEST(DesktopWithoutX11, LogsTheMonitorFailureAndStaysIdle) {
    app();
    LogCapture log;
    InMemoryUserDefaults defaults;
    DragObserver observer(TriggerModifier::shift, std::make_unique<X11DragInputs>(":65000"), &defaults);
    int count = 0;
    observer.onSignal = [&](const DragObserver::Signal&) { ++count; };
    observer.start();
    EXPECT_FALSE(observer.isListening());
    EXPECT_TRUE(log.contains("interaction", "Failed to install global mouse monitor"));
    observer.updateTrigger(TriggerModifier::command);
    EXPECT_EQ(defaults.string("PortalTriggerModifier"), "command") << "the choice is kept for the next start";
    observer.stop();
    EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace kolvex
