// SPDX-License-Identifier: GPL-3.0-or-later
// The room a media job asks of its output's volume before it starts, through the tray's own
// wiring (module proxies, coordinator): what the job writes, not what its source holds. Every
// target and every tool the manifest offers a large media source, wherever it writes well under
// the source's size: on a volume with room for the output but not for a copy of the source, the
// job is done and its output plays; on one without room for the output, it is refused with a
// need near what it writes, the room the volume has, and the volume left as it was.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <variant>

#include "app/TrayWiring.h"
#include "core/ffmpeg/OutputNeed.h"
#include "support/ExternalTool.h"
#include "support/MediaFixtures.h"
#include "support/SmallVolume.h"
#include "support/TempDir.h"
#include "support/qt/QtEnvironments.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

// What each tool is asked, as its sheet would ask it of a 4 s file. A tool the manifest offers
// that is missing here fails the test.
std::optional<ConversionOptions> toolOptions(const std::string& tool) {
    ConversionOptions options = ConversionOptions::defaults();
    options.tool = tool;
    if (tool == "trim") {
        options.trimStart = 1.0;
        options.trimEnd = 2.5;
    } else if (tool == "split") {
        options.splitPoints = {1.5, 3.0};
    } else if (tool == "compress") {
        options.quality = 0.5;
    } else if (tool == "resize") {
        options.maxDimension = 160;
    } else if (tool == "crop") {
        options.cropRect = UnitRect{0.25, 0.25, 0.5, 0.5};
    } else if (tool != "extract-audio" && tool != "remove-audio" && tool != "strip-metadata" && tool != "normalize") {
        return std::nullopt;
    }
    return options;
}

// One job over a source: a target format or a tool.
struct Row {
    std::string name;
    std::variant<ConversionIntent, ToolIntent> intent;
};

int64_t writtenBytes(const std::vector<fs::path>& outputs) {
    int64_t total = 0;
    for (const auto& output : outputs) total += OutputNeed::inBlocks(static_cast<int64_t>(fs::file_size(output)));
    return total;
}

class RoomBeforeTheJob : public ::testing::Test {
protected:
    void SetUp() override {
        testing::sharedApplication("test-room-before-the-job");
        KOLVEX_REQUIRE_FFMPEG();
        const BundledFFmpeg tools(testing::systemFFmpeg());
        conversions = TrayWiring::withFFmpeg(FormatRegistry::loadBundled(), tools, tools.availableEncoders());
    }

    // Every target and every tool of one file the manifest offers for the source's format.
    std::vector<Row> rows(const fs::path& source) {
        const auto format = conversions.registry->formatFor(source);
        EXPECT_TRUE(format) << source;
        if (!format) return {};
        std::vector<Row> all;
        for (const auto& target : conversions.registry->supportedOutputs(format->id)) {
            // A picture out of a film states no rate: the source's size is asked for it.
            if (target.category == FormatCategory::image) continue;
            ConversionIntent intent{{source}, target.id, ConversionOptions::defaults(), std::nullopt};
            all.push_back({format->id.rawValue + " to " + target.id.rawValue, intent});
        }
        for (const auto& tool : conversions.registry->tools(format->category)) {
            if (tool.foldsInputs) continue;  // a merge writes more than any one of its files
            const auto options = toolOptions(tool.id);
            if (!options) {
                ADD_FAILURE() << "no options for the tool " << tool.id;
                continue;
            }
            all.push_back({format->id.rawValue + " " + tool.id, ToolIntent{{source}, tool.id, *options, std::nullopt}});
        }
        return all;
    }

    std::vector<ConversionResult> run(const Row& row, const fs::path& into) {
        return std::visit(
            [&](auto intent) {
                intent.outputDirectory = into;
                return conversions.coordinator->submit(intent);
            },
            row.intent);
    }

    // The engine the row's job is planned for.
    EngineID engine(const Row& row) const {
        const auto jobs = std::visit([&](const auto& intent) { return conversions.coordinator->plan(intent); }, row.intent);
        return jobs.empty() ? EngineID("") : jobs.front().capability.engine;
    }

