// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/preview/FrameScrubber.h"

#include <algorithm>
#include <cmath>

#include "core/ffmpeg/preview/MediaInput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace kolvex {

namespace {

constexpr int kPreviewLimit = 900;
constexpr int kStillLimit = 1280;

// The quarter turns (clockwise) that show the stream upright.
int uprightTurns(const AVStream* stream) {
    size_t size = 0;
    const uint8_t* data = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!data || size < 9 * sizeof(int32_t)) return 0;
    const double counterClockwise = av_display_rotation_get(reinterpret_cast<const int32_t*>(data));
    if (!std::isfinite(counterClockwise)) return 0;
    const long quarter = std::lround(-counterClockwise / 90.0);
    return static_cast<int>(((quarter % 4) + 4) % 4);
}

VideoFrame turned(const VideoFrame& source, int turns) {
    if (turns == 0) return source;
    VideoFrame out;
    const bool swaps = turns % 2 == 1;
    out.width = swaps ? source.height : source.width;
    out.height = swaps ? source.width : source.height;
    out.rgba.resize(source.rgba.size());
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) {
            int nx = x, ny = y;
            if (turns == 1) {
                nx = source.height - 1 - y;
                ny = x;
            } else if (turns == 2) {
                nx = source.width - 1 - x;
                ny = source.height - 1 - y;
            } else {
                nx = y;
                ny = source.width - 1 - x;
            }
            const size_t from = (static_cast<size_t>(y) * source.width + x) * 4;
            const size_t to = (static_cast<size_t>(ny) * out.width + nx) * 4;
            std::copy_n(source.rgba.begin() + static_cast<std::ptrdiff_t>(from), 4,
                        out.rgba.begin() + static_cast<std::ptrdiff_t>(to));
        }
    }
    return out;
}

}  // namespace

FrameScrubber::FrameScrubber(std::filesystem::path source, int maximumWidth, int maximumHeight)
    : m_source(std::move(source)), m_maximumWidth(std::max(maximumWidth, 1)), m_maximumHeight(std::max(maximumHeight, 1)) {}

FrameScrubber::~FrameScrubber() = default;

std::optional<VideoFrame> FrameScrubber::decode(double seconds, std::stop_token stop) {
    std::lock_guard lock(m_mutex);
    if (!m_opened) {
        m_opened = true;
        m_input = MediaInput::open(m_source, MediaInput::Kind::video);
    }
    if (!m_input) return std::nullopt;
    auto frame = decodeLocked(std::isfinite(seconds) ? std::max(seconds, 0.0) : 0.0, stop, true);
    if (m_input) av_frame_unref(m_input->frame);
    return frame;
}

std::optional<VideoFrame> FrameScrubber::decodeLocked(double seconds, const std::stop_token& stop, bool seek) {
    MediaInput& in = *m_input;
    AVStream* stream = in.format->streams[in.streamIndex];
    const int64_t origin = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    // AV_TIME_BASE_Q is a C compound literal, which C++ compilers other than GCC refuse.
    const int64_t target = origin + av_rescale_q(static_cast<int64_t>(std::llround(seconds * AV_TIME_BASE)),
                                                 AVRational{1, AV_TIME_BASE}, stream->time_base);

    if (seek && av_seek_frame(in.format, in.streamIndex, target, AVSEEK_FLAG_BACKWARD) < 0 &&
        av_seek_frame(in.format, in.streamIndex, origin, AVSEEK_FLAG_BACKWARD) < 0) {
        // Some streams cannot seek at all: read them again from the start.
        m_input = MediaInput::open(m_source, MediaInput::Kind::video);
        if (!m_input) return std::nullopt;
        return decodeLocked(seconds, stop, false);
    }
    avcodec_flush_buffers(in.codec);

    AVFrame* kept = av_frame_alloc();
    if (!kept) return std::nullopt;
    bool haveKept = false;
    bool done = false;
    bool draining = false;
    while (!done && !stop.stop_requested()) {
        if (!draining) {
            const int rc = av_read_frame(in.format, in.packet);
            if (rc < 0) {
                draining = true;
                avcodec_send_packet(in.codec, nullptr);
            } else {
                const bool ours = in.packet->stream_index == in.streamIndex;
                const int sent = ours ? avcodec_send_packet(in.codec, in.packet) : 0;
                av_packet_unref(in.packet);
                if (!ours) continue;
                if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_INVALIDDATA) break;
            }
        }
        int rc;
        while ((rc = avcodec_receive_frame(in.codec, in.frame)) >= 0) {
            const int64_t pts = in.frame->best_effort_timestamp;
            const bool after = pts != AV_NOPTS_VALUE && pts > target;
            if (after && haveKept) {
                av_frame_unref(in.frame);
                done = true;
                break;
            }
            av_frame_unref(kept);
            av_frame_move_ref(kept, in.frame);
            haveKept = true;
            if (after) {
                done = true;
                break;
            }
        }
        if (draining && rc == AVERROR_EOF) break;
        if (rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_EOF) break;
    }
    std::optional<VideoFrame> result;
    if (haveKept && !stop.stop_requested()) {
        av_frame_unref(in.frame);
        av_frame_move_ref(in.frame, kept);
        result = convert();
    }
    av_frame_free(&kept);
    return result;
}

