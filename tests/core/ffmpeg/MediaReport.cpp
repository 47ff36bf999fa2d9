#include "MediaReport.h"

#include <chrono>
#include <cmath>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "core/services/ProcessRunner.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex::testing {

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

std::string text(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::optional<double> number(const Json& object, const char* key) {
    const std::string value = text(object, key);
    if (value.empty() || value == "N/A") return std::nullopt;
    return std::stod(value);
}

}  // namespace

MediaReport MediaReport::of(const fs::path& file) {
    const auto probe = ProcessRunner().run(systemFFprobe(),
                                           {"-v", "error", "-count_frames", "-show_streams", "-show_format", "-show_chapters",
                                            "-of", "json", file.string()},
                                           std::chrono::seconds(60), nullptr, nullptr);
    if (!probe.succeeded()) throw std::runtime_error("ffprobe cannot read " + file.string() + ": " + probe.standardError());
    const Json document = Json::parse(probe.standardOutput());
    MediaReport report;
    for (const auto& entry : document.value("streams", Json::array())) {
        Stream stream;
        stream.type = text(entry, "codec_type");
        stream.codec = text(entry, "codec_name");
        stream.profile = text(entry, "profile");
        stream.pixelFormat = text(entry, "pix_fmt");
        stream.tag = text(entry, "codec_tag_string");
        stream.width = entry.value("width", int64_t{0});
        stream.height = entry.value("height", int64_t{0});
        for (const auto& side : entry.value("side_data_list", Json::array()))
            if (side.contains("rotation") && side["rotation"].is_number()) stream.rotation = side["rotation"].get<int>();
        stream.coverPicture = entry.contains("disposition") && entry["disposition"].value("attached_pic", 0) == 1;
        stream.duration = number(entry, "duration");
        if (const auto frames = number(entry, "nb_read_frames")) stream.frames = static_cast<int64_t>(*frames);
        if (entry.contains("tags")) stream.language = text(entry["tags"], "language");
        report.streams.push_back(stream);
    }
    if (document.contains("format")) report.duration = number(document["format"], "duration");
    report.chapters = static_cast<int64_t>(document.value("chapters", Json::array()).size());

    const auto decode = ProcessRunner().run(systemFFmpeg(), {"-nostdin", "-v", "error", "-i", file.string(), "-f", "null", "-"},
                                            std::chrono::seconds(120), nullptr, nullptr);
    report.decodeErrors = decode.standardError();
    if (!decode.succeeded() && report.decodeErrors.empty()) report.decodeErrors = "ffmpeg could not decode the file";

    // The top-level boxes of an MP4/QuickTime file, in order: size (32 bits, or 1 and a 64-bit
    // size after the type), type.
    const std::string bytes = readFile(file);
    const auto be = [&](size_t at, int count) {
        uint64_t value = 0;
        for (int i = 0; i < count; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
        return value;
    };
    for (size_t at = 0; at + 8 <= bytes.size();) {
        uint64_t size = be(at, 4);
        const std::string type = bytes.substr(at + 4, 4);
        if (size == 1 && at + 16 <= bytes.size()) size = be(at + 8, 8);
        if (type == "moov") report.indexFirst = true;
        if (type == "mdat" || size < 8) break;
        at += size;
    }
    return report;
}

std::vector<MediaReport::Stream> MediaReport::ofType(const std::string& type) const {
    std::vector<Stream> found;
    for (const auto& stream : streams)
        if (stream.type == type && !stream.coverPicture) found.push_back(stream);
    return found;
}

const MediaReport::Stream& MediaReport::video() const {
    for (const auto& stream : streams)
        if (stream.type == "video" && !stream.coverPicture) return stream;
    throw std::runtime_error("no video stream");
}

}  // namespace kolvex::testing
