// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestFormats.h"

#include <map>
#include <stdexcept>

#include "core/ffmpeg/ContainerCompatibility.h"
#include "core/format/FormatRegistry.h"

namespace kolvex::testing {

Format mediaFormat(const std::string& id) {
    using C = FormatCategory;
    using K = FormatCapability;
    struct Row {
        C category;
        std::set<K> capabilities;
        std::string label;
    };
    static const std::map<std::string, Row> rows = {
        {"mp4", {C::video, {K::lossy, K::metadata}, "MP4"}},     {"mov", {C::video, {K::lossy, K::metadata}, "QuickTime"}},
        {"mkv", {C::video, {K::lossy, K::multiTrack}, "MKV"}},   {"webm", {C::video, {K::lossy}, "WebM"}},
        {"m4v", {C::video, {K::lossy}, "M4V"}},                  {"avi", {C::video, {K::lossy}, "AVI"}},
        {"mp3", {C::audio, {K::lossy}, "MP3"}},                  {"m4a", {C::audio, {K::lossy}, "M4A"}},
        {"wav", {C::audio, {K::lossless}, "WAV"}},               {"flac", {C::audio, {K::lossless}, "FLAC"}},
        {"aiff", {C::audio, {K::lossless}, "AIFF"}},             {"ogg", {C::audio, {K::lossy}, "Ogg"}},
        {"opus", {C::audio, {K::lossy}, "Opus"}},                {"aac", {C::audio, {K::lossy}, "AAC"}},
        {"gif", {C::image, {K::animation}, "GIF"}},              {"webp", {C::image, {K::lossy, K::alpha}, "WebP"}},
        {"png", {C::image, {K::lossless, K::alpha}, "PNG"}},     {"jpg", {C::image, {K::lossy}, "JPEG"}},
        {"avif", {C::image, {K::lossy, K::animation}, "AVIF"}},  {"ico", {C::image, {K::alpha}, "ICO"}},
        {"pdf", {C::pdf, {K::pages}, "PDF"}},
    };
    const auto row = rows.find(id);
    if (row == rows.end()) throw std::invalid_argument("no test format " + id);
    Format format;
    format.id = FormatID(id);
    format.category = row->second.category;
    format.extensions = {id};
    static const std::map<std::string, std::vector<std::string>> contentTypes = {
        {"png", {"image/png"}},   {"jpg", {"image/jpeg"}}, {"gif", {"image/gif"}},
        {"webp", {"image/webp"}}, {"avif", {"image/avif"}}, {"ico", {"image/vnd.microsoft.icon"}},
    };
    if (const auto types = contentTypes.find(id); types != contentTypes.end()) format.contentTypes = types->second;
    format.capabilities = row->second.capabilities;
    format.label = row->second.label;
    return format;
}

ConversionJob mediaJob(const std::filesystem::path& source, const std::filesystem::path& destination,
                       const std::string& from, const std::string& to, ConversionOptions options) {
    ConversionCapability capability{FormatID(from), FormatID(to), engine_ids::ffmpeg, ConversionCost::subprocess, true};
    return ConversionJob(source, {}, destination, mediaFormat(from), mediaFormat(to), capability, std::move(options));
}

std::set<std::string> mediaSourcesOf(const std::string& tool) {
    const FormatRegistry registry = FormatRegistry::loadBundled();
    const FormatManifest& manifest = registry.manifest();
    std::set<FormatCategory> categories;
    for (const auto& each : manifest.tools)
        if (each.id == tool) categories = each.categories;
    if (categories.empty()) throw std::invalid_argument("the manifest has no tool " + tool);
    std::set<std::string> ids;
    for (const auto& format : manifest.formats) {
        const bool media = format.category == FormatCategory::video || format.category == FormatCategory::audio;
        if (media && categories.contains(format.category)) ids.insert(format.id.rawValue);
    }
    return ids;
}

std::set<std::string> soundCodecsOf(const std::string& format) {
    // Every sound codec the container table names anywhere.
    static const std::vector<std::string> sounds = {"aac",       "alac",      "mp3",       "ac3",       "eac3",
                                                    "flac",      "vorbis",    "opus",      "wmav2",     "pcm_u8",
                                                    "pcm_s16le", "pcm_s24le", "pcm_s32le", "pcm_f32le", "pcm_s16be",
                                                    "pcm_s24be"};
    std::set<std::string> codecs;
    if (mediaFormat(format).category != FormatCategory::audio) return codecs;
    for (const auto& codec : sounds)
        if (ContainerCompatibility::accepts(codec, FormatID(format))) codecs.insert(codec);
    return codecs;
}

}  // namespace kolvex::testing
