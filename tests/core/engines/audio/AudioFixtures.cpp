#include "AudioFixtures.h"

#include <unistd.h>

#include <fmt/format.h>

#include "core/services/ProcessRunner.h"

namespace kolvex::testing {

namespace {
const std::filesystem::path kFfmpeg = "/usr/bin/ffmpeg";
const std::filesystem::path kFfprobe = "/usr/bin/ffprobe";
}  // namespace

bool AudioFixtures::available(std::string* why) {
    for (const auto& program : {kFfmpeg, kFfprobe}) {
        if (access(program.c_str(), X_OK) != 0) {
            *why = program.string() + " is not installed";
            return false;
        }
    }
    return true;
}

bool AudioFixtures::makeSine(const std::filesystem::path& out, double seconds, int sampleRate,
                             const std::vector<std::string>& extra) {
    std::vector<std::string> args{"-v", "error", "-y", "-f", "lavfi", "-i",
                                  fmt::format("sine=frequency=440:duration={}:sample_rate={}", seconds, sampleRate)};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(out.string());
    return ProcessRunner().run(kFfmpeg, args, std::chrono::seconds(30), {}, {}).exitCode == 0;
}

nlohmann::json AudioFixtures::probe(const std::filesystem::path& file) {
    auto result = ProcessRunner().run(kFfprobe,
                                      {"-v", "error", "-show_streams", "-show_format", "-of", "json", file.string()},
                                      std::chrono::seconds(30), {}, {});
    if (result.exitCode != 0) return nullptr;
    return nlohmann::json::parse(result.standardOutputData, nullptr, false);
}

Format AudioFixtures::format(const std::string& id) {
    Format f;
    f.id = FormatID(id);
    f.category = FormatCategory::audio;
    f.extensions = {id};
    f.label = id == "m4a" ? "M4A" : id == "wav" ? "WAV" : id == "aiff" ? "AIFF" : id;
    return f;
}

ConversionJob AudioFixtures::job(const std::filesystem::path& source, const std::string& from,
                                 const std::filesystem::path& destination, const std::string& to,
                                 ConversionOptions options) {
    ConversionCapability capability{FormatID(from), FormatID(to), engine_ids::audio, ConversionCost::inProcess, false};
    return ConversionJob(source, {}, destination, format(from), format(to), capability, std::move(options));
}

}  // namespace kolvex::testing
