// SPDX-License-Identifier: GPL-3.0-or-later
// Where a copied AVI trim ends its pictures. ffmpeg's read of the input (-t) ends the sound where
// asked and, counted on AVI's clock of whole pictures, the pictures too wherever no picture lies
// between the span's end and the read's: there the copy needs no filter that drops pictures by
// count (it costs on every packet it passes). Judged over generated AVIs and trims from their
// keyframes to ends at awkward decimal times: the command carries the drop filter exactly when
// the read alone would let a picture past the span through, and a sample of the trims, made,
// holds exactly the span's numbered pictures.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/ffmpeg/CutPlan.h"
#include "core/ffmpeg/FFmpegArguments.h"
#include "core/ffmpeg/FFmpegEngine.h"
#include "core/ffmpeg/LibavProber.h"
#include "core/services/Preferences.h"
#include "CutMatrixRows.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "TestFormats.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

struct Source {
    std::string name;
    std::string rate;   // as lavfi takes it
    std::vector<std::string> encode;
};

// AVI as cameras and older tools write it: no B-frames, at 25 and 29.97 pictures a second, a
// keyframe every few pictures, or every picture (MJPEG).
const std::vector<Source> kSources = {
    {"MPEG-4 and MP3 at 25", "25", {"-c:v", "mpeg4", "-bf", "0", "-g", "12", "-q:v", "5", "-c:a", "libmp3lame"}},
    {"MPEG-4 and MP3 at 29.97", "30000/1001", {"-c:v", "mpeg4", "-bf", "0", "-g", "15", "-q:v", "5", "-c:a", "libmp3lame"}},
    {"MJPEG and PCM at 29.97", "30000/1001", {"-c:v", "mjpeg", "-q:v", "8", "-c:a", "pcm_s16le"}},
    {"H.264 without B-frames and MP3 at 25", "25",
     {"-c:v", "libx264", "-preset", "ultrafast", "-bf", "0", "-g", "10", "-keyint_min", "10", "-c:a", "libmp3lame"}},
};

// A time the command line states ("00:01:02.345"), in whole milliseconds.
int64_t milliseconds(const std::string& text) {
    int64_t hours = 0, minutes = 0, seconds = 0, thousandths = 0;
    char colon = 0, colon2 = 0, dot = 0;
    std::istringstream in(text);
    in >> hours >> colon >> minutes >> colon2 >> seconds >> dot >> thousandths;
    if (!in || colon != ':' || colon2 != ':' || dot != '.' || text.size() != 12) throw std::runtime_error("not a time: " + text);
    return ((hours * 60 + minutes) * 60 + seconds) * 1000 + thousandths;
}

std::optional<std::string> valueOf(const std::vector<std::string>& args, const std::string& option) {
    const auto found = std::find(args.begin(), args.end(), option);
    if (found == args.end() || found + 1 == args.end()) return std::nullopt;
    return *(found + 1);
}

// The source's pictures as ffprobe lists them: AVI states each one's place on its clock (as
// the time it is decoded at; H.264's packets state no other).
struct Pictures {
    int64_t num = 0, den = 1;  // the time base: a tick a picture
    std::vector<int64_t> ticks;
    std::vector<bool> keyframes;

    static Pictures of(const fs::path& file) {
        Pictures read;
        const std::string base = testing::probeEntry(file, "stream=time_base", "V:0");
        const auto slash = base.find('/');
        read.num = std::stoll(base.substr(0, slash));
        read.den = std::stoll(base.substr(slash + 1));
        std::istringstream lines(testing::probeEntry(file, "packet=dts,flags", "V:0"));
        for (std::string line; std::getline(lines, line);) {
            if (line.empty()) continue;
            const auto comma = line.find(',');
            read.ticks.push_back(std::stoll(line.substr(0, comma)));
            read.keyframes.push_back(line.substr(comma + 1).starts_with("K"));
        }
        return read;
    }
    // Microseconds of `ticks` ticks, to the nearest, as ffmpeg states a time.
    int64_t microseconds(int64_t count) const {
        const long double exact = static_cast<long double>(count) * num * 1'000'000 / den;
        return static_cast<int64_t>(std::llround(exact));
    }
    double seconds(size_t i) const { return double(microseconds(ticks[i])) / 1e6; }

    // The pictures a read with `args` copies, by index: ffmpeg rounds the seek's offset to the
    // nearest picture, starts on the first keyframe from there, and stops at the first picture
    // whose time from there reaches the read's length.
    std::pair<size_t, size_t> read(const std::vector<std::string>& args) const {
        const int64_t seek = valueOf(args, "-ss") ? milliseconds(*valueOf(args, "-ss")) * 1000 : 0;
        const int64_t origin = static_cast<int64_t>(
            std::floor(static_cast<long double>(seek) * den / (static_cast<long double>(num) * 1'000'000) + 0.5L));
        const auto length = valueOf(args, "-t");
        size_t first = 0;
        while (first < ticks.size() && !(keyframes[first] && ticks[first] >= origin)) ++first;
        size_t end = first;
        while (end < ticks.size() && (!length || microseconds(ticks[end] - origin) < milliseconds(*length) * 1000)) ++end;
        return {first, end};
    }
};

