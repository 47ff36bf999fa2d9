// SPDX-License-Identifier: GPL-3.0-or-later
// A packed MPEG-4 AVI is cut from a stand-in with its pictures unpacked. What the trim and split
// sheets promise of such a file, read as the sheets read it, is the plan the engine makes on that
// stand-in, and the run holds exactly the pictures promised; every stream the job reads reaches
// the stand-in, so the job names what it leaves out as it would of the source itself.
#include <algorithm>
#include <chrono>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/ffmpeg/CutPlan.h"
#include "core/ffmpeg/FFmpegArguments.h"
#include "core/ffmpeg/FFmpegEngine.h"
#include "core/ffmpeg/LibavProber.h"
#include "core/ffmpeg/preview/MediaFacts.h"
#include "core/services/ProcessRunner.h"
#include "JoinMarks.h"
#include "MediaReport.h"
#include "PackedBFrames.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "TestFormats.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::JoinMarks;

constexpr int kPictures = 30;
constexpr double kPicture = 1.0 / 25;

std::vector<int> numbersFrom(int first, int end) {
    std::vector<int> numbers(static_cast<size_t>(std::max(0, end - first)));
    std::iota(numbers.begin(), numbers.end(), first);
    return numbers;
}

// Everything a plan tells the engine to do, in one line.
std::string described(const CutPlan& plan) {
    std::string cut = "none";
    if (plan.cut)
        cut = fmt::format("seek {} start {:.6f} end {} pictures {}",
                          plan.cut->seek ? fmt::format("{:.6f}", *plan.cut->seek) : "-", plan.cut->start,
                          plan.cut->pictureEnd ? fmt::format("{:.6f}", *plan.cut->pictureEnd) : "-", plan.cut->pictures);
    return fmt::format("{} ({}) cause {} cut [{}] reencodeSeek {} lossless {} sound '{}' alone {}",
                       plan.isCopy() ? "copy" : "re-encode", plan.decision.reason, static_cast<int>(plan.cause), cut,
                       plan.reencodeSeek ? fmt::format("{:.6f}", *plan.reencodeSeek) : "-", plan.lossless,
                       plan.soundEncoder, plan.soundAlone);
}

struct Row {
    std::string tool;  // trim or split
    std::string to;
    int from = 0;      // the trim's span in pictures, [from, to); a split's point is `from`
    int until = 0;
    std::string name() const {
        return tool == "split" ? fmt::format("split at picture {} into {}", from, to)
                               : fmt::format("trim of pictures {}-{} into {}", from, until - 1, to);
    }
};

// Where the keyframe chunks lie (the picture before each keyframe's own, packed with it), the
// keyframes' own pictures, the pictures after them and one inside a group: trims from each to
// past the second keyframe, into AVI and MP4; trims from the start to each, splits at each and
// one picture from each, into AVI.
std::vector<Row> rows() {
    std::vector<Row> all;
    for (const int at : {6, 11, 12, 13, 23, 24}) {
        for (const std::string to : {"avi", "mp4"}) all.push_back({"trim", to, at, 27});
        all.push_back({"trim", "avi", 0, at});
        all.push_back({"trim", "avi", at, at + 1});
        all.push_back({"split", "avi", at, 0});
    }
    return all;
}

// The facts of every file as they are, but for one that is said to hold a text subtitle track
// besides (as AVI files can carry, in chunks no AVI writer of FFmpeg's makes).
class WithTextSubtitles : public MediaProbing {
public:
    explicit WithTextSubtitles(fs::path file) : m_file(std::move(file)) {}
    MediaProbe probe(const fs::path& url, std::stop_token stop) const override { return told(url, m_read.probe(url, stop)); }
    MediaProbe probeHeaders(const fs::path& url, std::stop_token stop) const override {
        return told(url, m_read.probeHeaders(url, stop));
    }
    std::pair<MediaProbe, std::optional<StreamCopyCuts>> probeWithCuts(const fs::path& url, std::pair<double, double> window,
                                                                       std::stop_token stop) const override {
        auto read = m_read.probeWithCuts(url, window, stop);
        read.first = told(url, std::move(read.first));
        return read;
    }
    std::pair<MediaProbe, std::optional<StreamCopyCuts>> probeWithEveryCut(const fs::path& url,
                                                                           std::stop_token stop) const override {
        auto read = m_read.probeWithEveryCut(url, stop);
        read.first = told(url, std::move(read.first));
        return read;
    }

private:
    MediaProbe told(const fs::path& url, MediaProbe probe) const {
        if (url != m_file) return probe;
        ++probe.subtitleTrackCount;
        probe.subtitleCodecs.push_back("subrip");
        return probe;
    }
    fs::path m_file;
    LibavProber m_read;
};

class PackedBFrameCuts : public ::testing::Test {
protected:
    void SetUp() override { KOLVEX_REQUIRE_FFMPEG(); }

