// SPDX-License-Identifier: GPL-3.0-or-later
// Where the keyboard Portal opens when the main screen is not a usable one: with no active
// monitor the window system still reports a main screen, of no size, at the origin.

#include <optional>
#include <vector>

#include "PortalModelTestSupport.h"
#include "ui/portal/PortalPanel.h"

namespace kolvex::testing {
namespace {

class PortalKeyboardPlacement : public PortalModelTest {
protected:
    std::unique_ptr<PortalPanel> panelOver(std::vector<PortalScreen> screens, std::optional<PortalScreen> main) {
        PortalPanel::Environment env;
        env.scheduler = scheduler;
        env.reduceMotion = [] { return true; };
        env.rootHeight = [] { return 1080.0; };
        env.screens = [screens] { return screens; };
        env.mainScreen = [main] { return main; };
        env.nudgePointer = [](int, int) {};
        env.compositing = [] { return true; };
        return std::make_unique<PortalPanel>(*model, env);
    }
    static bool onScreen(const Rect& frame, const Rect& screen) {
        return frame.minX() >= screen.minX() && frame.maxX() <= screen.maxX() && frame.minY() >= screen.minY() &&
               frame.maxY() <= screen.maxY();
    }
};

TEST_F(PortalKeyboardPlacement, OpensOnAScreenWithoutAnActiveMonitor) {
    const PortalScreen none{Rect{{0, 0}, {0, 0}}, Rect{{0, 0}, {0, 0}}};
    const PortalScreen real{Rect{{0, 0}, {1920, 1080}}, Rect{{0, 40}, {1920, 1040}}};
    struct Case {
        const char* what;
        std::vector<PortalScreen> screens;
        std::optional<PortalScreen> main;
        Rect expectedWithin;
    };
    const std::vector<Case> cases{
        {"a main screen of no size beside a real one", {none, real}, none, real.visibleFrame},
        {"no main screen at all", {real}, std::nullopt, real.visibleFrame},
        {"only a screen of no size", {none}, none, Rect{{0, 0}, {1920, 1080}}},
        {"the real main screen", {real}, real, real.visibleFrame},
    };
    for (const Case& c : cases) {
        auto panel = panelOver(c.screens, c.main);
        panel->present(DragPayload({"/tmp/a.png"}), PortalMode::convert);
        EXPECT_TRUE(onScreen(panel->frame(), c.expectedWithin))
            << c.what << ": at " << panel->frame().origin.x << "," << panel->frame().origin.y;
        EXPECT_GE(panel->anchor().x, 0) << c.what;
        EXPECT_GE(panel->anchor().y, 0) << c.what;
        panel->orderOut();
        model->setRevealed(false);
    }
}

}  // namespace
}  // namespace kolvex::testing
