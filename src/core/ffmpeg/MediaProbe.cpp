#include "core/ffmpeg/MediaProbe.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/format/ConversionError.h"
#include "core/services/PathUtils.h"
#include "core/services/ProcessRunner.h"

namespace kolvex {

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

const Json* member(const Json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

std::optional<std::string> stringMember(const Json& object, const char* key) {
    const Json* value = member(object, key);
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

// A string holding a finite decimal number ("12.5"), read without regard to the locale.
std::optional<double> decimalMember(const Json& object, const char* key) {
    const auto text = stringMember(object, key);
    if (!text || text->empty()) return std::nullopt;
    double value = 0;
    const char* begin = text->data();
    const char* end = begin + text->size();
    if (*begin == '+') ++begin;
    const auto [ptr, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

// A string holding a decimal integer: an optional sign, then digits only, within 64 bits.
std::optional<int64_t> integerTextMember(const Json& object, const char* key) {
    const auto text = stringMember(object, key);
    if (!text || text->empty()) return std::nullopt;
    const char* begin = text->data();
    const char* end = begin + text->size();
    if (*begin == '+') ++begin;
    if (begin == end || (*begin == '-' && begin + 1 == end)) return std::nullopt;
    int64_t value = 0;
    const auto [ptr, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || ptr != end) return std::nullopt;
    return value;
}

// A JSON number with a whole value.
std::optional<int64_t> wholeNumberMember(const Json& object, const char* key) {
    const Json* value = member(object, key);
    if (!value) return std::nullopt;
    if (value->is_number_integer()) {
        if (value->is_number_unsigned() && value->get<uint64_t>() > uint64_t(std::numeric_limits<int64_t>::max()))
            return std::nullopt;
        return value->get<int64_t>();
    }
    if (value->is_number_float()) {
        const double number = value->get<double>();
        if (!std::isfinite(number) || std::trunc(number) != number || std::fabs(number) >= 9.2e18) return std::nullopt;
        return static_cast<int64_t>(number);
    }
    return std::nullopt;
}

bool isAttachedPicture(const Json& stream) {
    const Json* disposition = member(stream, "disposition");
    return disposition && wholeNumberMember(*disposition, "attached_pic").value_or(0) == 1;
}

// The display matrix's rotation (ffprobe writes it as a number, older files as a "rotate" tag),
// folded into 0…270 in quarter turns.
int rotationOf(const Json& stream) {
    std::optional<double> degrees;
    if (const Json* list = member(stream, "side_data_list"); list && list->is_array()) {
        for (const auto& entry : *list) {
            const Json* rotation = member(entry, "rotation");
            if (rotation && rotation->is_number()) degrees = rotation->get<double>();
        }
    }
    if (!degrees) {
        if (const Json* tags = member(stream, "tags")) degrees = decimalMember(*tags, "rotate");
    }
    if (!degrees || !std::isfinite(*degrees)) return 0;
    const long quarter = std::lround(*degrees / 90.0);
    return static_cast<int>(((quarter % 4) + 4) % 4) * 90;
}

}  // namespace

MediaProbe FFprobeProber::probe(const fs::path& url, std::stop_token stop) const {
    const fs::path path = paths::absolute(url);
    const auto result =
        ProcessRunner().run(m_tools.ffprobe, {"-v", "quiet", "-print_format", "json", "-show_format", "-show_streams", path.string()},
                            std::chrono::seconds(30), nullptr, nullptr, stop);
    if (!result.succeeded()) throw ConversionError::corruptedInput(url);
    return parseReport(result.standardOutput(), url);
}

MediaProbe FFprobeProber::parseReport(const std::string& report, const fs::path& url) {
    const Json document = Json::parse(report, nullptr, /*allow_exceptions=*/false);
    if (!document.is_object()) throw ConversionError::corruptedInput(url);

    // One element that is not an object makes the whole list unusable.
    std::vector<const Json*> streams;
    if (const Json* list = member(document, "streams"); list && list->is_array()) {
        for (const auto& stream : *list) {
            if (!stream.is_object()) {
                streams.clear();
                break;
            }
            streams.push_back(&stream);
        }
    }
    static const Json emptyObject = Json::object();
    const Json* format = member(document, "format");
    if (!format || !format->is_object()) format = &emptyObject;

    MediaProbe probe;
    const Json* video = nullptr;
    const Json* audio = nullptr;
    for (const Json* stream : streams) {
        const auto type = stringMember(*stream, "codec_type");
        if (!type) continue;
        if (*type == "video") {
            if (isAttachedPicture(*stream)) {
                if (!probe.coverCodec) {
                    probe.coverCodec = stringMember(*stream, "codec_name");
                    probe.coverStreamIndex = wholeNumberMember(*stream, "index");
                }
                ++probe.coverPictureCount;
                continue;
            }
            if (!video) video = stream;
            ++probe.videoTrackCount;
        }
        if (*type == "audio") {
            if (!audio) audio = stream;
            ++probe.audioTrackCount;
        }
        if (*type == "subtitle") ++probe.subtitleTrackCount;
        if (*type == "attachment") ++probe.attachmentCount;
        if (*type == "data") ++probe.dataTrackCount;
    }

    probe.durationSeconds = decimalMember(*format, "duration");
    if (!probe.durationSeconds && video) probe.durationSeconds = decimalMember(*video, "duration");

    if (video) {
        probe.videoCodec = stringMember(*video, "codec_name");
        probe.width = wholeNumberMember(*video, "width");
        probe.height = wholeNumberMember(*video, "height");
        const auto average = stringMember(*video, "avg_frame_rate");
        const auto real = stringMember(*video, "r_frame_rate");
        probe.isVariableFrameRate = average != real;
        probe.pixelFormat = stringMember(*video, "pix_fmt");
        probe.rotation = rotationOf(*video);
    }
    if (audio) {
        probe.audioCodec = stringMember(*audio, "codec_name");
        probe.audioBitrate = integerTextMember(*audio, "bit_rate");
        probe.audioSampleRate = integerTextMember(*audio, "sample_rate");
        probe.audioChannels = wholeNumberMember(*audio, "channels");
        // Lossless decoders state their depth as raw bits; PCM as its coded sample size.
        probe.audioBitsPerSample = integerTextMember(*audio, "bits_per_raw_sample");
        if (!probe.audioBitsPerSample || *probe.audioBitsPerSample <= 0) {
            const auto coded = wholeNumberMember(*audio, "bits_per_sample");
            probe.audioBitsPerSample = coded && *coded > 0 ? coded : std::nullopt;
        }
    }
    return probe;
}

}  // namespace kolvex
