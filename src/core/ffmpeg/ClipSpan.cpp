// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/ClipSpan.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>

extern "C" {
#include <libavcodec/packet.h>
#include <libavformat/avformat.h>
#include <libavutil/intreadwrite.h>
}

#include "core/ffmpeg/LibavInput.h"
#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"

namespace kolvex {

namespace {

constexpr auto kTimeLimit = std::chrono::seconds(120);
// How far before the stated end the last pictures are looked for: more than any keyframe
// interval a seek may land before, far less than reading a long file whole.
constexpr double kTailSeconds = 12;
// How many packets are read from the start for the first sound, at most.
constexpr int kHeadPackets = 2000;

struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

int firstOf(const AVFormatContext& format, AVMediaType type) {
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVStream* stream = format.streams[i];
        if (stream->codecpar->codec_type == type && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return static_cast<int>(i);
    }
    return -1;
}

// What a packet tells the decoder to drop: samples at its start and at its end.
std::pair<int64_t, int64_t> dropped(const AVPacket& packet) {
    size_t size = 0;
    const uint8_t* data = av_packet_get_side_data(&packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
    if (!data || size < 8) return {0, 0};
    return {AV_RL32(data), AV_RL32(data + 4)};
}

// Packet times read so far, in each stream's time base.
struct Reading {
    const AVStream* video = nullptr;
    const AVStream* audio = nullptr;
    int64_t frame = 0;  // one picture's duration, for packets that state none
    std::optional<int64_t> pictureEnd;
    std::optional<double> soundStart, soundEnd;

    void take(const AVPacket& packet) {
        if (packet.pts == AV_NOPTS_VALUE) return;
        if (video && packet.stream_index == video->index) {
            const int64_t last = packet.pts + (packet.duration > 0 ? packet.duration : frame);
            pictureEnd = std::max(pictureEnd.value_or(last), last);
        } else if (audio && packet.stream_index == audio->index) {
            const auto [head, tail] = dropped(packet);
            const int rate = audio->codecpar->sample_rate;
            const double timeBase = av_q2d(audio->time_base);
            const double at = double(packet.pts) * timeBase;
            if (!soundStart) {
                // A delay the container states for the codec (Opus) when the packet states none.
                const int64_t delay = head > 0 ? head : std::max(0, audio->codecpar->initial_padding);
                soundStart = at + (rate > 0 ? double(delay) / rate : 0);
            }
            const double end = at + double(packet.duration) * timeBase - (rate > 0 ? double(tail) / rate : 0);
            soundEnd = std::max(soundEnd.value_or(end), end);
        }
    }
};

// Reads packets into `reading` until the end of the file, or until `enough` says so.
template <typename Enough>
void readPackets(const std::filesystem::path& url, AVFormatContext& format, Reading& reading, std::stop_token stop,
                 Enough enough) {
    const std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (!packet) throw ConversionError::corruptedInput(url);
    for (int count = 0;; ++count) {
        throwIfStopRequested(stop);
        if (enough(count)) return;
        const int rc = av_read_frame(&format, packet.get());
        if (rc < 0) {
            throwIfStopRequested(stop);
            if (rc == AVERROR_EXIT) throw ConversionError::corruptedInput(url);
            return;  // the end, or a damaged stretch after what was read so far
        }
        reading.take(*packet);
        av_packet_unref(packet.get());
    }
}

}  // namespace

std::optional<ClipSpan> ClipSpan::read(const std::filesystem::path& url, std::stop_token stop) {
    LibavInput input(url, stop, kTimeLimit);
    AVFormatContext& format = input.format();
    const int videoIndex = firstOf(format, AVMEDIA_TYPE_VIDEO);
    if (videoIndex < 0) return std::nullopt;
    const int audioIndex = firstOf(format, AVMEDIA_TYPE_AUDIO);
    for (unsigned i = 0; i < format.nb_streams; ++i)
        if (static_cast<int>(i) != videoIndex && static_cast<int>(i) != audioIndex)
            format.streams[i]->discard = AVDISCARD_ALL;
    const AVStream& video = *format.streams[videoIndex];
    if (video.start_time == AV_NOPTS_VALUE) return std::nullopt;

    Reading reading;
    reading.video = &video;
    reading.audio = audioIndex >= 0 ? format.streams[audioIndex] : nullptr;
    const AVRational rate = video.avg_frame_rate.num > 0 ? video.avg_frame_rate : video.r_frame_rate;
    reading.frame = rate.num > 0 ? av_rescale_q(1, av_inv_q(rate), video.time_base) : 0;

    const bool longFile = format.duration != AV_NOPTS_VALUE && double(format.duration) / AV_TIME_BASE > kTailSeconds;
    const auto readAll = [&](AVFormatContext& from, Reading& into) {
        readPackets(url, from, into, stop, [](int) { return false; });
    };
    if (!longFile) {
        readAll(format, reading);
    } else {
        // The first sound from the start, then the last pictures and sound from near the end.
        if (reading.audio)
            readPackets(url, format, reading, stop, [&](int count) { return reading.soundStart || count >= kHeadPackets; });
        const auto start = reading.soundStart;
        reading.pictureEnd.reset();
        reading.soundEnd.reset();
        const int64_t from = (format.start_time != AV_NOPTS_VALUE ? format.start_time : 0) + format.duration -
                             int64_t(kTailSeconds * AV_TIME_BASE);
        if (avformat_seek_file(&format, -1, std::numeric_limits<int64_t>::min(), from, from, 0) >= 0) readAll(format, reading);
        reading.soundStart = start;
        if (!reading.pictureEnd) {
            // The seek failed: every packet from the start.
            LibavInput whole(url, stop, kTimeLimit);
            // A format that finds its streams while reading may open with another count.
            if (whole.format().nb_streams != format.nb_streams) return std::nullopt;
            for (unsigned i = 0; i < whole.format().nb_streams; ++i)
                whole.format().streams[i]->discard = format.streams[i]->discard;
            Reading again = reading;
            again.video = whole.format().streams[videoIndex];
            again.audio = audioIndex >= 0 ? whole.format().streams[audioIndex] : nullptr;
            again.soundStart.reset();
            readAll(whole.format(), again);
            reading = again;
        }
    }
    if (!reading.pictureEnd) return std::nullopt;

    ClipSpan span;
    span.fileStart = format.start_time != AV_NOPTS_VALUE ? double(format.start_time) / AV_TIME_BASE : 0;
    span.pictureStart = double(video.start_time) * av_q2d(video.time_base);
    span.pictureEnd = double(*reading.pictureEnd) * av_q2d(video.time_base);
    span.soundStart = reading.soundStart;
    span.soundEnd = reading.soundEnd;
    return span;
}

}  // namespace kolvex
