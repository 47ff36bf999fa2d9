// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/LibavProber.h"

#include <cctype>
#include <charconv>
#include <chrono>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/hash.h>
#include <libavutil/pixdesc.h>
}

#include "core/ffmpeg/KeptInput.h"
#include "core/ffmpeg/LibavInput.h"
#include "core/ffmpeg/LibavKeyframeReader.h"
#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

constexpr auto kTimeLimit = std::chrono::seconds(30);

std::optional<std::string> codecName(const AVCodecParameters& parameters) {
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(parameters.codec_id);
    if (!descriptor) return std::nullopt;
    return std::string(descriptor->name);
}

bool turnsPicture(const int32_t* matrix) {
    const double a = matrix[0], b = matrix[1], c = matrix[3], d = matrix[4];
    const double first = std::hypot(a, c), second = std::hypot(b, d);
    if (!(first > 0) || !(second > 0)) return false;
    const double tolerance = 1e-3;
    return std::abs(first - second) <= tolerance * std::max(first, second) &&
           std::abs(a * b + c * d) <= tolerance * first * second;
}

// The display matrix's rotation (older files carry a "rotate" tag), folded into 0…270 in
// quarter turns, as ffprobe's report reads.
int rotationOf(const AVStream& stream) {
    std::optional<double> degrees;
    size_t size = 0;
    if (const uint8_t* matrix = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
        matrix && size >= 9 * sizeof(int32_t)) {
        const auto* values = reinterpret_cast<const int32_t*>(matrix);
        // Only a matrix that turns the picture (its two columns as long as each other, at right
        // angles, neither empty) rotates it; anything else (all zeros, a skew) is shown as stored.
        // ffprobe prints the angle as a whole number.
        if (turnsPicture(values)) degrees = std::trunc(av_display_rotation_get(values));
        else degrees = 0.0;
    } else if (const AVDictionaryEntry* tag = av_dict_get(stream.metadata, "rotate", nullptr, 0)) {
        double value = 0;
        const char* end = tag->value + std::strlen(tag->value);
        if (std::from_chars(tag->value, end, value).ptr == end) degrees = value;
    }
    if (!degrees || !std::isfinite(*degrees)) return 0;
    const long quarter = std::lround(*degrees / 90.0);
    return static_cast<int>(((quarter % 4) + 4) % 4) * 90;
}

// How long the index's packets that the edit list hides last before what it shows, seconds.
double hiddenLead(AVStream& stream) {
    if (stream.start_time == AV_NOPTS_VALUE) return 0;
    int64_t earliest = stream.start_time;
    const int count = avformat_index_get_entries_count(&stream);
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(&stream, i);
        if (entry && (entry->flags & AVINDEX_DISCARD_FRAME) && entry->timestamp != AV_NOPTS_VALUE)
            earliest = std::min(earliest, entry->timestamp);
    }
    return double(stream.start_time - earliest) * av_q2d(stream.time_base);
}

// The longest delay a sound encoder puts at its stream's head (MP3's decoder delay with its
// encoder's), in samples.
constexpr double kLongestPriming = 2112;

std::string rational(AVRational value) { return std::to_string(value.num) + "/" + std::to_string(value.den); }

// The profile as ffprobe names it: by name, else by number, none when unknown.
std::optional<std::string> profileOf(const AVCodecParameters& parameters) {
    if (const char* name = avcodec_profile_name(parameters.codec_id, parameters.profile)) return std::string(name);
    if (parameters.profile != FF_PROFILE_UNKNOWN) return std::to_string(parameters.profile);
    return std::nullopt;
}

// "CRC32:" and the checksum of the decoder setup (extradata) in hexadecimal, as ffprobe prints
// it; none for a stream without one.
std::optional<std::string> setupOf(const AVCodecParameters& parameters) {
    if (!parameters.extradata || parameters.extradata_size <= 0) return std::nullopt;
    AVHashContext* hash = nullptr;
    if (av_hash_alloc(&hash, "CRC32") < 0) return std::nullopt;
    av_hash_init(hash);
    av_hash_update(hash, parameters.extradata, static_cast<size_t>(parameters.extradata_size));
    char hex[2 * AV_HASH_MAX_SIZE + 1] = {};
    av_hash_final_hex(hash, reinterpret_cast<uint8_t*>(hex), sizeof(hex));
    av_hash_freep(&hash);
    return "CRC32:" + std::string(hex);
}

