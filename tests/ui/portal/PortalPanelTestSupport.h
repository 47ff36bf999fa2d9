// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "PortalModelTestSupport.h"
#include "ui/portal/PortalPanel.h"

namespace kolvex::testing {

// One 1920 × 1080 screen (y upwards) with a 40-point panel at the bottom.
class PortalPanelTest : public PortalModelTest {
protected:
    void SetUp() override {
        PortalModelTest::SetUp();
        panel = std::make_unique<PortalPanel>(*model, panelEnvironment());
    }
    PortalPanel::Environment panelEnvironment() {
        PortalPanel::Environment env;
        env.scheduler = scheduler;
        env.reduceMotion = [this] { return reduce; };
        env.rootHeight = [this] { return rootHeight; };
        env.screens = [this] { return screens; };
        env.mainScreen = [this]() -> std::optional<PortalScreen> {
            if (screens.empty()) return std::nullopt;
            return screens.front();
        };
        env.nudgePointer = [this](int dx, int dy) { nudges.emplace_back(dx, dy); };
        env.pointer = [this] { return pointer; };
        return env;
    }
    void TearDown() override { panel.reset(); }

    double rootHeight = 1080;
    std::vector<PortalScreen> screens{{Rect{{0, 0}, {1920, 1080}}, Rect{{0, 40}, {1920, 1040}}}};
    std::vector<std::pair<int, int>> nudges;
    std::optional<Point> pointer;  // root pixels, y down; none: the window system cannot tell
    std::unique_ptr<PortalPanel> panel;
};

}  // namespace kolvex::testing
