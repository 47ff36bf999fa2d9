// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/AviMpeg4Pictures.h"

#include <string_view>

extern "C" {
#include <libavcodec/bsf.h>
#include <libavcodec/packet.h>
#include <libavformat/avformat.h>
}

#include "core/format/ConversionError.h"

namespace kolvex {

namespace {

constexpr int kBFrame = 2;

}  // namespace

bool AviMpeg4Pictures::applies(const AVStream& stream, bool avi) {
    return avi && stream.codecpar->codec_id == AV_CODEC_ID_MPEG4 && stream.codecpar->video_delay > 0;
}

AviMpeg4Pictures::AviMpeg4Pictures(const AVStream& stream) : m_delay(stream.codecpar->video_delay) {
    const AVBitStreamFilter* unpack = av_bsf_get_by_name("mpeg4_unpack_bframes");
    if (!unpack || av_bsf_alloc(unpack, &m_filter) < 0 || avcodec_parameters_copy(m_filter->par_in, stream.codecpar) < 0) {
        av_bsf_free(&m_filter);
        throw ConversionError::backendFailure("libavcodec", 0, "no mpeg4_unpack_bframes filter");
    }
    m_filter->time_base_in = stream.time_base;
    m_out = av_packet_alloc();
    if (!m_out || av_bsf_init(m_filter) < 0) {
        av_packet_free(&m_out);
        av_bsf_free(&m_filter);
        throw ConversionError::backendFailure("libavcodec", 0, "mpeg4_unpack_bframes could not start");
    }
}

AviMpeg4Pictures::~AviMpeg4Pictures() {
    av_packet_free(&m_out);
    av_bsf_free(&m_filter);
}

std::optional<int> AviMpeg4Pictures::codingType(const uint8_t* data, size_t size) {
    constexpr uint8_t kPictureStart = 0xB6;
    for (size_t i = 0; i + 4 < size; ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == kPictureStart) return data[i + 4] >> 6;
    return std::nullopt;
}

void AviMpeg4Pictures::push(AVPacket& packet, std::vector<Picture>& timed) {
    // The filter gives one packet for each it is given, with its times: a packed chunk's
    // reference picture, its B-frame in place of the placeholder chunk after it.
    if (av_bsf_send_packet(m_filter, &packet) < 0) {
        av_packet_unref(&packet);
        return;
    }
    while (av_bsf_receive_packet(m_filter, m_out) >= 0) {
        take(*m_out, timed);
        av_packet_unref(m_out);
    }
}

void AviMpeg4Pictures::take(const AVPacket& unpacked, std::vector<Picture>& timed) {
    if (unpacked.dts == AV_NOPTS_VALUE) return;
    const int64_t step = unpacked.duration > 0 ? unpacked.duration : 1;
    m_lastEnd = unpacked.dts + step;
    // On the clock the engine cuts by, where the first picture shows at the stream's start: the
    // decoder's hold moved back (FFmpegArguments' lag for AVI).
    m_hold = m_delay * step;
    Picture picture{unpacked.dts - m_hold, unpacked.dts - m_hold, (unpacked.flags & AV_PKT_FLAG_KEY) != 0};
    const auto type = codingType(unpacked.data, static_cast<size_t>(unpacked.size));
    if (type == kBFrame) {
        // Shown as it is decoded; before it, in decode order, lies the reference that waits.
        if (m_waiting.empty()) timed.push_back(picture);
        else m_waiting.push_back(picture);
        return;
    }
    if (!m_waiting.empty()) {
        m_waiting.front().shown = unpacked.dts - m_hold;
        timed.insert(timed.end(), m_waiting.begin(), m_waiting.end());
        m_waiting.clear();
    }
    m_waiting.push_back(picture);
}

void AviMpeg4Pictures::finish(std::vector<Picture>& timed) {
    if (av_bsf_send_packet(m_filter, nullptr) >= 0)
        while (av_bsf_receive_packet(m_filter, m_out) >= 0) {
            take(*m_out, timed);
            av_packet_unref(m_out);
        }
    if (m_waiting.empty()) return;
    m_waiting.front().shown = m_lastEnd ? *m_lastEnd - m_hold : m_waiting.front().decoded;
    timed.insert(timed.end(), m_waiting.begin(), m_waiting.end());
    m_waiting.clear();
}

}  // namespace kolvex
