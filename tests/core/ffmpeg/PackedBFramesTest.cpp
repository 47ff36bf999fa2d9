// SPDX-License-Identifier: GPL-3.0-or-later
// MPEG-4 pictures packed as DivX and Xvid pack them in AVI, through every tool that copies
// pictures, into every container the manifest gives a video source that takes them, alone and
// joined with pictures that are not packed: every picture of the span once, in order, one picture
// apart, decoded without complaint. Judged by ffmpeg's decoders.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/ffmpeg/ContainerCompatibility.h"
#include "core/ffmpeg/FFmpegEngine.h"
#include "core/ffmpeg/OutputNeed.h"
#include "core/format/FormatRegistry.h"
#include "core/services/Cancellation.h"
#include "core/services/FileManagerService.h"
#include "JoinMarks.h"
#include "MediaReport.h"
#include "PackedBFrames.h"
#include "support/MediaFixtures.h"
#include "support/SmallVolume.h"
#include "support/TempDir.h"
#include "TestFormats.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::JoinMarks;

constexpr int kPictures = 30;  // 1.2 s at 25 a second
constexpr double kPicture = 1.0 / 25;

struct Row {
    std::string tool;
    std::string to;
    bool sound = false;
    std::vector<bool> packed;  // each input's pictures, in order
    // Where a cut starts, in pictures: where a packed file's keyframe chunk lies (the picture
    // before the keyframe's, which it carries) and at the keyframe's own picture.
    int cutAt = 0;
    std::string name() const {
        std::string inputs;
        for (const bool each : packed) inputs += each ? "packed " : "plain ";
        return fmt::format("{} {}{}into {}{}", tool, inputs, sound ? "with MP3 " : "", to,
                           cutAt ? fmt::format(" from picture {}", cutAt) : "");
    }
};

// The tools the manifest gives an AVI that may copy its pictures, each into every video container
// that takes MPEG-4 pictures, with MP3 sound as Xvid files carry; merges of packed and plain inputs in
// every order, with sound and without.
std::vector<Row> rows() {
    const FormatRegistry registry = FormatRegistry::loadBundled();
    std::vector<Row> all;
    for (const auto& tool : registry.manifest().tools) {
        if (!FFmpegEngine::supportedTools().contains(tool.id) || !testing::mediaSourcesOf(tool.id).contains("avi")) continue;
        for (const auto& format : registry.manifest().formats) {
            if (format.category != FormatCategory::video || !ContainerCompatibility::accepts("mpeg4", format.id)) continue;
            ConversionOptions options = ConversionOptions::defaults();
            options.tool = tool.id;
            const auto job = testing::mediaJob("in.avi", "out", "avi", format.id.rawValue, options);
            if (!FFmpegEngine::mayCopyStreams(job) || (tool.outputFormat && *tool.outputFormat != format.id)) continue;
            const std::vector<std::vector<bool>> inputs =
                tool.foldsInputs ? std::vector<std::vector<bool>>{{true, true}, {true, false}, {false, true}}
                                 : std::vector<std::vector<bool>>{{true}};
            const bool cuts = tool.id == "trim" || tool.id == "split";
            // Joined without sound, pictures are joined alone; with it, beside the sound re-encoded.
            for (const auto& packed : inputs)
                for (const bool sound : tool.foldsInputs ? std::vector<bool>{false, true} : std::vector<bool>{true})
                    for (const int cutAt : cuts ? std::vector<int>{11, 12} : std::vector<int>{0})
                        all.push_back({tool.id, format.id.rawValue, sound, packed, cutAt});
        }
    }
    return all;
}

// The times ffmpeg shows each picture at, as it decodes them.
std::vector<double> shownTimes(const fs::path& file) {
    std::istringstream shown(testing::probeEntry(file, "frame=best_effort_timestamp_time", "v:0"));
    std::vector<double> times;
    for (std::string line; std::getline(shown, line);)
        if (!line.empty() && line != "N/A") times.push_back(std::stod(line));
    return times;
}

