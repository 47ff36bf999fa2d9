// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/BareAacEnd.h"

#include <chrono>
#include <cmath>
#include <deque>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "core/ffmpeg/LibavInput.h"
#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"

namespace kolvex {

namespace {

constexpr auto kTimeLimit = std::chrono::seconds(120);
// Under this, the last frame's sound is the encoder's padding: the ring of a sound that stopped
// dies away under it within a few samples.
constexpr float kAudible = 0.01f;  // -40 dBFS
// A frame's sound leans on the frame before it: the last is decoded after two more.
constexpr size_t kDecoded = 3;

struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct CodecDeleter {
    void operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
};
using Packet = std::unique_ptr<AVPacket, PacketDeleter>;

// How many samples at the end of a decoded frame are never heard.
std::optional<int> quietTail(const AVFrame& frame) {
    if (frame.format != AV_SAMPLE_FMT_FLTP || frame.nb_samples <= 0) return std::nullopt;
    const int channels = frame.ch_layout.nb_channels;
    for (int i = frame.nb_samples; i-- > 0;) {
        for (int c = 0; c < channels; ++c)
            if (std::fabs(reinterpret_cast<const float*>(frame.extended_data[c])[i]) > kAudible)
                return frame.nb_samples - 1 - i;
    }
    return frame.nb_samples;
}

}  // namespace

std::optional<double> BareAacEnd::read(const std::filesystem::path& url, std::stop_token stop) {
    LibavInput input(url, stop, kTimeLimit);
    AVFormatContext& format = input.format();
    const int index = av_find_best_stream(&format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0 || format.streams[index]->codecpar->codec_id != AV_CODEC_ID_AAC) return std::nullopt;
    const AVStream& stream = *format.streams[index];

    std::deque<Packet> last;
    for (;;) {
        throwIfStopRequested(stop);
        Packet packet(av_packet_alloc());
        if (!packet) throw ConversionError::corruptedInput(url);
        const int rc = av_read_frame(&format, packet.get());
        if (rc == AVERROR_EOF) break;
        if (rc < 0) {
            throwIfStopRequested(stop);
            throw ConversionError::corruptedInput(url);
        }
        if (packet->stream_index != index) continue;
        last.push_back(std::move(packet));
        if (last.size() > kDecoded) last.pop_front();
    }
    if (last.empty() || last.back()->pts == AV_NOPTS_VALUE || last.back()->duration <= 0) return std::nullopt;
    const double end = double(last.back()->pts + last.back()->duration) * av_q2d(stream.time_base);

    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_AAC);
    const std::unique_ptr<AVCodecContext, CodecDeleter> codec(decoder ? avcodec_alloc_context3(decoder) : nullptr);
    const std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    if (!codec || !frame || avcodec_parameters_to_context(codec.get(), stream.codecpar) < 0) return std::nullopt;
    codec->thread_count = 1;
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0) return std::nullopt;
    std::optional<int> tail;
    int rate = 0;
    const auto receive = [&] {
        while (avcodec_receive_frame(codec.get(), frame.get()) >= 0) {
            tail = quietTail(*frame);
            rate = frame->sample_rate;
            av_frame_unref(frame.get());
        }
    };
    for (const auto& packet : last) {
        // A frame the decoder refuses leaves the last one it gave: none is known to end the file.
        if (avcodec_send_packet(codec.get(), packet.get()) < 0) return std::nullopt;
        tail.reset();
        receive();
    }
    avcodec_send_packet(codec.get(), nullptr);
    receive();
    if (!tail || rate <= 0) return std::nullopt;
    return end - double(*tail) / rate;
}

}  // namespace kolvex