std::optional<VideoFrame> FrameScrubber::convert() const {
    const AVFrame* frame = m_input->frame;
    const AVStream* stream = m_input->format->streams[m_input->streamIndex];
    if (frame->width <= 0 || frame->height <= 0) return std::nullopt;

    double displayWidth = frame->width;
    const AVRational sar = frame->sample_aspect_ratio.num > 0 ? frame->sample_aspect_ratio : stream->sample_aspect_ratio;
    if (sar.num > 0 && sar.den > 0) displayWidth = frame->width * av_q2d(sar);
    const int turns = uprightTurns(stream);
    const double uprightWidth = turns % 2 ? frame->height : displayWidth;
    const double uprightHeight = turns % 2 ? displayWidth : frame->height;
    const double scale = std::min({1.0, m_maximumWidth / uprightWidth, m_maximumHeight / uprightHeight});
    const int width = std::max(1, static_cast<int>(std::lround(displayWidth * scale)));
    const int height = std::max(1, static_cast<int>(std::lround(frame->height * scale)));

    SwsContext* sws = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), width,
                                     height, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws) return std::nullopt;
    VideoFrame out;
    out.width = width;
    out.height = height;
    out.rgba.resize(static_cast<size_t>(width) * height * 4);
    uint8_t* planes[4] = {out.rgba.data(), nullptr, nullptr, nullptr};
    int strides[4] = {width * 4, 0, 0, 0};
    const int rows = sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides);
    sws_freeContext(sws);
    if (rows <= 0) return std::nullopt;
    return turned(out, turns);
}

FrameScrubber::Provider FrameScrubber::provider(const std::filesystem::path& file, bool isVideo) {
    if (!isVideo) return nullptr;
    auto scrubber = std::make_shared<FrameScrubber>(file, kPreviewLimit, kPreviewLimit);
    return [scrubber](double seconds, std::stop_token stop) { return scrubber->decode(seconds, std::move(stop)); };
}

std::optional<double> FrameScrubber::duration(const std::filesystem::path& file) {
    auto input = MediaInput::open(file, MediaInput::Kind::video);
    if (!input) return std::nullopt;
    const AVStream* stream = input->format->streams[input->streamIndex];
    if (input->format->duration != AV_NOPTS_VALUE && input->format->duration > 0)
        return static_cast<double>(input->format->duration) / AV_TIME_BASE;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        return static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    return std::nullopt;
}

std::optional<VideoFrame> FrameScrubber::videoFrame(const std::filesystem::path& file, std::stop_token stop) {
    double at = 0;
    if (auto length = duration(file); length && *length / 3 >= 0) at = *length / 3;
    FrameScrubber scrubber(file, kStillLimit, kStillLimit);
    return scrubber.decode(at, std::move(stop));
}

}  // namespace kolvex
