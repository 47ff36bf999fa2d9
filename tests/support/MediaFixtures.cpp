// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/MediaFixtures.h"

#include <stdexcept>

#include <fmt/format.h>
#include <unistd.h>

#include "core/services/ProcessRunner.h"

namespace kolvex::testing {

namespace fs = std::filesystem;

fs::path systemFFmpeg() { return "/usr/bin/ffmpeg"; }
fs::path systemFFprobe() { return "/usr/bin/ffprobe"; }

bool haveFFmpeg() {
    return ::access(systemFFmpeg().c_str(), X_OK) == 0 && ::access(systemFFprobe().c_str(), X_OK) == 0;
}

fs::path makeClip(const fs::path& destination, const ClipSpec& clipSpec) {
    std::vector<std::string> args = {"-nostdin", "-hide_banner", "-loglevel", "error", "-y"};
    if (clipSpec.video) {
        args.insert(args.end(), {"-f", "lavfi", "-i",
                                 fmt::format("testsrc2=size={}x{}:rate={}:duration={}", clipSpec.width, clipSpec.height,
                                             clipSpec.framesPerSecond, clipSpec.seconds)});
    }
    if (clipSpec.audio) {
        args.insert(args.end(),
                    {"-f", "lavfi", "-i", fmt::format("sine=frequency=440:sample_rate=8000:duration={}", clipSpec.seconds)});
    }
    args.insert(args.end(), clipSpec.codecArguments.begin(), clipSpec.codecArguments.end());
    args.push_back(destination.string());
    const auto result = ProcessRunner().run(systemFFmpeg(), args, std::chrono::seconds(60), nullptr, nullptr);
    if (!result.succeeded()) throw std::runtime_error("ffmpeg could not make " + destination.string() + ": " + result.standardError());
    return destination;
}

fs::path makeMedia(const fs::path& destination, const std::vector<std::string>& arguments) {
    std::vector<std::string> args = {"-nostdin", "-hide_banner", "-loglevel", "error", "-y"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    args.push_back(destination.string());
    const auto result = ProcessRunner().run(systemFFmpeg(), args, std::chrono::seconds(120), nullptr, nullptr);
    if (!result.succeeded()) throw std::runtime_error("ffmpeg could not make " + destination.string() + ": " + result.standardError());
    return destination;
}

std::string probeEntry(const fs::path& file, const std::string& entry, const std::string& streams) {
    std::vector<std::string> args = {"-v", "error"};
    if (!streams.empty()) args.insert(args.end(), {"-select_streams", streams});
    args.insert(args.end(), {"-show_entries", entry, "-of", "csv=p=0", file.string()});
    const auto result = ProcessRunner().run(systemFFprobe(), args, std::chrono::seconds(30), nullptr, nullptr);
    std::string text = result.standardOutput();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace kolvex::testing
