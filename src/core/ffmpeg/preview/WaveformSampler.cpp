// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/preview/WaveformSampler.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/ffmpeg/preview/MediaInput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace kolvex {

namespace {

// |sample| of one sample in 0…1 (or beyond for float data that is out of range).
float magnitude(const uint8_t* data, AVSampleFormat format, int64_t index) {
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8:
        return std::abs((static_cast<float>(data[index]) - 128.0f) / 128.0f);
    case AV_SAMPLE_FMT_S16: {
        int16_t v;
        std::memcpy(&v, data + index * 2, 2);
        return std::abs(static_cast<float>(v) / 32768.0f);
    }
    case AV_SAMPLE_FMT_S32: {
        int32_t v;
        std::memcpy(&v, data + index * 4, 4);
        return static_cast<float>(std::abs(static_cast<double>(v) / 2147483648.0));
    }
    case AV_SAMPLE_FMT_S64: {
        int64_t v;
        std::memcpy(&v, data + index * 8, 8);
        return static_cast<float>(std::abs(static_cast<double>(v) / 9223372036854775808.0));
    }
    case AV_SAMPLE_FMT_FLT: {
        float v;
        std::memcpy(&v, data + index * 4, 4);
        return std::isfinite(v) ? std::abs(v) : 0.0f;
    }
    case AV_SAMPLE_FMT_DBL: {
        double v;
        std::memcpy(&v, data + index * 8, 8);
        return std::isfinite(v) ? static_cast<float>(std::abs(v)) : 0.0f;
    }
    default:
        return 0.0f;
    }
}

}  // namespace

std::optional<std::vector<float>> WaveformSampler::peaks(const std::filesystem::path& file, int buckets,
                                                         std::stop_token stop) {
    buckets = std::max(buckets, 1);
    auto input = MediaInput::open(file, MediaInput::Kind::audio);
    if (!input) return std::nullopt;
    AVStream* stream = input->format->streams[input->streamIndex];
    const int rate = stream->codecpar->sample_rate;
    if (rate <= 0) return std::nullopt;

    int64_t length = 0;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        length = av_rescale_q(stream->duration, stream->time_base, AVRational{1, rate});
    else if (input->format->duration != AV_NOPTS_VALUE && input->format->duration > 0)
        length = av_rescale(input->format->duration, rate, AV_TIME_BASE);
    if (length < 1) return std::nullopt;

    const int64_t perBucket = std::max<int64_t>(length / buckets, 1);
    const int64_t last = buckets - 1;
    std::vector<float> peak(static_cast<size_t>(buckets), 0.0f);
    int64_t position = 0;

    auto take = [&](const AVFrame* frame) {
        const auto format = static_cast<AVSampleFormat>(frame->format);
        const int channels = frame->ch_layout.nb_channels;
        const bool planar = av_sample_fmt_is_planar(format);
        for (int64_t i = 0; i < frame->nb_samples; ++i) {
            const auto b = static_cast<size_t>(std::min((position + i) / perBucket, last));
            float loudest = peak[b];
            for (int c = 0; c < channels; ++c) {
                const uint8_t* data = planar ? frame->extended_data[c] : frame->extended_data[0];
                if (!data) continue;
                const int64_t index = planar ? i : i * channels + c;
                loudest = std::max(loudest, magnitude(data, format, index));
            }
            peak[b] = loudest;
        }
        position += frame->nb_samples;
    };

    bool ended = false;
    while (!ended && !stop.stop_requested()) {
        int rc = av_read_frame(input->format, input->packet);
        if (rc < 0) {
            avcodec_send_packet(input->codec, nullptr);  // drain what the decoder holds
            ended = true;
        } else {
            const bool ours = input->packet->stream_index == input->streamIndex;
            if (ours) rc = avcodec_send_packet(input->codec, input->packet);
            av_packet_unref(input->packet);
            if (!ours) continue;
            if (rc < 0 && rc != AVERROR(EAGAIN)) break;  // a damaged stream: keep what was read
        }
        while ((rc = avcodec_receive_frame(input->codec, input->frame)) >= 0) {
            take(input->frame);
            av_frame_unref(input->frame);
        }
        if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF) break;
    }

    const int64_t reached = (position + perBucket - 1) / perBucket;
    const auto kept = static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(reached, 1), buckets));
    peak.resize(kept);
    const float loudest = *std::max_element(peak.begin(), peak.end());
    if (loudest > 0.001f)
        for (float& p : peak) p = std::min(p / loudest, 1.0f);
    return peak;
}

}  // namespace kolvex
