// SPDX-License-Identifier: GPL-3.0-or-later
#include "AudioFixtures.h"

#include "core/services/ProcessRunner.h"
#include "support/MediaFixtures.h"

namespace kolvex::testing {

nlohmann::json AudioFixtures::probe(const std::filesystem::path& file) {
    auto result = ProcessRunner().run(systemFFprobe(),
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
    // Lossy or not as the shipped manifest has it: a compress plans by it.
    const bool lossy = id == "m4a" || id == "mp3" || id == "aac" || id == "opus" || id == "ogg";
    f.capabilities = {lossy ? FormatCapability::lossy : FormatCapability::lossless};
    return f;
}

ConversionJob AudioFixtures::job(const std::filesystem::path& source, const std::string& from,
                                 const std::filesystem::path& destination, const std::string& to,
                                 ConversionOptions options) {
    ConversionCapability capability{FormatID(from), FormatID(to), engine_ids::audio, ConversionCost::inProcess, false};
    return ConversionJob(source, {}, destination, format(from), format(to), capability, std::move(options));
}

}  // namespace kolvex::testing