std::vector<int> numbersFrom(int first, int end) {
    std::vector<int> numbers(static_cast<size_t>(std::max(0, end - first)));
    std::iota(numbers.begin(), numbers.end(), first);
    return numbers;
}

class PackedBFrames : public ::testing::Test {
protected:
    void SetUp() override { KOLVEX_REQUIRE_FFMPEG(); }

    fs::path source(bool packed, bool sound) { return testing::numberedAvi(m_dir.path(), packed, sound); }

    testing::TempDir m_dir, m_out;
};

TEST_F(PackedBFrames, EveryCopyOutKeepsEveryPictureOnce) {
    const auto all = rows();
    // A row missing from the manifest's tools or formats fails here.
    for (const std::string tool : {"trim", "split", "merge"})
        EXPECT_TRUE(std::any_of(all.begin(), all.end(), [&](const Row& r) { return r.tool == tool && r.to != "avi"; })) << tool;
    ASSERT_EQ(JoinMarks::pictureNumbers(source(true, true)), numbersFrom(0, kPictures)) << "ffmpeg's own reading";
    const FFmpegEngine engine(BundledFFmpeg::inBundle(), nullptr, {});
    for (const Row& row : all) {
        SCOPED_TRACE(row.name());
        ConversionOptions options = ConversionOptions::defaults();
        options.tool = row.tool;
        options.outputFormat = FormatID(row.to);
        // What each output holds, by the pictures' numbers.
        std::vector<std::vector<int>> expected;
        if (row.tool == "trim") {
            options.trimStart = row.cutAt * kPicture;
            options.trimEnd = 25 * kPicture;
            expected = {numbersFrom(row.cutAt, 25)};
        } else if (row.tool == "split") {
            options.splitPoints = {row.cutAt * kPicture, (row.cutAt + 12) * kPicture};
            expected = {numbersFrom(0, row.cutAt), numbersFrom(row.cutAt, row.cutAt + 12),
                        numbersFrom(row.cutAt + 12, kPictures)};
        } else if (row.tool == "merge") {
            std::vector<int> joined;
            for (size_t i = 0; i < row.packed.size(); ++i) {
                const auto each = numbersFrom(0, kPictures);
                joined.insert(joined.end(), each.begin(), each.end());
            }
            expected = {joined};
        } else {
            expected = {numbersFrom(0, kPictures)};
        }
        std::vector<fs::path> inputs;
        for (const bool packed : row.packed) inputs.push_back(source(packed, row.sound));
        auto job = testing::mediaJob(inputs.front(), m_out / ("out." + row.to), "avi", row.to, options);
        job.additionalSources.assign(inputs.begin() + 1, inputs.end());
        const auto made = testing::outcomeOf(engine, job);
        if (!made) continue;
        const ConversionOutcome& outcome = *made;
        ASSERT_EQ(outcome.outputs.size(), expected.size());
        for (size_t k = 0; k < expected.size(); ++k) {
            const fs::path& out = outcome.outputs[k];
            SCOPED_TRACE(fmt::format("output {} ({})", k + 1, outcome.usedPassthrough ? "copied" : "re-encoded"));
            EXPECT_EQ(testing::MediaReport::of(out).decodeErrors, "");
            EXPECT_EQ(JoinMarks::pictureNumbers(out), expected[k]);
            const auto times = shownTimes(out);
            EXPECT_EQ(times.size(), expected[k].size());
            for (size_t i = 1; i < times.size(); ++i)
                EXPECT_NEAR(times[i] - times[i - 1], kPicture, 1e-3) << "picture " << i;
        }
        // Nothing beside the outputs: no unpacked copy of a source left behind.
        for (const auto& entry : fs::directory_iterator(m_out.path())) {
            EXPECT_NE(std::find(outcome.outputs.begin(), outcome.outputs.end(), entry.path()), outcome.outputs.end())
                << entry.path() << " left behind";
            fs::remove(entry.path());
        }
    }
}

