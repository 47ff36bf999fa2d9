// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "app/ParameterWait.h"
#include "core/format/FormatRegistry.h"
#include "ui/portal/model/PortalModel.h"

namespace kolvex {
namespace {

// A Portal model over the bundled manifest, asked for the settings of Resize.
struct WaitingPortal {
    PortalModel model{std::make_shared<const FormatRegistry>(FormatRegistry::loadBundled()),
                      std::shared_ptr<PortalConversionService>{}, PortalModel::Environment{}};
    int withdrawn = 0;
    ParameterWait wait{model, [this] { ++withdrawn; }};

    bool askForResize() {
        model.beginGesture(DragPayload({"/tmp/photo.png"}), PortalMode::tools);
        model.selectFirstTarget();
        for (int i = 0; i < 8 && model.selectedTarget() && model.selectedTarget()->toolID != "resize"; ++i)
            model.moveSelection(1);
        return model.commit() && model.phase().is(PortalPhase::Kind::needsParameters);
    }
};

TEST(ParameterWait, ReportsOnlyWhenThePortalStopsWaitingOnItsOwn) {
    WaitingPortal portal;
    ASSERT_TRUE(portal.askForResize());
    portal.wait.answering([&] { portal.model.discardParameters(); });
    EXPECT_EQ(portal.withdrawn, 0) << "the shell's own answer";

    ASSERT_TRUE(portal.askForResize());
    portal.model.dismissByKeyboard();  // Escape on the Portal
    EXPECT_EQ(portal.withdrawn, 1);
    EXPECT_FALSE(portal.model.phase().is(PortalPhase::Kind::needsParameters));
}

}  // namespace
}  // namespace kolvex
