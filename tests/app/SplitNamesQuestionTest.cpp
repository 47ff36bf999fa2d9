// SPDX-License-Identifier: GPL-3.0-or-later
// "Ask what to do" for a split, through the Portal the tray builds: its model over the bundled
// manifest and a coordinator with the engines the tray attaches. The question names every part
// the split would write before anything runs, and the parts written stay one set.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include <QTest>

#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "core/conversion/ConversionCoordinator.h"
#include "core/ffmpeg/BundledFFmpeg.h"
#include "core/format/FormatRegistry.h"
#include "core/modules/EngineModules.h"
#include "ui/portal/model/PortalModel.h"

namespace kolvex::testing {
namespace {

namespace fs = std::filesystem;

struct TrayPortal {
    explicit TrayPortal(const Preferences& settings) {
        const BundledFFmpeg tools = BundledFFmpeg::inBundle();
        const auto encoders = tools.availableEncoders();
        auto registry = std::make_shared<const FormatRegistry>(FormatRegistry::loadBundled());
        auto engines = EngineModules::inProcessEngines();
        engines.push_back(EngineModules::ffmpegEngine(tools, encoders, engines.front()));
        model = std::make_unique<PortalModel>(registry, std::make_shared<ConversionCoordinator>(*registry, engines));
        model->preferencesProvider = [settings] { return settings; };
        model->onNeedsParameters = [this](const RingTarget&, const DragPayload&) { ++sheets; };
        model->onNamesTaken = [this](const std::vector<fs::path>& names, std::function<void(bool)> answer) {
            asked.push_back(names);
            answers.push_back(std::move(answer));
        };
        model->onCompleted = [this](const RunReport& report) { reports.push_back(report); };
    }

    // Drops `file` on the tools ring's split and applies the split sheet's choice.
    void split(const fs::path& file, const ConversionOptions& choice) {
        model->beginGesture(DragPayload({file}), PortalMode::tools, PortalModel::GestureStart::handedOver);
        const auto& targets = model->targets();
        const auto chip = std::find_if(targets.begin(), targets.end(),
                                       [](const RingTarget& t) { return t.toolID == std::optional<std::string>("split"); });
        ASSERT_NE(chip, targets.end()) << "split is on the ring of a sound file";
        const double angle = model->layout().angle(static_cast<int>(chip - targets.begin()));
        model->updateCursor({150 * std::cos(angle), 150 * std::sin(angle)});
        ASSERT_TRUE(model->commit());
        ASSERT_EQ(sheets, 1);
        model->applyParameters(choice);
    }

    std::unique_ptr<PortalModel> model;
    int sheets = 0;
    std::vector<std::vector<fs::path>> asked;
    std::vector<std::function<void(bool)>> answers;
    std::vector<RunReport> reports;
};

std::vector<fs::path> listing(const fs::path& folder) {
    std::vector<fs::path> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SplitNamesQuestion, EveryPartIsAskedAboutBeforeTheSplitAndThePartsStayOneSet) {
    KOLVEX_REQUIRE_FFMPEG();
    Preferences settings;
    settings.conflictBehaviour = Preferences::ConflictBehaviour::ask;
    ConversionOptions choice = ConversionOptions::defaults();
    choice.splitPoints = {1.5, 3.0};  // three parts

    for (const bool keepBoth : {true, false}) {
        SCOPED_TRACE(keepBoth ? "keep both" : "skip");
        TempDir dir;
        const fs::path song = makeClip(dir.path() / "song.mp3", ClipSpec{.seconds = 4.0, .video = false});
        // The split of song.mp3 is written as "song 2 part N.mp3" (the source holds "song.mp3").
        const fs::path theirs = dir.write("song 2 part 2.mp3", "the user's own file");
        TrayPortal tray(settings);
        tray.split(song, choice);

        ASSERT_TRUE(QTest::qWaitFor([&] { return !tray.asked.empty(); }, 20'000)) << "no question about the parts";
        EXPECT_EQ(tray.asked.front(), std::vector<fs::path>{theirs});
        EXPECT_EQ(listing(dir.path()), (std::vector<fs::path>{"song 2 part 2.mp3", "song.mp3"})) << "nothing runs before the answer";
        tray.answers.front()(keepBoth);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !tray.reports.empty(); }, 60'000));
        ASSERT_EQ(tray.asked.size(), 1u) << "asked once";

        EXPECT_EQ(readFile(theirs), "the user's own file");
        if (keepBoth) {
            EXPECT_EQ(listing(dir.path()), (std::vector<fs::path>{"song 2 part 1 2.mp3", "song 2 part 2 2.mp3",
                                                                  "song 2 part 2.mp3", "song 2 part 3 2.mp3", "song.mp3"}))
                << "every part numbered alike";
            for (const char* part : {"song 2 part 1 2.mp3", "song 2 part 2 2.mp3", "song 2 part 3 2.mp3"})
                EXPECT_EQ(probeEntry(dir.path() / part, "stream=codec_name", "a:0"), "mp3") << part;
        } else {
            EXPECT_EQ(listing(dir.path()), (std::vector<fs::path>{"song 2 part 2.mp3", "song.mp3"})) << "no part written";
            ASSERT_EQ(tray.reports.front().skipped.size(), 1u);
            EXPECT_EQ(tray.reports.front().skipped.front().reason, "song 2 part 2.mp3 already exists");
        }
    }
}

}  // namespace
}  // namespace kolvex::testing
