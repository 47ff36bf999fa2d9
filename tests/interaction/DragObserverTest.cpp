// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "core/services/Log.h"
#include "interaction/x11/DragObserver.h"

namespace kolvex {
namespace {

using namespace modifier_flags;
using Files = DragInputSource::Files;

// A window system whose drag, keys, button and pointer the test sets by hand.
class ScriptedSource final : public DragInputSource {
public:
    struct Script {
        bool opens = true;
        std::optional<Drag> drag;
        bool cancelled = false;
        Sample sample;
        std::optional<ModifierFlags> atRelease;  // the keys held as the button went up
        int opened = 0;
        int closed = 0;
        std::function<void(Wake)> wake;
    };
    explicit ScriptedSource(Script& script) : m(script) {}
    bool open(std::function<void(Wake)> wake) override {
        if (!m.opens) return false;
        ++m.opened;
        m.wake = std::move(wake);
        return true;
    }
    void close() override {
        ++m.closed;
        m.wake = nullptr;
    }
    std::optional<Drag> currentDrag() override { return m.drag; }
    bool lastDragCancelled() const override { return m.cancelled; }
    Sample sample() override { return m.sample; }
    std::optional<ModifierFlags> modifiersAtRelease() override { return m.atRelease; }

private:
    Script& m;
};

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "test-interaction";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

std::string describe(const DragObserver::Signal& signal) {
    if (auto* r = std::get_if<DragObserver::Reveal>(&signal))
        return "reveal " + r->payload.label() + (r->payload.pending ? "(pending)" : "") + " " +
               std::string(toString(r->mode));
    if (auto* t = std::get_if<DragObserver::Track>(&signal)) return "track " + std::string(toString(t->mode));
    return std::string("dismiss ") + (std::get<DragObserver::Dismiss>(signal).mayCommit ? "commit" : "no-commit");
}

class DragObserverTest : public ::testing::Test {
protected:
    void SetUp() override {
        app();
        observer = std::make_unique<DragObserver>(
            TriggerModifier::shift, std::make_unique<ScriptedSource>(script), &defaults);
        observer->onSignal = [this](const DragObserver::Signal& s) {
            received.push_back(describe(s));
            if (auto* r = std::get_if<DragObserver::Reveal>(&s)) lastReveal = *r;
        };
    }

    // A file drag of session `id` with the button down.
    void dragFiles(std::int64_t id, std::vector<std::filesystem::path> files, Files state = Files::known) {
        script.drag = DragInputSource::Drag{id, state, DragPayload(std::move(files))};
        script.sample.leftButtonDown = true;
    }
    void wake(DragInputSource::Wake why) {
        ASSERT_TRUE(script.wake) << "not listening";
        script.wake(why);
    }
    // One sample now (as a key change would cause).
    void sampleNow() { wake(DragInputSource::Wake::key); }
    std::vector<std::string> take() { return std::exchange(received, {}); }