struct Row {
    double start, end;
    size_t first, last;  // the span's pictures, by index
};

class CopyCutEnd : public ::testing::TestWithParam<Source> {};

TEST_P(CopyCutEnd, TheDropFilterOnlyWhereTheReadLetsAPictureThrough) {
    KOLVEX_REQUIRE_FFMPEG();
    const Source& s = GetParam();
    testing::TempDir dir, out;
    const fs::path source = testing::makeMedia(
        dir / "source.avi", [&] {
            std::vector<std::string> args = {"-f", "lavfi", "-i",
                                             fmt::format("testsrc2=size=64x32:rate={}:duration=24,{}", s.rate, testing::kNumbered),
                                             "-f", "lavfi", "-i", "sine=sample_rate=44100:duration=24"};
            args.insert(args.end(), s.encode.begin(), s.encode.end());
            return args;
        }());
    const Pictures pictures = Pictures::of(source);
    ASSERT_GT(pictures.ticks.size(), 500u);
    const auto [probe, every] = LibavProber().probeWithEveryCut(source);
    ASSERT_TRUE(every);
    ConversionOptions options = Preferences{}.conversionOptions(FormatCategory::video);
    options.tool = "trim";
    const ConversionJob job = testing::mediaJob(source, out / "cut.avi", "avi", "avi", options);
    const CutQuestion question(job, probe, std::make_shared<const StreamCopyCuts>(*every));

    // From keyframes spread over the clip (as listed, and as typed to the millisecond before), to ends
    // on a picture and between two, a picture to a few hundred on.
    std::vector<Row> rows;
    std::vector<size_t> keys;
    for (size_t i = 1; i < pictures.ticks.size(); ++i)
        if (pictures.keyframes[i]) keys.push_back(i);
    const size_t stride = std::max<size_t>(1, keys.size() / 40);
    for (size_t k = 0; k < keys.size(); k += stride) {
        const size_t key = keys[k];
        const double at = pictures.seconds(key);
        for (const double start : {at, std::floor(at * 1000) / 1000}) {
            for (const size_t count : {1, 2, 3, 4, 7, 12, 25, 31, 50, 97, 150, 301}) {
                const size_t left = key + count;
                if (left >= pictures.ticks.size()) continue;
                const double between = std::round((pictures.seconds(left - 1) + pictures.seconds(left)) / 2 * 1000) / 1000;
                for (const double end : {pictures.seconds(left), between}) rows.push_back({start, end, key, left - 1});
            }
        }
    }
    ASSERT_GT(rows.size(), 500u);

    size_t filtered = 0, plain = 0;
    std::vector<std::pair<Row, bool>> made;
    for (const Row& row : rows) {
        SCOPED_TRACE(fmt::format("{:.6f}-{:.6f}", row.start, row.end));
        const CutPlan plan = question.trim(row.start, row.end);
        ASSERT_TRUE(plan.isCopy()) << plan.decision.reason;
        ASSERT_TRUE(plan.cut);
        ASSERT_EQ(plan.cut->pictures, int64_t(row.last - row.first + 1));
        ConversionJob cut = job;
        cut.options.trimStart = row.start;
        cut.options.trimEnd = row.end;
        const auto args = FFmpegArguments::build(cut, plan.decision, probe, plan.cut);
        const auto [first, end] = pictures.read(args);
        ASSERT_EQ(first, row.first) << "the read starts elsewhere";
        ASSERT_GE(end, row.last + 1) << "the read stops a picture of the span";
        const bool readEndsIt = end == row.last + 1;
        const bool dropped = std::find(args.begin(), args.end(), "-bsf:v") != args.end();
        EXPECT_EQ(dropped, !readEndsIt) << (dropped ? "pictures dropped by count where the read ends them"
                                                    : "the read lets pictures past the span through");
        // A few of each kind made: the first, then every 197th.
        size_t& seen = readEndsIt ? plain : filtered;
        if (seen++ % 197 == 0) made.emplace_back(row, dropped);
    }

    const FFmpegEngine engine(BundledFFmpeg::inBundle(), nullptr, {});
    for (const auto& [row, dropped] : made) {
        SCOPED_TRACE(fmt::format("made {:.6f}-{:.6f}{}", row.start, row.end, dropped ? ", dropped by count" : ""));
        ConversionJob cut = job;
        cut.options.trimStart = row.start;
        cut.options.trimEnd = row.end;
        const auto outcome = engine.convertReporting(cut, nullptr, {});
        EXPECT_TRUE(outcome.usedPassthrough);
        const fs::path output = outcome.outputs.at(0);
        EXPECT_EQ(testing::pictureNumbers(output), testing::numberSpan(int(row.first), int(row.last)));
        fs::remove(output);
    }
}

INSTANTIATE_TEST_SUITE_P(Avi, CopyCutEnd, ::testing::ValuesIn(kSources), [](const auto& info) {
    std::string name = info.param.name;
    std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
});

}  // namespace
}  // namespace kolvex
