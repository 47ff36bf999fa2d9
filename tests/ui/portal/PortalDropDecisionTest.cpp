// SPDX-License-Identifier: GPL-3.0-or-later
// Whether a drop on the Portal converts, by the keys the drag observer saw held as the button
// went up; headless, on the hand-moved clock.

#include <QDragEnterEvent>
#include <QMimeData>
#include <QUrl>

#include "PortalModelTestSupport.h"
#include "ui/portal/PortalDropView.h"
#include "ui/portal/PortalPanel.h"

namespace kolvex::testing {
namespace {

class PortalDropDecisionTest : public PortalModelTest {
protected:
    void SetUp() override {
        PortalModelTest::SetUp();
        PortalPanel::Environment env;
        env.scheduler = scheduler;
        env.reduceMotion = [] { return false; };
        env.rootHeight = [] { return 1080.0; };
        const PortalScreen screen{Rect{{0, 0}, {1920, 1080}}, Rect{{0, 40}, {1920, 1040}}};
        env.screens = [screen] { return std::vector<PortalScreen>{screen}; };
        env.mainScreen = [screen]() -> std::optional<PortalScreen> { return screen; };
        env.nudgePointer = [](int, int) {};
        env.pointer = []() -> std::optional<Point> { return std::nullopt; };
        panel = std::make_unique<PortalPanel>(*model, env);
        panel->setTriggerAtRelease([this] {
            ++asked;
            return heldAtRelease;
        });
    }
    void TearDown() override { panel.reset(); }

    // The source offers its drag to the Portal's window, or leaves it, as the window system says.
    void enter() {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile("/tmp/a.png")});
        QDragEnterEvent event(QPoint(240, 240), Qt::CopyAction, &data, Qt::LeftButton, Qt::ShiftModifier);
        QCoreApplication::sendEvent(panel->dropView(), &event);
    }
    void leave() {
        QDragLeaveEvent event;
        QCoreApplication::sendEvent(panel->dropView(), &event);
    }

    std::optional<bool> heldAtRelease;
    int asked = 0;
    std::unique_ptr<PortalPanel> panel;
};

TEST_F(PortalDropDecisionTest, ADropTakesTheKeysHeldAsTheButtonWentUp) {
    LogCapture log;
    struct Row {
        std::optional<bool> heldAtRelease;
        bool owed;  // the observer's dismiss came before the drop
        bool takes;
    };
    const Row rows[] = {
        {false, false, false}, {false, true, false}, {true, false, true},
        {true, true, true},    {std::nullopt, false, true}, {std::nullopt, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "held " << (row.heldAtRelease ? int(*row.heldAtRelease) : -1) << " owed "
                                          << row.owed);
        model->resetToBrowsing();
        panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
        model->setCursorInside(true);
        // Only a dismiss that may commit can leave the drop owed; the observer's word on the
        // release comes with it.
        if (row.owed) panel->dismiss(true);
        heldAtRelease = row.heldAtRelease;
        EXPECT_EQ(panel->takesDrop(), row.takes);
        scheduler->advance(PortalPanel::kDropWait + 1);
    }
    EXPECT_TRUE(log.contains("interaction", "DROP refused: the button was let go without the trigger key"));
}

// A drag let go with the trigger held whose source never drops (it withdrew at the release, as
// a source that has not yet heard the Portal accept does, even when its offer reached us only
// after the release; or it said nothing at all) converts
// its files to the chip it was let go on; one let go off every chip converts nothing. A
// withdrawn drop is known at once; a silent one is waited for. A drop that came and was turned
// down is never converted all the same.
TEST_F(PortalDropDecisionTest, ADragWhoseSourceNeverDropsConvertsToTheChipItWasLetGoOn) {
    enum class Source {
        leftBeforeTheRelease,
        leftAfterTheRelease,
        offeredAfterTheRelease,
        silent,
        droppedAndTurnedDown
    };
    const char* const names[] = {"left before the release", "left after the release", "offered after the release",
                                 "silent", "dropped and turned down"};
    struct Where {
        const char* name;
        Point offset;
        bool onChip;
    };
    const Where places[] = {
        {"on a chip", {150, 0}, true}, {"in the centre", {0, 0}, false}, {"off the disc", {400, 0}, false}};
    for (const Source source :
         {Source::leftBeforeTheRelease, Source::leftAfterTheRelease, Source::offeredAfterTheRelease, Source::silent,
          Source::droppedAndTurnedDown}) {
        for (const Where& where : places) {
            SCOPED_TRACE(::testing::Message()
                         << "source " << names[static_cast<int>(source)] << ", let go " << where.name);
            LogCapture log;
            model->resetToBrowsing();
            panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
            if (source != Source::offeredAfterTheRelease) enter();
            panel->track({960 + where.offset.x, 540 + where.offset.y}, PortalMode::convert);
            if (source == Source::leftBeforeTheRelease) leave();
            heldAtRelease = true;
            if (source == Source::droppedAndTurnedDown) {
                EXPECT_TRUE(panel->takesDrop());  // and nothing committed
            }
            panel->dismiss(true);
            if (source == Source::leftAfterTheRelease) leave();
            if (source == Source::offeredAfterTheRelease) {
                // Both reach us after the drag observer saw the button go up.
                enter();
                leave();
            }
            scheduler->advance(0.5);
            const bool converts = where.onChip && source != Source::droppedAndTurnedDown;
            EXPECT_EQ(model->phase().is(PortalPhase::Kind::converting), converts && source != Source::silent);
            if (source == Source::silent) {
                EXPECT_TRUE(model->isRevealed()) << "the Portal stopped waiting for an owed drop";
                scheduler->advance(PortalPanel::kDropWait);
                EXPECT_EQ(model->phase().is(PortalPhase::Kind::converting), where.onChip);
            }
            scheduler->advance(PortalPanel::kDropWait);
            EXPECT_EQ(model->phase().is(PortalPhase::Kind::converting), converts);
            EXPECT_EQ(log.contains("interaction", "its source sent no drop"), converts);
            if (!converts) {
                EXPECT_FALSE(model->isRevealed());
            }
            scheduler->advance(1);
        }
    }
}

// A file dragged onto the Portal opened from the keyboard needs no trigger: nothing is asked.
TEST_F(PortalDropDecisionTest, TheKeyboardPortalTakesADropWithoutTheTrigger) {
    panel->present(DragPayload({"/tmp/a.png"}), PortalMode::convert);
    heldAtRelease = false;
    EXPECT_TRUE(panel->takesDrop());
    EXPECT_EQ(asked, 0);
}

}  // namespace
}  // namespace kolvex::testing