MediaProbe factsOf(const AVFormatContext& format) {
    MediaProbe probe;
    if (format.iformat && format.iformat->name) {
        const std::string names = format.iformat->name;
        probe.demuxer = names.substr(0, names.find(','));
    }
    AVStream* video = nullptr;
    AVStream* audio = nullptr;
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        AVStream* stream = format.streams[i];
        switch (stream->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) {
                ++probe.coverPictureCount;
                if (!probe.coverCodec) {
                    probe.coverCodec = codecName(*stream->codecpar);
                    probe.coverStreamIndex = stream->index;
                }
                break;
            }
            if (!video) video = stream;
            ++probe.videoTrackCount;
            break;
        case AVMEDIA_TYPE_AUDIO:
            if (!audio) audio = stream;
            ++probe.audioTrackCount;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            ++probe.subtitleTrackCount;
            probe.subtitleCodecs.push_back(codecName(*stream->codecpar).value_or(""));
            break;
        case AVMEDIA_TYPE_ATTACHMENT: ++probe.attachmentCount; break;
        case AVMEDIA_TYPE_DATA: ++probe.dataTrackCount; break;
        default: break;
        }
    }

    probe.chapterCount = format.nb_chapters;
    if (format.duration != AV_NOPTS_VALUE) probe.durationSeconds = LibavInput::printedSeconds(double(format.duration) / AV_TIME_BASE);
    if (!probe.durationSeconds && video && video->duration != AV_NOPTS_VALUE)
        probe.durationSeconds = LibavInput::printedSeconds(double(video->duration) * av_q2d(video->time_base));

    if (video) {
        const AVCodecParameters& parameters = *video->codecpar;
        probe.videoCodec = codecName(parameters);
        probe.width = parameters.width;
        probe.height = parameters.height;
        probe.isVariableFrameRate = video->avg_frame_rate.num != video->r_frame_rate.num ||
                                    video->avg_frame_rate.den != video->r_frame_rate.den;
        if (const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(parameters.format))) probe.pixelFormat = name;
        probe.rotation = rotationOf(*video);
        probe.videoTimeBase = rational(video->time_base);
        probe.frameRate = rational(video->r_frame_rate);
        probe.videoProfile = profileOf(parameters);
        probe.videoLevel = parameters.level;
        probe.videoSetup = setupOf(parameters);
        // Only AVI, which states no presentation times, needs it (and only a decoder tells it).
        if (probe.demuxer == "avi") probe.videoDecodeDelay = parameters.video_delay;
        probe.editHidesPictures = hiddenLead(*video) > 0;
    }
    if (audio) {
        const AVCodecParameters& parameters = *audio->codecpar;
        probe.audioCodec = codecName(parameters);
        if (parameters.bit_rate > 0) probe.audioBitrate = parameters.bit_rate;
        probe.audioSampleRate = parameters.sample_rate;
        probe.audioChannels = parameters.ch_layout.nb_channels;
        if (parameters.ch_layout.order == AV_CHANNEL_ORDER_NATIVE) {
            char layout[128] = {};
            if (av_channel_layout_describe(&parameters.ch_layout, layout, sizeof layout) > 0) probe.audioChannelLayout = layout;
        }
        // Lossless decoders state their depth as raw bits; PCM as its coded sample size.
        if (parameters.bits_per_raw_sample > 0)
            probe.audioBitsPerSample = parameters.bits_per_raw_sample;
        else if (const int coded = av_get_bits_per_sample(parameters.codec_id); coded > 0)
            probe.audioBitsPerSample = coded;
        probe.audioTimeBase = rational(audio->time_base);
        if (const char* name = av_get_sample_fmt_name(static_cast<AVSampleFormat>(parameters.format)))
            probe.audioSampleFormat = name;
        probe.audioProfile = profileOf(parameters);
        probe.audioSetup = setupOf(parameters);
        probe.editHidesSound = parameters.sample_rate > 0 && hiddenLead(*audio) * parameters.sample_rate > kLongestPriming;
    }
    // Only an AVI's MPEG-4 pictures can be packed: whether they are takes a look at them.
    if (probe.demuxer != "avi" || probe.videoCodec != "mpeg4") probe.packedBFrames = false;
    return probe;
}

// Where the start code 00 00 01 `code` begins in `data` at or after `from`, or `size`.
size_t startCode(const uint8_t* data, size_t size, uint8_t code, size_t from = 0) {
    for (size_t i = from; i + 3 < size; ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == code) return i;
    return size;
}

// DivX's user data, "DivX" then its version, "b" or "Build" and its build number, and a last
// letter: "p" says the stream is packed.
bool saysPacked(const uint8_t* data, size_t size) {
    constexpr uint8_t kUserData = 0xB2;
    for (size_t at = startCode(data, size, kUserData); at < size; at = startCode(data, size, kUserData, at + 4)) {
        size_t end = at + 4;  // the user data runs to the next start code
        while (end < size && !(end + 2 < size && data[end] == 0 && data[end + 1] == 0 && data[end + 2] == 1)) ++end;
        const std::string text(reinterpret_cast<const char*>(data) + at + 4, end - at - 4);
        if (!text.starts_with("DivX")) continue;
        size_t i = 4;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
        if (text.compare(i, 5, "Build") == 0) i += 5;
        else if (text.compare(i, 1, "b") == 0) i += 1;
        else continue;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
        if (i < text.size() && text[i] == 'p') return true;
    }
    return false;
}

