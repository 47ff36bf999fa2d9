// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/LibavInput.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <mutex>
#include <string>
#include <string_view>

#include <fmt/format.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"
#include "core/services/ErrorMapper.h"
#include "core/services/PathUtils.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

// Readers of lists, manifests and session descriptions: they open other files or addresses than
// the one given, so such a file is no media of its own.
bool opensOtherFiles(const AVInputFormat* demuxer) {
    static const char* const names[] = {"hls",      "concat",     "dash", "webm_dash_manifest", "imf", "sdp", "rtp",
                                        "rtsp",     "ffmetadata", "data"};
    if (!demuxer || !demuxer->name) return false;
    for (const char* name : names)
        if (av_match_name(name, demuxer->name)) return true;
    return false;
}

}  // namespace

LibavInput::LibavInput(const fs::path& url, std::stop_token stop, std::chrono::seconds timeLimit, Reading reading)
    : m_url(url), m_interrupt{stop, std::chrono::steady_clock::now() + timeLimit} {
    // Failures come back as errors; FFmpeg's own remarks would only reach a terminal nobody reads.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

    throwIfStopRequested(stop);
    // A FIFO would hold the open below for ever, out of reach of the interrupt callback.
    if (auto unreadable = ErrorMapper::unreadableSource(url)) throw *unreadable;
    m_context = avformat_alloc_context();
    if (!m_context) throw ConversionError::corruptedInput(url);
    m_context->interrupt_callback = {&interrupted, &m_interrupt};
    // Only local files: a playlist dressed up as a video must not make us open addresses.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const std::string location = "file:" + paths::absolute(url).string();
    // The demuxer is found first and a reader of lists refused before it opens anything: its
    // header alone would open what the list points to.
    const AVInputFormat* demuxer = nullptr;
    AVIOContext* io = nullptr;
    AVDictionary* ioOptions = nullptr;
    av_dict_set(&ioOptions, "protocol_whitelist", "file", 0);
    int rc = avio_open2(&io, location.c_str(), AVIO_FLAG_READ, &m_context->interrupt_callback, &ioOptions);
    av_dict_free(&ioOptions);
    if (rc >= 0) rc = av_probe_input_buffer2(io, &demuxer, location.c_str(), nullptr, 0, 0);
    avio_closep(&io);
    if (rc >= 0 && opensOtherFiles(demuxer)) rc = AVERROR_INVALIDDATA;
    // On failure avformat_open_input frees the context and clears the pointer.
    if (rc >= 0) rc = avformat_open_input(&m_context, location.c_str(), demuxer, &options);
    av_dict_free(&options);
    // What the container claims is checked before any decoder allocates a picture of that size;
    // what a stream's own headers claim, by the decoders as they read them.
    bool oversized = rc >= 0 && claimsOversizedPictures(*m_context);
    if (oversized) rc = AVERROR_INVALIDDATA;
    if (rc >= 0 && reading == Reading::headersWhenComplete && headerStatesStreams(*m_context)) m_streamsRead = false;
    if (reading == Reading::headersOnly) m_streamsRead = false;
    if (rc >= 0 && m_streamsRead) rc = findStreamInfo(*m_context);
    if (rc >= 0 && claimsOversizedPictures(*m_context)) {
        oversized = true;
        rc = AVERROR_INVALIDDATA;
    }
    if (rc < 0) {
        avformat_close_input(&m_context);
        throwIfStopRequested(stop);
        throw oversized ? ConversionError::inputTooLarge(url) : ConversionError::corruptedInput(url);
    }
    if (stop.stop_requested()) {
        avformat_close_input(&m_context);
        throw OperationCancelled();
    }
}

LibavInput::~LibavInput() { avformat_close_input(&m_context); }

void LibavInput::rearm(std::stop_token stop, std::chrono::seconds timeLimit) {
    m_interrupt = {std::move(stop), std::chrono::steady_clock::now() + timeLimit};
}

int LibavInput::interrupted(void* opaque) {
    const auto* state = static_cast<const Interrupt*>(opaque);
    return state->stop.stop_requested() || std::chrono::steady_clock::now() > state->deadline;
}

bool LibavInput::claimsOversizedPictures(const AVFormatContext& format) {
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVCodecParameters& parameters = *format.streams[i]->codecpar;
        if (parameters.codec_type != AVMEDIA_TYPE_VIDEO) continue;
        const long long width = parameters.width;
        const long long height = parameters.height;
        if (width < 0 || height < 0 || width * height > maxFramePixels) return true;
    }
    return false;
}

bool LibavInput::headerStatesStreams(const AVFormatContext& format) {
    // Demuxers whose header lists every stream with its codec's parameters; others (MPEG-TS,
    // raw streams) find streams and facts only in the packets.
    static const char* const complete[] = {"mov", "matroska"};
    if (!format.iformat || !format.iformat->name || format.nb_streams == 0) return false;
    const std::string_view names = format.iformat->name;
    const std::string_view first = names.substr(0, names.find(','));
    if (std::find(std::begin(complete), std::end(complete), first) == std::end(complete)) return false;
    if (format.duration == AV_NOPTS_VALUE || format.duration <= 0) return false;
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVCodecParameters& parameters = *format.streams[i]->codecpar;
        if (parameters.codec_id == AV_CODEC_ID_NONE) return false;
        if (parameters.codec_type == AVMEDIA_TYPE_VIDEO && (parameters.width <= 0 || parameters.height <= 0)) return false;
        if (parameters.codec_type == AVMEDIA_TYPE_AUDIO &&
            (parameters.sample_rate <= 0 || parameters.ch_layout.nb_channels <= 0))
            return false;
    }
    return true;
}

int LibavInput::findStreamInfo(AVFormatContext& format) {
    // Streams found during the call get no options: the count is the one before it.
    const unsigned count = format.nb_streams;
    AVDictionary** options = nullptr;
    if (count > 0) {
        options = static_cast<AVDictionary**>(av_calloc(count, sizeof(AVDictionary*)));
        if (!options) return AVERROR(ENOMEM);
    }
    const std::string pixels = std::to_string(maxFramePixels);
    for (unsigned i = 0; i < count; ++i) {
        av_dict_set(&options[i], "max_pixels", pixels.c_str(), 0);
        av_dict_set(&options[i], "threads", "1", 0);
    }
    const int rc = avformat_find_stream_info(&format, options);
    for (unsigned i = 0; i < count; ++i) av_dict_free(&options[i]);
    av_free(options);
    return rc;
}

double LibavInput::printedSeconds(double seconds) {
    // A file's every packet is read so: in whole microseconds, divided as the text is read back
    // (both correctly rounded, so alike to the bit), unless the product lies too near a half for
    // its own rounding to be sure which way the text rounds.
    constexpr double kLargest = 1e6;  // seconds: below it the product errs by under 1e-4
    if (std::abs(seconds) < kLargest) {
        const double microseconds = seconds * 1e6;
        const double whole = std::nearbyint(microseconds);
        if (0.5 - std::abs(microseconds - whole) > 1e-3) return whole / 1e6;
    }
    const std::string text = fmt::format("{:.6f}", seconds);
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

}  // namespace kolvex
