// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "ui/sheets/BatchRun.h"

namespace kolvex {
namespace {

const std::vector<std::filesystem::path> kThree{"/in/a.png", "/in/b.png", "/in/c.png"};

ConversionOptions withQuality(double q) {
    ConversionOptions options;
    options.quality = q;
    return options;
}

TEST(BatchParameterRunTest, OneFileWalkFinishesAtOnce) {
    BatchParameterRun run({"/in/a.png"}, true);
    EXPECT_EQ(run.position(), "File 1 of 1");
    EXPECT_EQ(run.advanceLabel("Crop"), "Crop");
    EXPECT_TRUE(run.isLast());
    EXPECT_FALSE(run.isComplete());
    EXPECT_EQ(run.current(), std::filesystem::path("/in/a.png"));
}

TEST(BatchParameterRunTest, CollectsPendingPairsInDropOrderWhenNotStartingAsItGoes) {
    BatchParameterRun run(kThree, false);
    EXPECT_FALSE(run.isLast());
    EXPECT_EQ(run.advanceLabel("Crop"), "Next");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(run.position(), "File " + std::to_string(i + 1) + " of 3");
        EXPECT_FALSE(run.accept(withQuality(0.1 * (i + 1))).has_value());
    }
    EXPECT_TRUE(run.isComplete());
    EXPECT_EQ(run.current(), std::nullopt);
    EXPECT_EQ(run.position(), "File 3 of 3");
    EXPECT_EQ(run.advanceLabel("Crop"), "Next");
    const auto pending = run.pending();
    ASSERT_EQ(pending.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(pending[i].first, kThree[i]);
        EXPECT_DOUBLE_EQ(*pending[i].second.quality, 0.1 * static_cast<double>(i + 1));
    }
    EXPECT_TRUE(run.alreadyStarted().empty());

    const auto before = run;
    EXPECT_FALSE(run.accept(withQuality(0.9)).has_value());
    EXPECT_EQ(run.collected().size(), 3u);
    EXPECT_EQ(run.index(), before.index());
}

TEST(BatchParameterRunTest, HandsEachPairBackWhenStartingAsItGoes) {
    BatchParameterRun run(kThree, true);
    for (size_t i = 0; i < 3; ++i) {
        auto pair = run.accept(withQuality(0.5));
        ASSERT_TRUE(pair.has_value());
        EXPECT_EQ(pair->first, kThree[i]);
    }
    EXPECT_TRUE(run.pending().empty());
    EXPECT_EQ(run.alreadyStarted(), kThree);
}

TEST(BatchParameterRunTest, EachFileKeepsTheChoiceMadeWhenItWasAccepted) {
    // Started, then held back, then started again: nothing converts twice, nothing is left out.
    BatchParameterRun run(kThree, true);
    EXPECT_TRUE(run.accept(withQuality(0.1)).has_value());
    run.setStartsImmediately(false);
    EXPECT_FALSE(run.accept(withQuality(0.2)).has_value());
    run.setStartsImmediately(true);
    EXPECT_TRUE(run.accept(withQuality(0.3)).has_value());
    ASSERT_EQ(run.pending().size(), 1u);
    EXPECT_EQ(run.pending().front().first, kThree[1]);
    EXPECT_EQ(run.alreadyStarted(), (std::vector<std::filesystem::path>{kThree[0], kThree[2]}));
}

TEST(BatchParameterRunTest, ASkippedFileIsNeitherStartedNorPending) {
    for (const bool startsImmediately : {true, false}) {
        SCOPED_TRACE(startsImmediately ? "starting as it goes" : "at the end");
        BatchParameterRun run(kThree, startsImmediately);
        run.accept(withQuality(0.1));
        run.skip();
        EXPECT_EQ(run.current(), kThree[2]);
        EXPECT_TRUE(run.isLast());
        EXPECT_EQ(run.position(), "File 3 of 3");
        run.accept(withQuality(0.3));
        EXPECT_TRUE(run.isComplete());
        run.skip();  // over: nothing changes
        EXPECT_EQ(run.skipped(), (std::vector<std::filesystem::path>{kThree[1]}));
        std::vector<std::filesystem::path> handed = run.alreadyStarted();
        for (const auto& [url, options] : run.pending()) handed.push_back(url);
        EXPECT_EQ(handed, (std::vector<std::filesystem::path>{kThree[0], kThree[2]}));
        EXPECT_NE(run, BatchParameterRun(kThree, startsImmediately));
    }
}

TEST(BatchParameterRunTest, EqualityIgnoresTheCollectedOptions) {
    BatchParameterRun a(kThree, false), b(kThree, false);
    a.accept(withQuality(0.2));
    b.accept(withQuality(0.8));
    EXPECT_EQ(a, b);
    b.accept(withQuality(0.8));
    EXPECT_NE(a, b);
    EXPECT_NE(BatchParameterRun(kThree, true), BatchParameterRun(kThree, false));
}

TEST(BatchPromptTest, ConfirmTitleFollowsPromptAndChoice) {
    struct Case {
        std::optional<BatchPrompt> prompt;
        bool individually;
        std::string expected;
    };
    const std::vector<Case> cases{
        {std::nullopt, false, "Resize"},
        {BatchPrompt{1, std::nullopt, true, "Resize"}, true, "Resize"},
        {BatchPrompt{4, std::nullopt, true, "Resize"}, false, "Resize 4 files"},
        {BatchPrompt{4, std::nullopt, true, "Resize"}, true, "Next"},
        {BatchPrompt{4, "File 2 of 4", false, "Next"}, false, "Next"},
        {BatchPrompt{4, "File 4 of 4", false, "Resize"}, true, "Resize"},
    };
    for (const auto& c : cases) {
        BatchChoice choice;
        choice.setEachIndividually = c.individually;
        EXPECT_EQ(advanceTitle("Resize", c.prompt, choice), c.expected);
    }
    EXPECT_FALSE(showsBatchOptions(BatchPrompt{1, std::nullopt, false, "Crop"}));
    EXPECT_TRUE(showsBatchOptions(BatchPrompt{2, std::nullopt, false, "Crop"}));
    EXPECT_FALSE(showsBatchOptions(std::nullopt));
    EXPECT_EQ(BatchChoice{}, (BatchChoice{false, true}));
}

}  // namespace
}  // namespace kolvex
