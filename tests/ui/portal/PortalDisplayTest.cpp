// SPDX-License-Identifier: GPL-3.0-or-later
// What the Portal shows once a job has ended: a Cancel that closes it while the fill finishes,
// failures that can be read, and sheets that could not be prepared.

#include "PortalModelTestSupport.h"

namespace kolvex::testing {
namespace {

using Kind = PortalPhase::Kind;

class PortalOutcomeTest : public PortalRunFixture {};

TEST_F(PortalOutcomeTest, WhileTheEndedJobsFillFinishesCancelClosesThePortal) {
    // A job that fails at once is still shown filling for the least display time (longer on a
    // loaded machine): its Cancel stays and closes the Portal; the failure is told all the same.
    for (const bool byKeyboard : {false, true}) {
        SCOPED_TRACE(byKeyboard ? "Escape" : "Cancel");
        completed.clear();
        finished = 0;
        service->scriptedResults.push_back({failure("/a.png", ConversionError::corruptedInput("/a.png"))});
        drop({"/a.png"}, 0);
        scheduler->advance(0.2);
        EXPECT_FALSE(model->phase().ended);
        scheduler->runBackground();  // the job fails; the fill finishes on its own
        ASSERT_TRUE(model->phase().is(Kind::converting));
        EXPECT_TRUE(model->phase().ended);
        ASSERT_EQ(completed.size(), 1u) << "the failure is told as soon as the job ends";
        EXPECT_EQ(completed[0].failures.size(), 1u);
        if (byKeyboard) model->dismissByKeyboard();
        else model->cancelShownConversion();
        EXPECT_EQ(finished, 1) << "the Portal closes without waiting for the fill";
        EXPECT_TRUE(model->phase().is(Kind::browsing));
        scheduler->advance(3);
        EXPECT_TRUE(model->phase().is(Kind::browsing)) << "the outcome does not come back afterwards";
        EXPECT_EQ(finished, 1);
        EXPECT_EQ(completed.size(), 1u) << "and it is not turned into a cancellation";
    }
}

TEST_F(PortalOutcomeTest, OpenDetailsKeepAFailureUpUntilThePointerLeaves) {
    service->scriptedResults.push_back({failure("/a.png", ConversionError::corruptedInput("/a.png"))});
    drop({"/a.png"}, 0);
    finishRuns();
    ASSERT_TRUE(model->phase().is(Kind::failed));
    model->setShowingDetails(true);
    scheduler->advance(10);
    EXPECT_EQ(finished, 0) << "the failure stays while its details are read";
    EXPECT_TRUE(model->showingDetails());
    model->pointerLeft();
    EXPECT_EQ(finished, 1);
    model->pointerLeft();
    EXPECT_EQ(finished, 1);

    // The next failure starts with its details closed, and lingers as usual.
    model->resetToBrowsing();
    EXPECT_FALSE(model->showingDetails());
    service->scriptedResults.push_back({failure("/b.png", ConversionError::corruptedInput("/b.png"))});
    drop({"/b.png"}, 0);
    finishRuns();
    model->pointerLeft();
    EXPECT_EQ(finished, 1) << "leaving closes only a failure held for its details";
    scheduler->advance(1.9);
    EXPECT_EQ(finished, 2);
}

TEST_F(PortalOutcomeTest, ASheetThatCannotBePreparedSaysWhy) {
    drop({"/a.png"}, 0, PortalMode::tools);
    ASSERT_TRUE(model->phase().is(Kind::needsParameters));
    model->failParameters("a.png appears to be damaged");
    ASSERT_EQ(completed.size(), 1u);
    ASSERT_EQ(completed[0].failures.size(), 1u);
    EXPECT_EQ(completed[0].failures[0].source, "/a.png");
    EXPECT_NE(completed[0].failures[0].reason.find("appears to be damaged"), std::string::npos);
    EXPECT_EQ(model->phase(), PortalPhase::failed("a.png appears to be damaged", "a.png appears to be damaged"));
    EXPECT_EQ(model->activeCount(), 0);
    scheduler->advance(1.9);
    EXPECT_EQ(finished, 1);
    model->failParameters("again");  // no longer waiting: nothing
    EXPECT_EQ(completed.size(), 1u);

    // In a walk the failure is the file's whose sheet failed, not the drop's first.
    completed.clear();
    drop({"/good.png", "/zz.png"}, 3, PortalMode::tools);
    ASSERT_TRUE(model->phase().is(Kind::needsParameters));
    model->applyParameters(ConversionOptions{}, std::filesystem::path("/good.png"));
    model->failParameters("zz.png appears to be damaged", std::filesystem::path("/zz.png"));
    ASSERT_FALSE(completed.empty());
    ASSERT_EQ(completed[0].failures.size(), 1u);
    EXPECT_EQ(completed[0].failures[0].source, "/zz.png");
    EXPECT_EQ(completed[0].failures[0].reason, "Crop: zz.png appears to be damaged");
}

}  // namespace
}  // namespace kolvex::testing
