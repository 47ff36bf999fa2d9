// SPDX-License-Identifier: GPL-3.0-or-later
// The request a run makes of the conversion service: built from the settings and the answers.

#include <gtest/gtest.h>

#include "PortalFakes.h"
#include "ui/portal/model/PortalRequest.h"

namespace kolvex::testing {
namespace {

namespace fs = std::filesystem;

TEST(PortalRequest, EachTargetKindBuildsItsRequest) {
    Preferences prefs;
    prefs.parallelLimit = 3;
    const std::vector<fs::path> urls{"/p/a.png", "/p/b.png"};

    const auto format = PortalRequest::build(formatTarget("jpg", "JPEG"), urls, prefs, FormatCategory::image,
                                             std::nullopt, {});
    const auto* intent = std::get_if<ConversionIntent>(&format.what);
    ASSERT_TRUE(intent);
    EXPECT_EQ(intent->urls, urls);
    EXPECT_EQ(intent->target, FormatID("jpg"));
    EXPECT_EQ(intent->rules.parallelLimit, 3);
    EXPECT_FALSE(intent->outputDirectory) << "beside the sources";

    ConversionOptions sheet;
    sheet.maxDimension = 640;
    const auto tool = PortalRequest::build(toolTarget("resize", "Resize"), urls, prefs, FormatCategory::image, sheet, {});
    const auto* toolIntent = std::get_if<ToolIntent>(&tool.what);
    ASSERT_TRUE(toolIntent);
    EXPECT_EQ(toolIntent->tool, "resize");
    EXPECT_EQ(toolIntent->options.maxDimension, 640);

    const auto extract = PortalRequest::build(toolTarget("extract", "Extract"), urls, prefs, std::nullopt,
                                              std::nullopt, {});
    EXPECT_EQ(std::get<ToolIntent>(extract.what).options.tool, "extract");

    RingTarget neither;
    neither.id = "format.soon";
    neither.label = "Soon";
    const auto notReady = PortalRequest::build(neither, urls, prefs, std::nullopt, std::nullopt, {});
    ASSERT_TRUE(notReady.notReady());
    EXPECT_EQ(*notReady.notReady(), "Soon isn't ready yet");
}

TEST(PortalRequest, TheAnswersDecideTheFolderAndTheTakenNames) {
    struct Row {
        const char* name;
        Preferences::OutputLocation location;
        Preferences::ConflictBehaviour conflict;
        RunAnswers answers;
        std::optional<fs::path> folder;
        std::optional<bool> keepsBoth;  // none: the request asks nothing about taken names
    };
    const std::vector<Row> rows{
        {"beside the sources, numbered", Preferences::OutputLocation::sameAsSource,
         Preferences::ConflictBehaviour::rename, {}, std::nullopt, std::nullopt},
        {"a specific folder", Preferences::OutputLocation::custom, Preferences::ConflictBehaviour::rename, {},
         fs::path("/custom"), std::nullopt},
        {"the folder chosen", Preferences::OutputLocation::ask, Preferences::ConflictBehaviour::rename,
         {fs::path("/chosen"), std::nullopt}, fs::path("/chosen"), std::nullopt},
        {"skip answered", Preferences::OutputLocation::sameAsSource, Preferences::ConflictBehaviour::ask,
         {std::nullopt, false}, std::nullopt, false},
        {"nothing was taken when asked", Preferences::OutputLocation::sameAsSource,
         Preferences::ConflictBehaviour::ask, {}, std::nullopt, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Preferences prefs;
        prefs.outputLocation = row.location;
        prefs.customOutputPath = "/custom";
        prefs.conflictBehaviour = row.conflict;
        const auto request = PortalRequest::build(formatTarget("jpg", "JPEG"), {"/p/a.png"}, prefs,
                                                  FormatCategory::image, std::nullopt, row.answers);
        const auto& intent = std::get<ConversionIntent>(request.what);
        EXPECT_EQ(intent.outputDirectory, row.folder);
        ASSERT_EQ(static_cast<bool>(intent.rules.keepBothWhenTaken), row.keepsBoth.has_value());
        if (row.keepsBoth) {
            EXPECT_EQ(intent.rules.keepBothWhenTaken({"/p/a.jpg"}), *row.keepsBoth);
        }
    }
}

}  // namespace
}  // namespace kolvex::testing