    ScriptedSource::Script script;
    std::unique_ptr<DragObserver> observer;
    std::vector<std::string> received;
    std::optional<DragObserver::Reveal> lastReveal;
    InMemoryUserDefaults defaults;
    LogCapture log;
};

TEST_F(DragObserverTest, RevealTrackAndDismissWithCommitOnRelease) {
    observer->start();
    EXPECT_TRUE(log.contains("interaction", "DragObserver started, trigger=shift"));
    dragFiles(7, {"/home/a/b c.png"});
    script.sample.pointer = {100, 200};
    wake(DragInputSource::Wake::pointer);
    EXPECT_TRUE(observer->isPolling());
    EXPECT_EQ(take(), std::vector<std::string>{}) << "watching: the trigger is not held";

    script.sample.modifiers = shift | capsLock;
    sampleNow();
    EXPECT_EQ(take(), std::vector<std::string>{"reveal b c.png convert"});
    ASSERT_TRUE(lastReveal);
    EXPECT_EQ(lastReveal->at, (Point{100, 200}));
    EXPECT_TRUE(log.contains("interaction", "REVEAL b c.png mode=convert targets-pending"));
    EXPECT_TRUE(log.contains("performance", "portal.reveal"));

    script.sample.modifiers = shift | option;
    sampleNow();
    sampleNow();  // a still pointer is tracked too
    EXPECT_EQ(take(), (std::vector<std::string>{"track advanced", "track advanced"}));

    script.sample.leftButtonDown = false;
    script.drag.reset();
    sampleNow();
    EXPECT_EQ(take(), std::vector<std::string>{"dismiss commit"});
    EXPECT_TRUE(log.contains("interaction", "DISMISS mayCommit=true"));
    EXPECT_FALSE(observer->isPolling()) << "the timer stops in the same sample";
}

TEST_F(DragObserverTest, LettingTheTriggerGoDismissesWithoutCommitAndRevealsAgain) {
    observer->start();
    dragFiles(7, {"/a.png", "/b.png"});
    script.sample.modifiers = option;
    wake(DragInputSource::Wake::pointer);
    EXPECT_EQ(take(), std::vector<std::string>{"reveal 2 files tools"});

    script.sample.modifiers = 0;
    sampleNow();
    sampleNow();
    EXPECT_EQ(take(), std::vector<std::string>{"dismiss no-commit"});
    EXPECT_TRUE(observer->isPolling()) << "the drag goes on";

    log.clear();
    script.sample.modifiers = shift;
    sampleNow();
    EXPECT_EQ(take(), std::vector<std::string>{"reveal 2 files convert"});
    EXPECT_TRUE(log.contains("performance", "begin portal.reveal")) << "a new reveal interval";
    observer->markPortalVisible();
    EXPECT_TRUE(log.contains("performance", "portal.reveal took"));
}

TEST_F(DragObserverTest, DragsWithoutFilesStartNothing) {
    observer->start();
    script.sample.modifiers = shift;
    script.sample.leftButtonDown = true;
    // A mouse drag with no drag selection at all (selecting text).
    wake(DragInputSource::Wake::pointer);
    EXPECT_FALSE(observer->isPolling());
    // A drag whose source said it carries no files, and one whose data is still coming.
    for (Files state : {Files::none, Files::reading}) {
        dragFiles(3, {}, state);
        wake(DragInputSource::Wake::drag);
        EXPECT_FALSE(observer->isPolling());
    }
    EXPECT_EQ(take(), std::vector<std::string>{});

    // The files arrive: the source wakes the observer, which reveals at once.
    dragFiles(3, {"/x.pdf"});
    wake(DragInputSource::Wake::drag);
    EXPECT_EQ(take(), std::vector<std::string>{"reveal x.pdf convert"});
}

TEST_F(DragObserverTest, PendingPayloadRevealsAndEndsWithoutCommitWhenNoFilesCame) {
    observer->start();
    dragFiles(9, {}, Files::pending);
    script.sample.modifiers = shift;
    wake(DragInputSource::Wake::pointer);
    EXPECT_EQ(take(), std::vector<std::string>{"reveal (pending) convert"});
    EXPECT_TRUE(lastReveal->payload.pending);

    // A late answer names no file: the drag is no file drag after all.
    dragFiles(9, {}, Files::none);
    sampleNow();
    EXPECT_EQ(take(), std::vector<std::string>{"dismiss no-commit"});
    EXPECT_TRUE(log.contains("interaction", "DISMISS mayCommit=false"));
}

TEST_F(DragObserverTest, EscapeAndNewDragsEndTheRevealedDrag) {
    observer->start();
    dragFiles(1, {"/a"});
    script.sample.modifiers = shift;
    wake(DragInputSource::Wake::pointer);
    ASSERT_EQ(take(), std::vector<std::string>{"reveal a convert"});

    // Escape: the drag is over though the button is still down, and no drop will come.
    script.drag.reset();
    script.cancelled = true;
    sampleNow();
    EXPECT_EQ(take(), std::vector<std::string>{"dismiss no-commit"});
    EXPECT_FALSE(observer->isPolling());

    // A drag followed by another one (a new identity) while revealed.
    script.cancelled = false;
    dragFiles(2, {"/b"});
    wake(DragInputSource::Wake::pointer);
    dragFiles(3, {"/c"});
    sampleNow();
    sampleNow();
    EXPECT_EQ(take(), (std::vector<std::string>{"reveal b convert", "dismiss commit", "reveal c convert"}));
}

TEST_F(DragObserverTest, StopDismissesOnceWithoutCommitAndRestarts) {
    observer->start();
    observer->start();
    EXPECT_EQ(script.opened, 1) << "started once";
    dragFiles(1, {"/a"});
    script.sample.modifiers = shift;
    wake(DragInputSource::Wake::pointer);
    ASSERT_EQ(take().size(), 1u);
    log.clear();
    observer->stop();
    EXPECT_EQ(take(), std::vector<std::string>{"dismiss no-commit"});
    EXPECT_FALSE(log.contains("interaction", "DISMISS")) << "no log line for a stop";
    EXPECT_FALSE(observer->isPolling());
    EXPECT_EQ(observer->machine().phase, PortalTriggerMachine::Phase::idle);
    EXPECT_EQ(script.closed, 1);
    observer->stop();
    EXPECT_EQ(take(), std::vector<std::string>{});

    observer->start();
    wake(DragInputSource::Wake::pointer);
    EXPECT_EQ(take(), std::vector<std::string>{"reveal a convert"});
}

TEST_F(DragObserverTest, UpdateTriggerStoresItAndChangesTheKeys) {
    observer->start();
    observer->updateTrigger(TriggerModifier::option);
    EXPECT_EQ(observer->resolver().toolsModifier, TriggerModifier::shift);
    EXPECT_EQ(defaults.string("PortalTriggerModifier"), "option");
    EXPECT_TRUE(log.contains("interaction", "Trigger changed to option"));

    dragFiles(1, {"/a"});
    script.sample.modifiers = shift;
    wake(DragInputSource::Wake::pointer);
    EXPECT_EQ(take(), std::vector<std::string>{"reveal a tools"});
}

TEST_F(DragObserverTest, PollsOnTheTimerUntilIdle) {
    observer->start();
    dragFiles(1, {"/a"});
    wake(DragInputSource::Wake::pointer);
    ASSERT_TRUE(observer->isPolling());
    script.sample.modifiers = shift;
    QElapsedTimer clock;
    clock.start();
    // A loaded machine may fire several polls in one turn of the loop: tracks may follow the reveal.
    const auto withoutTracks = [this] {
        auto seen = take();
        std::erase(seen, "track convert");
        return seen;
    };
    while (received.empty() && clock.elapsed() < 15000) app().processEvents(QEventLoop::WaitForMoreEvents, 20);
    EXPECT_EQ(withoutTracks(), std::vector<std::string>{"reveal a convert"});
    script.sample.leftButtonDown = false;
    while (observer->isPolling() && clock.elapsed() < 30000) app().processEvents(QEventLoop::WaitForMoreEvents, 20);
    EXPECT_FALSE(observer->isPolling());
    EXPECT_EQ(withoutTracks(), std::vector<std::string>{"dismiss commit"});
}

// Escape anywhere is told as it happens, drag or no drag, and also counts as a key change
// for a drag under way; nothing is told once the observer stopped.
TEST_F(DragObserverTest, EscapeAnywhereIsToldWhileListening) {
    int escapes = 0;
    observer->onEscape = [&] { ++escapes; };
    observer->start();
    wake(DragInputSource::Wake::escape);
    EXPECT_EQ(escapes, 1);
    EXPECT_TRUE(take().empty());
    dragFiles(3, {"/tmp/a.png"});
    script.sample.modifiers = shift;
    wake(DragInputSource::Wake::pointer);
    EXPECT_EQ(take(), (std::vector<std::string>{"reveal a.png convert"}));
    script.drag.reset();
    script.cancelled = true;
    wake(DragInputSource::Wake::escape);
    EXPECT_EQ(escapes, 2);
    EXPECT_EQ(take(), (std::vector<std::string>{"dismiss no-commit"})) << "sampled at once";
    auto wakeAfterStop = script.wake;
    observer->stop();
    wakeAfterStop(DragInputSource::Wake::escape);
    EXPECT_EQ(escapes, 2);
}

// A busy moment may let the observer see the button up only once every key is up too: the keys
// held at the release itself, not at the late sample, say whether the drag ended on the Portal.
TEST_F(DragObserverTest, TheKeysHeldAtTheReleaseDecideWhetherADropMayCommit) {
    observer->start();
    struct Row {
        std::optional<ModifierFlags> atRelease;
        const char* expected;
    };
    const Row rows[] = {
        {0, "dismiss no-commit"},                // the trigger went up before the button
        {capsLock | control, "dismiss no-commit"},
        {shift, "dismiss commit"},               // the trigger went up just after the button
        {option, "dismiss commit"},              // the tools key
        {std::nullopt, "dismiss commit"},        // the release not known: as the sample says
    };
    std::int64_t session = 20;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.expected);
        dragFiles(++session, {"/tmp/a.png"});
        script.atRelease.reset();
        script.sample.modifiers = shift;
        wake(DragInputSource::Wake::pointer);
        ASSERT_EQ(take(), std::vector<std::string>{"reveal a.png convert"});
        script.sample.modifiers = 0;
        script.sample.leftButtonDown = false;
        script.atRelease = row.atRelease;
        sampleNow();
        EXPECT_EQ(take(), std::vector<std::string>{row.expected});
        EXPECT_EQ(observer->triggerHeldAtRelease(),
                  row.atRelease ? std::optional<bool>(std::string(row.expected) == "dismiss commit") : std::nullopt);
        EXPECT_FALSE(observer->isPolling());
    }
}

}  // namespace
}  // namespace kolvex