// Whether an AVI's MPEG-4 Visual (ASP) pictures are packed: DivX's user data says so, or one of the
// first chunks holds two pictures. Reads from where the input stands.
bool packsBFrames(AVFormatContext& format, const MediaProbe& probe) {
    if (probe.demuxer != "avi" || probe.videoCodec != "mpeg4") return false;
    const int video = av_find_best_stream(&format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video < 0) return false;
    const AVCodecParameters& parameters = *format.streams[video]->codecpar;
    if (parameters.extradata && saysPacked(parameters.extradata, static_cast<size_t>(parameters.extradata_size))) return true;
    AVPacket* packet = av_packet_alloc();
    if (!packet) return false;
    constexpr uint8_t kPicture = 0xB6;
    bool packed = false;
    for (int read = 0, pictures = 0; !packed && read < 256 && pictures < 16 && av_read_frame(&format, packet) >= 0; ++read) {
        if (packet->stream_index == video) {
            ++pictures;
            const auto size = static_cast<size_t>(packet->size);
            const size_t first = startCode(packet->data, size, kPicture);
            packed = saysPacked(packet->data, size) || (first < size && startCode(packet->data, size, kPicture, first + 4) < size);
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return packed;
}

}  // namespace

LibavProber::LibavProber() = default;

MediaProbe LibavProber::probe(const fs::path& url, std::stop_token stop) const {
    const LibavInput input(url, stop, kTimeLimit);
    MediaProbe probe = factsOf(input.format());
    probe.packedBFrames = packsBFrames(input.format(), probe);
    return probe;
}

MediaProbe LibavProber::probeHeaders(const fs::path& url, std::stop_token stop) const {
    const LibavInput input(url, stop, kTimeLimit, LibavInput::Reading::headersWhenComplete);
    MediaProbe probe = factsOf(input.format());
    probe.packedBFrames = packsBFrames(input.format(), probe);
    return probe;
}

MediaProbe LibavProber::facts(const LibavInput& input) { return factsOf(input.format()); }

std::pair<MediaProbe, std::optional<StreamCopyCuts>> LibavProber::probeWithEveryCut(const fs::path& url,
                                                                                     std::stop_token stop) const {
    LibavInput input(url, stop, kTimeLimit);
    auto [probe, cuts] = factsWithIndexedCuts(input);
    if (cuts) return {std::move(probe), std::move(cuts)};
    probe.packedBFrames = packsBFrames(input.format(), probe);
    // Looking at the packing read an AVI's first packets, which the cuts need too.
    const bool packetsRead = probe.demuxer == "avi" && probe.videoCodec == "mpeg4";
    try {
        cuts = packetsRead ? LibavKeyframeReader().cuts(url, stop) : LibavKeyframeReader::cutsKept(input, stop, std::nullopt);
    } catch (const ConversionError&) {
        cuts = StreamCopyCuts();
    }
    return {std::move(probe), std::move(cuts)};
}

bool LibavProber::picturesPacked(const fs::path& url, const MediaProbe& probe, std::stop_token stop) {
    if (probe.demuxer != "avi" || probe.videoCodec != "mpeg4") return false;
    const LibavInput input(url, stop, kTimeLimit, LibavInput::Reading::headersOnly);
    return packsBFrames(input.format(), probe);
}

std::pair<MediaProbe, std::optional<StreamCopyCuts>> LibavProber::factsWithIndexedCuts(LibavInput& input) {
    MediaProbe probe = factsOf(input.format());
    std::optional<StreamCopyCuts> cuts = LibavKeyframeReader::fromAviIndex(input);
    if (cuts) probe.packedBFrames = packsBFrames(input.format(), probe);
    return {std::move(probe), std::move(cuts)};
}

std::pair<MediaProbe, std::optional<StreamCopyCuts>> LibavProber::probeWithCuts(const fs::path& url,
                                                                                 std::pair<double, double> window,
                                                                                 std::stop_token stop) const {
    if (auto kept = KeptInput::take(url)) {
        throwIfStopRequested(stop);
        // What the sheet read of every packet holds the window's already.
        if (kept->cuts) return {std::move(kept->probe), kept->cuts->within(window)};
        try {
            auto cuts = LibavKeyframeReader::cutsKept(*kept->input, stop, window);
            return {std::move(kept->probe), std::move(cuts)};
        } catch (const ConversionError&) {
            return {std::move(kept->probe), std::nullopt};
        }
    }
    LibavInput input(url, stop, kTimeLimit);
    MediaProbe probe = factsOf(input.format());
    // The first pictures are looked at for packing before the window's read, which seeks to it
    // (or reads an AVI's index alone).
    probe.packedBFrames = packsBFrames(input.format(), probe);
    try {
        return {std::move(probe), LibavKeyframeReader::cuts(input, stop, window)};
    } catch (const ConversionError&) {
        return {std::move(probe), std::nullopt};
    }
}

}  // namespace kolvex
