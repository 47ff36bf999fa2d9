// SPDX-License-Identifier: GPL-3.0-or-later
#include "JoinMarks.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>

#include <fmt/format.h>

#include "core/services/ProcessRunner.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex::testing {

namespace fs = std::filesystem;

namespace {

std::string run(const fs::path& program, const std::vector<std::string>& arguments) {
    const auto result = ProcessRunner().run(program, arguments, std::chrono::seconds(60), nullptr, nullptr);
    if (!result.succeeded()) throw std::runtime_error(program.filename().string() + " failed: " + result.standardError());
    return result.standardOutputData;
}

double decimal(const std::string& text) {
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.push_back(line);
    return out;
}

std::vector<double> markedPictures(const fs::path& file) {
    if (probeEntry(file, "stream=codec_type", "V:0").empty()) return {};
    // The movie source reads the file as ffmpeg does and keeps its times; signalstats measures
    // each picture's brightness.
    const std::string graph = fmt::format("movie='{}',signalstats", file.string());
    const std::string out = run(systemFFprobe(), {"-v", "error", "-f", "lavfi", "-i", graph, "-show_entries",
                                                  "frame=pts_time:frame_tags=lavfi.signalstats.YAVG", "-of", "csv=p=0"});
    std::vector<double> marks;
    bool bright = false;
    for (const auto& line : lines(out)) {
        const auto comma = line.find(',');
        if (comma == std::string::npos) continue;
        const bool now = decimal(line.substr(comma + 1)) > 128;
        if (now && !bright) marks.push_back(decimal(line.substr(0, comma)));
        bright = now;
    }
    return marks;
}

}  // namespace

JoinMarks JoinMarks::of(const fs::path& file) {
    JoinMarks marks;
    marks.pictures = markedPictures(file);
    const std::string rate = probeEntry(file, "stream=sample_rate", "a:0");
    if (rate.empty()) return marks;
    marks.sampleRate = static_cast<int>(decimal(rate));
    // Where the decoded sound begins on the file's clock: its first frame's time.
    const auto first = lines(run(systemFFprobe(), {"-v", "error", "-select_streams", "a:0", "-read_intervals", "%+#8",
                                                   "-show_entries", "frame=pts_time", "-of", "csv=p=0", file.string()}));
    const double origin = first.empty() ? 0 : decimal(first.front());

    TempDir dir;
    const fs::path raw = dir / "sound.f32";
    run(systemFFmpeg(), {"-nostdin", "-v", "error", "-i", file.string(), "-map", "0:a:0", "-ac", "1", "-f", "f32le",
                         raw.string()});
    std::ifstream in(raw, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));

    const double rateHz = marks.sampleRate;
    marks.soundStart = origin;
    marks.soundSeconds = double(samples.size()) / rateHz;
    const size_t tail = samples.size() - std::min(samples.size(), size_t(0.05 * rateHz));
    const size_t shortest = size_t(0.002 * rateHz);
    std::optional<size_t> lastLoud;
    size_t quiet = 0;
    for (size_t i = 0; i <= samples.size(); ++i) {
        const float level = i < samples.size() ? std::fabs(samples[i]) : 1.0f;
        if (i < samples.size() && level > 0.6f) {
            if (!lastLoud || double(i - *lastLoud) > 0.3 * rateHz) marks.bursts.push_back(origin + double(i) / rateHz);
            lastLoud = i;
        }
        if (level < 0.02f) {
            ++quiet;
            continue;
        }
        if (quiet > shortest && i - quiet < tail && !marks.bursts.empty()) marks.holes.push_back({origin + double(i - quiet) / rateHz, double(quiet) / rateHz});
        quiet = 0;
    }
    return marks;
}

std::vector<int> JoinMarks::pictureNumbers(const fs::path& file) {
    const std::string graph = fmt::format("movie='{}',scale=out_range=tv,format=yuv444p,crop=iw/2:ih:iw/2:0,signalstats", file.string());
    const std::string out = run(systemFFprobe(), {"-v", "error", "-f", "lavfi", "-i", graph, "-show_entries",
                                                  "frame_tags=lavfi.signalstats.YAVG", "-of", "csv=p=0"});
    std::vector<int> numbers;
    for (const auto& line : lines(out)) numbers.push_back(static_cast<int>(std::lround((decimal(line) - 16) / 2)));
    return numbers;
}

std::vector<std::string> JoinMarks::numberedPictures(double seconds, const std::string& rate, const std::string& size,
                                                     double flashAt) {
    // The first picture from flashAt on, whatever the rate.
    const auto slash = rate.find('/');
    const double perSecond = slash == std::string::npos ? decimal(rate) : decimal(rate.substr(0, slash)) / decimal(rate.substr(slash + 1));
    return {"-f", "lavfi", "-i",
            fmt::format("color=c=black:s={}:r={}:d={},geq=lum='if(gte(T\\,{:.6f})*lt(T\\,{:.6f})\\,235\\,"
                        "if(gte(X\\,W/2)\\,16+2*mod(N\\,100)\\,16))':cb=128:cr=128",
                        size, rate, seconds, flashAt - 1e-4, flashAt - 1e-4 + 1 / perSecond)};
}

std::vector<std::string> JoinMarks::pictureSource(double seconds, int framesPerSecond) {
    return {"-f", "lavfi", "-i",
            fmt::format("color=c=black:s=64x48:r={0}:d={1},geq=lum='if(lt(N\\,1)\\,235\\,16)':cb=128:cr=128",
                        framesPerSecond, seconds)};
}

std::vector<std::string> JoinMarks::soundSource(double seconds, int sampleRate) {
    return {"-f", "lavfi", "-i",
            fmt::format("aevalsrc='if(lt(t\\,0.1)\\,0.9*sin(2*PI*3000*t)\\,0.3*sin(2*PI*1000*t))':s={}:d={}", sampleRate,
                        seconds)};
}

}  // namespace kolvex::testing