// A job stopped while its unpacked copy is there leaves nothing behind.
TEST_F(PackedBFrames, AStopLeavesNoUnpackedCopy) {
    const FFmpegEngine engine(BundledFFmpeg::inBundle(), nullptr, {});
    std::stop_source stopping;
    bool copyWasThere = false;
    const auto progress = [&](double) {
        for (const auto& entry : fs::directory_iterator(m_out.path()))
            if (entry.path().extension() == ".avi") copyWasThere = stopping.request_stop() || copyWasThere;
    };
    const auto job = testing::mediaJob(source(true, true), m_out / "out.mp4", "avi", "mp4");
    EXPECT_THROW(engine.convert(job, progress, stopping.get_token()), OperationCancelled);
    EXPECT_TRUE(copyWasThere);
    EXPECT_TRUE(fs::is_empty(m_out.path()));
}

// The unpacked copy a packed AVI is copied from takes room on a volume too: where the disk fills,
// the need is what the job writes, that copy and the output, and nothing of either stays — the
// scratch folder on the same volume, or not.
TEST_F(PackedBFrames, AFullDiskNeedsTheUnpackedCopyToo) {
    const fs::path made = m_dir / "grainy.avi";
    testing::makeMedia(made, {"-f", "lavfi", "-i", "testsrc2=s=320x240:r=25:d=4", "-vf", "noise=alls=30:allf=t", "-c:v",
                              "mpeg4", "-bf", "1", "-g", "12", "-q:v", "3", "-vtag", "XVID"});
    const fs::path packed = m_dir / "grainy-packed.avi";
    testing::packBFrames(made, packed, 5);
    const auto& files = FileManagerService::shared();
    const int64_t standIn = OutputNeed::inBlocks(files.size(packed).value_or(0));
    int64_t wrote = 0;
    {
        testing::SmallVolume roomy(int64_t{64} << 20);
        if (!roomy.available()) GTEST_SKIP() << "no tmpfs to fill: " << roomy.whyNot();
        const FFmpegEngine engine(BundledFFmpeg::inBundle(), nullptr, {}, {}, files, TemporaryFileManager(roomy.path() / "scratch"));
        const auto out = engine.convert(testing::mediaJob(packed, roomy.path() / "out.mp4", "avi", "mp4"), nullptr, {});
        wrote = files.allocatedSize(out.at(0)).value_or(0);
    }
    // Room for the output, not for the unpacked copy beside it as well.
    testing::SmallVolume volume((standIn + wrote) * 3 / 4);
    ASSERT_TRUE(volume.available()) << volume.whyNot();
    ASSERT_GT(testing::freeBytes(volume.path()), wrote);
    const FFmpegEngine engine(BundledFFmpeg::inBundle(), nullptr, {}, {}, files, TemporaryFileManager(volume.path() / "scratch"));
    try {
        engine.convert(testing::mediaJob(packed, volume.path() / "out.mp4", "avi", "mp4"), nullptr, {});
        ADD_FAILURE() << "the job fit";
    } catch (const ConversionError& error) {
        ASSERT_EQ(error.kind(), ConversionError::Kind::insufficientDiskSpace) << error.shortDescription();
        EXPECT_GE(error.required(), standIn + wrote) << error.shortDescription();
        EXPECT_LE(error.required(), (standIn + wrote) * 2) << error.shortDescription();
        EXPECT_GT(error.required(), error.available());
        EXPECT_GE(error.available(), testing::freeBytes(volume.path()) - (int64_t{64} << 10));
    }
    for (const auto& entry : fs::recursive_directory_iterator(volume.path()))
        EXPECT_TRUE(entry.is_directory()) << entry.path() << " left behind";
}

}  // namespace
}  // namespace kolvex