    // The stand-in the engine makes of `job`'s source, made here by the same command.
    fs::path standIn(const ConversionJob& job, const MediaProbe& probe) {
        const fs::path made = m_dir / "stand-in.avi";
        if (fs::exists(made)) return made;
        auto arguments = FFmpegArguments::unpackedCopy(job, probe, made);
        const auto result = ProcessRunner().run(testing::systemFFmpeg(), arguments, std::chrono::seconds(60), {}, {});
        EXPECT_EQ(result.exitCode, 0) << result.standardError();
        return made;
    }

    testing::TempDir m_dir, m_out;
};

TEST_F(PackedBFrameCuts, TheSheetPromisesThePlanTheEngineCutsByAndItsPictures) {
    const fs::path source = testing::numberedAvi(m_dir.path(), true, true);
    ASSERT_EQ(JoinMarks::pictureNumbers(source), numbersFrom(0, kPictures)) << "ffmpeg's own reading";
    // The sheet's read: the facts, then every packet of the pictures.
    const FFmpegMediaFacts facts;
    const MediaProbe probe = facts.probe(source, {});
    ASSERT_EQ(probe.packedBFrames, true);
    const auto cuts = std::make_shared<const StreamCopyCuts>(facts.copyCuts(source, {}));
    const FFmpegEngine engine(BundledFFmpeg::inBundle(), nullptr, {});
    bool keyframesChecked = false;
    for (const Row& row : rows()) {
        SCOPED_TRACE(row.name());
        ConversionOptions options = ConversionOptions::defaults();
        options.tool = row.tool;
        options.outputFormat = FormatID(row.to);
        const ConversionJob sheetJob = testing::mediaJob(source, m_out / ("out." + row.to), "avi", row.to, options);
        const CutQuestion question(sheetJob, probe, cuts);

        // The engine's read and plan of the same job from the stand-in.
        ConversionJob fromStandIn = sheetJob;
        fromStandIn.source = standIn(sheetJob, probe);
        std::vector<CutPlan> promised, planned;
        const double start = row.from * kPicture, end = row.until * kPicture;
        if (row.tool == "trim") {
            promised = {question.trim(start, end)};
            ConversionJob trim = fromStandIn;
            trim.options.trimStart = start;
            trim.options.trimEnd = end;
            const auto [read, near] = LibavProber().probeWithCuts(fromStandIn.source, {start - 1.0, end});
            ASSERT_TRUE(near);
            planned = {CutPlan::of(trim, read, &*near)};
        } else {
            promised = question.split({start});
            const auto [read, every] = LibavProber().probeWithEveryCut(fromStandIn.source);
            ASSERT_TRUE(every && read.durationSeconds);
            if (!keyframesChecked) {
                EXPECT_EQ(question.keyframes(), every->keyframes) << "the keyframes the sheet shows";
                EXPECT_EQ(question.copyStarts().times(), KeyframeIndex({0.0}).times());
                keyframesChecked = true;
            }
            for (const auto& part : CutPlan::splitParts(fromStandIn, CutPlan::splitPoints({start}, *read.durationSeconds), &*every)) {
                ConversionJob each = fromStandIn;
                each.options = part;
                planned.push_back(CutPlan::of(each, read, &*every));
            }
        }
        ASSERT_EQ(promised.size(), planned.size());
        for (size_t k = 0; k < planned.size(); ++k) EXPECT_EQ(described(promised[k]), described(planned[k])) << "part " << k + 1;

        // The run: what was promised, and the pictures of each span once.
        ConversionJob job = sheetJob;
        std::vector<std::vector<int>> expected;
        if (row.tool == "trim") {
            job.options.trimStart = start;
            job.options.trimEnd = end;
            expected = {numbersFrom(row.from, row.until)};
        } else {
            job.options.splitPoints = {start};
            expected = {numbersFrom(0, row.from), numbersFrom(row.from, kPictures)};
        }
        const auto made = testing::outcomeOf(engine, job);
        if (!made) continue;
        const ConversionOutcome& outcome = *made;
        const bool allCopied = std::all_of(promised.begin(), promised.end(), [](const CutPlan& p) { return p.isCopy(); });
        EXPECT_EQ(outcome.usedPassthrough, allCopied);
        ASSERT_EQ(outcome.outputs.size(), expected.size());
        for (size_t k = 0; k < expected.size(); ++k) {
            EXPECT_EQ(JoinMarks::pictureNumbers(outcome.outputs[k]), expected[k]) << "output " << k + 1;
            EXPECT_EQ(testing::MediaReport::of(outcome.outputs[k]).decodeErrors, "") << "output " << k + 1;
        }
        for (const auto& entry : fs::directory_iterator(m_out.path())) fs::remove(entry.path());
    }
}

