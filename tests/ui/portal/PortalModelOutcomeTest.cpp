// What the Portal shows once a job has ended: no Cancel for it, failures that can be read, and
// sheets that could not be prepared.

#include "PortalModelTestSupport.h"

namespace kolvex::testing {
namespace {

using Kind = PortalPhase::Kind;

class PortalOutcomeTest : public PortalRunFixture {};

TEST_F(PortalOutcomeTest, OnceTheJobEndsNothingIsLeftToCancel) {
    service->scriptedResults.push_back({failure("/a.png", ConversionError::corruptedInput("/a.png"))});
    drop({"/a.png"}, 0);
    scheduler->advance(0.2);
    EXPECT_FALSE(model->phase().ended) << "a running job can be cancelled";
    scheduler->runBackground();  // the job fails; the fill finishes on its own
    ASSERT_TRUE(model->phase().is(Kind::converting));
    EXPECT_TRUE(model->phase().ended);
    model->cancelShownConversion();  // a late click on where Cancel was
    model->dismissByKeyboard();
    EXPECT_TRUE(model->phase().is(Kind::converting)) << "the ended job is not turned into a cancellation";
    EXPECT_EQ(finished, 0);
    scheduler->advance(0.7);
    EXPECT_EQ(model->phase(), PortalPhase::failed("a.png appears to be damaged", "a.png appears to be damaged"));
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(completed[0].failures.size(), 1u);
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
}

}  // namespace
}  // namespace kolvex::testing
