// SPDX-License-Identifier: GPL-3.0-or-later
// Whether a drop on the Portal converts, by the keys the drag observer saw held as the button
// went up; headless, on the hand-moved clock.

#include "PortalModelTestSupport.h"
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

// A file dragged onto the Portal opened from the keyboard needs no trigger: nothing is asked.
TEST_F(PortalDropDecisionTest, TheKeyboardPortalTakesADropWithoutTheTrigger) {
    panel->present(DragPayload({"/tmp/a.png"}), PortalMode::convert);
    heldAtRelease = false;
    EXPECT_TRUE(panel->takesDrop());
    EXPECT_EQ(asked, 0);
}

}  // namespace
}  // namespace kolvex::testing
