// SPDX-License-Identifier: GPL-3.0-or-later
// A split whose parts are copies reads the source once: one run of ffmpeg writes them all, each
// the very copy a trim of that part alone makes, save the sound the next part begins with, and
// together every packet of the source once (judged by ffprobe's packet lists).
#include <algorithm>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "core/ffmpeg/FFmpegEngine.h"
#include "core/ffmpeg/LibavKeyframeReader.h"
#include "core/services/ProcessRunner.h"
#include "support/FakeFFmpeg.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "MediaReport.h"
#include "TestFormats.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

// ffmpeg behind a script that counts its runs in "runs" beside it.
fs::path countingFFmpeg(const fs::path& folder) {
    fs::create_directories(folder);
    const fs::path script = folder / "ffmpeg";
    std::ofstream(script) << "#!/bin/sh\necho run >> '" << (folder / "runs").string() << "'\nexec '"
                          << testing::systemFFmpeg().string() << "' \"$@\"\n";
    fs::permissions(script, fs::perms::owner_all);
    return script;
}

size_t runs(const fs::path& folder) {
    std::ifstream in(folder / "runs");
    size_t count = 0;
    for (std::string line; std::getline(in, line);) ++count;
    return count;
}

struct Packet {
    int stream = 0;
    double pts = 0, dts = 0;
    int64_t size = 0;
    std::string flags;
};

// Every packet of a file, as ffprobe lists them.
std::vector<Packet> packets(const fs::path& file) {
    const auto listed = ProcessRunner().run(testing::systemFFprobe(),
                                            {"-v", "error", "-show_entries", "packet=stream_index,pts_time,dts_time,size,flags",
                                             "-of", "csv=p=0", file.string()},
                                            std::chrono::seconds(60), nullptr, nullptr);
    std::vector<Packet> all;
    std::istringstream lines(listed.standardOutput());
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) continue;
        std::istringstream fields(line);
        std::string stream, pts, dts, size;
        Packet packet;
        std::getline(fields, stream, ',');
        std::getline(fields, pts, ',');
        std::getline(fields, dts, ',');
        std::getline(fields, size, ',');
        std::getline(fields, packet.flags, ',');
        try {
            packet.stream = std::stoi(stream);
            packet.pts = pts == "N/A" ? -1 : std::stod(pts);
            packet.dts = dts == "N/A" ? -1 : std::stod(dts);
            packet.size = std::stoll(size);
        } catch (const std::exception&) {
            ADD_FAILURE() << file.filename() << ": ffprobe lists \"" << line << "\"";
            continue;
        }
        all.push_back(packet);
    }
    return all;
}

std::vector<Packet> ofStream(std::vector<Packet> all, int stream) {
    std::erase_if(all, [&](const Packet& packet) { return packet.stream != stream; });
    return all;
}

void expectSamePackets(const std::vector<Packet>& a, const std::vector<Packet>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(a[i].stream, b[i].stream);
        EXPECT_EQ(a[i].size, b[i].size);
        EXPECT_EQ(a[i].flags, b[i].flags);
        // A time base finer than a millisecond may round a seek point a tick apart.
        EXPECT_NEAR(a[i].pts, b[i].pts, 1e-3);
        EXPECT_NEAR(a[i].dts, b[i].dts, 1e-3);
    }
}

// The first keyframe of a file's picture (stream 0) about a second in, and about two, as ffprobe
// lists its packets: an AVI states no presentation times, its pictures show as decoded.
std::vector<double> keyframesAboutASecondApart(const fs::path& file) {
    std::vector<double> times;
    for (const Packet& packet : packets(file)) {
        const double time = packet.pts >= 0 ? packet.pts : packet.dts;
        if (packet.stream == 0 && packet.flags.starts_with('K') && time > 0.5) times.push_back(time);
    }
    std::sort(times.begin(), times.end());
    std::vector<double> chosen;
    for (const double time : times)
        if (chosen.empty() || time >= chosen.back() + 0.9) chosen.push_back(time);
    return chosen;
}

struct Row {
    std::string container;
    std::vector<std::string> encode;
};