    // Runs every row of `source` that the media engine carries out where there is room, then
    // where there is room for its output only, and where there is not. (The in-process engines
    // project nothing: the source's size is asked of them.)
    void judge(const fs::path& source) {
        const int64_t sourceBytes = static_cast<int64_t>(fs::file_size(source));
        // Room for the output of a job that writes under half the source, never for a copy of
        // the source (what asking the source's size refused).
        const int64_t roomForOutput = sourceBytes / 4096 * 4096 - 4096;
        int judged = 0;
        for (const auto& row : rows(source)) {
            SCOPED_TRACE(row.name);
            if (engine(row) != engine_ids::ffmpeg) continue;
            const fs::path roomy = dir / row.name;
            fs::create_directories(roomy);
            const auto made = run(row, roomy);
            ASSERT_EQ(made.size(), 1u);
            ASSERT_FALSE(made.front().error) << made.front().error->shortDescription();
            const int64_t written = writtenBytes(made.front().outputs);
            // A job that writes about what its source holds is asked about that much, whoever asks.
            if (written * 2 > roomForOutput - (64 << 10)) continue;
            ++judged;
            {
                testing::SmallVolume volume(roomForOutput);
                if (!volume.available()) GTEST_SKIP() << volume.whyNot();
                const auto results = run(row, volume.path());
                ASSERT_EQ(results.size(), 1u);
                ASSERT_FALSE(results.front().error)
                    << results.front().error->shortDescription() << " (writes " << written << " bytes)";
                for (const auto& output : results.front().outputs) {
                    EXPECT_TRUE(testing::programOutput(testing::systemFFprobe(), {"-v", "error", "-show_streams", output.string()}))
                        << output << " is not read";
                    EXPECT_TRUE(testing::programOutput(testing::systemFFmpeg(),
                                                       {"-v", "error", "-xerror", "-i", output.string(), "-f", "null", "-"}))
                        << output << " does not decode";
                }
            }
            testing::SmallVolume volume(std::max<int64_t>(8192, written / 2 / 4096 * 4096));
            const auto results = run(row, volume.path());
            ASSERT_EQ(results.size(), 1u);
            ASSERT_TRUE(results.front().error) << "wrote " << results.front().outputs.size() << " files";
            const ConversionError& error = *results.front().error;
            ASSERT_EQ(error.kind(), ConversionError::Kind::insufficientDiskSpace) << error.shortDescription();
            EXPECT_GE(error.required(), written) << error.shortDescription();
            EXPECT_LE(error.required(), written * 2) << error.shortDescription();
            EXPECT_NEAR(static_cast<double>(error.available()), static_cast<double>(testing::freeBytes(volume.path())),
                        64 << 10)
                << error.shortDescription();
            for (const auto& entry : fs::recursive_directory_iterator(volume.path()))
                ADD_FAILURE() << entry.path() << " left behind";
        }
        EXPECT_GT(judged, 0) << "no job of " << source << " writes under half of it";
    }

    TrayWiring::Conversions conversions;
    testing::TempDir dir;
};

// A sound with as much in it as music: a lossless encoder keeps most of its bytes.
constexpr const char* kSound = "anoisesrc=color=pink:amplitude=0.3:duration=4:sample_rate=48000";

// A film whose pictures take far more than any re-encode of them: MJPEG pictures and PCM sound.
TEST_F(RoomBeforeTheJob, AFilmAsksWhatEachJobWrites) {
    for (const std::string container : {"avi", "mkv"}) {
        const fs::path source = dir / ("film." + container);
        testing::makeMedia(source, {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=4", "-f", "lavfi",
                                    "-i", kSound, "-ac", "2", "-c:v", "mjpeg", "-q:v", "2", "-c:a", "pcm_s16le",
                                    "-shortest"});
        judge(source);
    }
}

// A sound file of PCM samples.
TEST_F(RoomBeforeTheJob, ASoundAsksWhatEachJobWrites) {
    const fs::path source = dir / "sound.wav";
    testing::makeMedia(source, {"-f", "lavfi", "-i", kSound, "-ac", "2", "-c:a", "pcm_s16le"});
    judge(source);
}

}  // namespace
}  // namespace kolvex