// A DivX subtitle track and a second picture stream go into the stand-in with the rest: every
// job copied from it says they were left out, as the same job on a file that is not packed says.
TEST_F(PackedBFrameCuts, TheStandInCarriesTheStreamsTheJobNames) {
    const fs::path source = testing::numberedAvi(m_dir.path(), true, true, {.subtitle = true, .secondPicture = true});
    ASSERT_EQ(testing::probeEntry(source, "stream=codec_name", "s"), "xsub");
    ASSERT_EQ(testing::probeEntry(source, "stream=codec_name", "v"), "mpeg4\nmpeg4");
    const FFmpegEngine engine(BundledFFmpeg::inBundle(), nullptr, {});
    struct Job {
        std::string tool;
        std::string to;
        std::vector<int> pictures;
    };
    const std::vector<Job> jobs = {
        {"", "mp4", numbersFrom(0, kPictures)},     {"", "mkv", numbersFrom(0, kPictures)},
        {"trim", "avi", numbersFrom(12, 25)},       {"trim", "mp4", numbersFrom(12, 25)},
        {"split", "mkv", numbersFrom(12, kPictures)}, {"merge", "mp4", numbersFrom(0, kPictures)},
    };
    for (const auto& each : jobs) {
        SCOPED_TRACE(each.tool + " into " + each.to);
        ConversionOptions options = ConversionOptions::defaults();
        if (!each.tool.empty()) options.tool = each.tool;
        options.outputFormat = FormatID(each.to);
        if (each.tool == "trim") {
            options.trimStart = 12 * kPicture;
            options.trimEnd = 25 * kPicture;
        }
        if (each.tool == "split") options.splitPoints = {12 * kPicture};
        auto job = testing::mediaJob(source, m_out / ("out." + each.to), "avi", each.to, options);
        if (each.tool == "merge") job.additionalSources = {testing::numberedAvi(m_dir.path(), false, true)};
        const auto made = testing::outcomeOf(engine, job);
        if (!made) continue;
        const ConversionOutcome& outcome = *made;
        ASSERT_FALSE(outcome.outputs.empty());
        EXPECT_NE(outcome.note.value_or("").find("1 video track and 1 subtitle track were left out"), std::string::npos)
            << outcome.note.value_or("");
        const auto numbers = JoinMarks::pictureNumbers(outcome.outputs.back());
        if (each.tool == "merge") {
            std::vector<int> twice = each.pictures;
            twice.insert(twice.end(), each.pictures.begin(), each.pictures.end());
            EXPECT_EQ(numbers, twice);
        } else {
            EXPECT_EQ(numbers, each.pictures);
        }
        for (const auto& entry : fs::directory_iterator(m_out.path())) fs::remove(entry.path());
    }
}

// A subtitle track no AVI stand-in can hold is not in the stand-in, and the job still names it.
TEST_F(PackedBFrameCuts, ASubtitleTheStandInCannotHoldIsNamedAsLeftOut) {
    const fs::path source = testing::numberedAvi(m_dir.path(), true, true);
    const FFmpegEngine engine(BundledFFmpeg::inBundle(), std::make_shared<const WithTextSubtitles>(source), {});
    for (const std::string tool : {"", "trim", "merge"}) {
        SCOPED_TRACE(tool);
        ConversionOptions options = ConversionOptions::defaults();
        if (!tool.empty()) options.tool = tool;
        options.outputFormat = FormatID("mp4");
        if (tool == "trim") {
            options.trimStart = 12 * kPicture;
            options.trimEnd = 25 * kPicture;
        }
        auto job = testing::mediaJob(source, m_out / "out.mp4", "avi", "mp4", options);
        if (tool == "merge") job.additionalSources = {source};
        const auto outcome = engine.convertReporting(job, nullptr, {});
        ASSERT_EQ(outcome.outputs.size(), 1u);
        EXPECT_NE(outcome.note.value_or("").find("1 subtitle track was left out"), std::string::npos) << outcome.note.value_or("");
        EXPECT_EQ(testing::probeEntry(outcome.outputs.front(), "stream=codec_type", "s"), "");
        fs::remove(outcome.outputs.front());
    }
}

// A merge of a packed file with one that is not names what the other file leaves out once: only
// the packed file is read from a stand-in.
TEST_F(PackedBFrameCuts, AMergeNamesWhatItsOtherFileLeavesOutOnce) {
    const fs::path packed = testing::numberedAvi(m_dir.path(), true, true);
    const fs::path plain = testing::numberedAvi(m_dir.path(), false, true);
    const FFmpegEngine engine(BundledFFmpeg::inBundle(), std::make_shared<const WithTextSubtitles>(plain), {});
    ConversionOptions options = ConversionOptions::defaults();
    options.tool = "merge";
    options.outputFormat = FormatID("mp4");
    auto job = testing::mediaJob(packed, m_out / "out.mp4", "avi", "mp4", options);
    job.additionalSources = {plain};
    const auto made = testing::outcomeOf(engine, job);
    ASSERT_TRUE(made);
    ASSERT_EQ(made->outputs.size(), 1u);
    EXPECT_TRUE(made->usedPassthrough);
    const std::string note = made->note.value_or("");
    const std::string sentence = "1 subtitle track was left out";
    const size_t first = note.find(sentence);
    EXPECT_NE(first, std::string::npos) << note;
    EXPECT_EQ(note.find(sentence, first + 1), std::string::npos) << note;
    EXPECT_EQ(testing::MediaReport::of(made->outputs.front()).decodeErrors, "");
}

}  // namespace
}  // namespace kolvex