// Splits of the video containers a copy is cut in, with B-frames where the codec has them; AVI
// as cameras and older tools write it (no picture decoded out of order, or all intra).
TEST(SplitRun, CopiedPartsComeFromOneReadingAndMatchTheirOwnCopies) {
    KOLVEX_REQUIRE_FFMPEG();
    const std::vector<std::string> h264 = {"-c:v", "libx264", "-bf", "2", "-g", "10", "-keyint_min", "10",
                                           "-sc_threshold", "0", "-c:a", "aac"};
    const std::vector<Row> rows = {
        {"mkv", h264},
        {"mp4", h264},
        {"mov", h264},
        {"webm", {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8", "-g", "10", "-keyint_min", "10",
                  "-c:a", "libopus"}},
        {"avi", {"-c:v", "mpeg4", "-bf", "0", "-g", "10", "-c:a", "libmp3lame"}},
        {"avi", {"-c:v", "mjpeg", "-pix_fmt", "yuvj420p", "-c:a", "pcm_s16le"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.container);
        testing::TempDir dir;
        const fs::path source =
            testing::makeClip(dir.path() / ("clip." + row.container), {.seconds = 3, .codecArguments = row.encode});
        const fs::path bin = dir.path() / "bin";
        const FFmpegEngine counted(BundledFFmpeg(countingFFmpeg(bin)), nullptr, {});
        const FFmpegEngine engine(BundledFFmpeg::inBundle(), nullptr, {});
        // The keyframes about a second and two in, as the split sheet snaps to them.
        const std::vector<double> keyframes = keyframesAboutASecondApart(source);
        ASSERT_GE(keyframes.size(), 2u);
        struct Case {
            std::string name;
            std::vector<double> points;
            size_t firstCopied;  // the parts from this one on are copies
            size_t runs;
        };
        // Every part a copy; or the first two re-encoded (a point between keyframes), each in a
        // run of its own, and the copies read from the first one's seek point on.
        for (const Case& c : {Case{"at two keyframes", {keyframes[0], keyframes[1]}, 0, 1},
                              Case{"first between keyframes", {0.45, keyframes[0], keyframes[1]}, 2, 3}}) {
            SCOPED_TRACE(c.name);
            const fs::path out = dir.path() / c.name;
            fs::create_directories(out);
            fs::remove(bin / "runs");
            ConversionOptions split = ConversionOptions::defaults();
            split.tool = "split";
            split.splitPoints = c.points;
            const auto outcome = counted.convertReporting(
                testing::mediaJob(source, out / ("clip." + row.container), row.container, row.container, split), nullptr, {});
            ASSERT_EQ(outcome.outputs.size(), c.points.size() + 1);
            EXPECT_EQ(outcome.usedPassthrough, c.firstCopied == 0);
            EXPECT_EQ(runs(bin), c.runs) << "one reading writes every copied part";
            for (size_t i = c.firstCopied; i < outcome.outputs.size(); ++i) {
                SCOPED_TRACE(i + 1);
                ConversionOptions trim = ConversionOptions::defaults();
                trim.tool = "trim";
                if (i > 0) trim.trimStart = c.points[i - 1];
                if (i < c.points.size()) trim.trimEnd = c.points[i];
                const fs::path alone = out / ("alone " + std::to_string(i + 1) + "." + row.container);
                const auto copied =
                    engine.convertReporting(testing::mediaJob(source, alone, row.container, row.container, trim), nullptr, {});
                ASSERT_TRUE(copied.usedPassthrough);
                const auto part = packets(outcome.outputs[i]);
                const auto own = packets(copied.outputs.at(0));
                expectSamePackets(ofStream(part, 0), ofStream(own, 0));
                // The sound is the copy's own from its start; it may end sooner, where the next
                // part's begins (judged over all the parts below). An AVI times its sound by its
                // bytes, beside its pictures: it is judged there alone.
                if (row.container != "avi") {
                    const auto heard = ofStream(part, 1);
                    auto sound = ofStream(own, 1);
                    ASSERT_LE(heard.size(), sound.size());
                    if (i + 1 < outcome.outputs.size()) sound.resize(heard.size());
                    expectSamePackets(heard, sound);
                }
                // The count each part is checked by is the packets ffprobe finds.
                const auto listed = packets(outcome.outputs[i]);
                EXPECT_EQ(LibavKeyframeReader::pictureCount(outcome.outputs[i]),
                          std::count_if(listed.begin(), listed.end(), [](const Packet& p) { return p.stream == 0; }));
            }
            // Every picture and every coded frame of sound is in exactly one part, in order, as
            // the source holds them: none lost at a cut, none heard twice.
            if (c.firstCopied == 0) {
                for (const int stream : {0, 1}) {
                    SCOPED_TRACE(stream == 0 ? "pictures" : "sound");
                    std::vector<int64_t> heard, held;
                    for (const auto& part : outcome.outputs)
                        for (const Packet& packet : ofStream(packets(part), stream)) heard.push_back(packet.size);
                    for (const Packet& packet : ofStream(packets(source), stream)) held.push_back(packet.size);
                    EXPECT_EQ(heard, held);
                }
            }
        }
    }
}

// A run that writes the copied parts together and fails leaves nothing: a refused copy is
// tried again part by part (each copy, then each re-encode, as a trim is), a full disk ends the
// split at once.
TEST(SplitRun, AFailedRunLeavesNoPart) {
    KOLVEX_REQUIRE_FFMPEG();
    testing::TempDir dir;
    const fs::path source = testing::makeClip(
        dir.path() / "clip.mkv",
        {.seconds = 3, .codecArguments = {"-c:v", "libx264", "-g", "10", "-keyint_min", "10", "-sc_threshold", "0", "-c:a", "aac"}});
    const StreamCopyCuts read = testing::ffprobeCuts(source);
    std::vector<double> keyframes;
    for (const double time : read.keyframes.times())
        if (time > 0.5) keyframes.push_back(time);
    ASSERT_GE(keyframes.size(), 2u);
    testing::FakeFFmpeg fake(dir.path() / "bin");
    const FFmpegEngine engine(BundledFFmpeg(fake.ffmpeg()), nullptr, {});
    ConversionOptions split = ConversionOptions::defaults();
    split.tool = "split";
    split.splitPoints = {keyframes[0], keyframes[1]};
    const auto job = testing::mediaJob(source, dir.path() / "cut.mkv", "mkv", "mkv", split);
    fake.setWritesOutput("ffmpeg", "partial");
    fake.setExitCode("ffmpeg", 1);
    const auto leftBehind = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            if (entry.path() != source && entry.path().filename() != "bin") names.push_back(entry.path().filename().string());
        return names;
    };

    fake.setStandardError("ffmpeg", "Something the muxer refused\n");
    EXPECT_THROW(engine.convert(job, nullptr, {}), ConversionError);
    // The run of all three, then the first part's copy and its re-encode.
    EXPECT_EQ(fake.runCount("ffmpeg"), 3);
    EXPECT_EQ(leftBehind(), std::vector<std::string>{});

    fake.setStandardError("ffmpeg", "No space left on device\n");
    try {
        engine.convert(job, nullptr, {});
        ADD_FAILURE() << "reported success";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::insufficientDiskSpace);
    }
    EXPECT_EQ(fake.runCount("ffmpeg"), 4);
    EXPECT_EQ(leftBehind(), std::vector<std::string>{});
}

}  // namespace
}  // namespace kolvex
