// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/preview/MediaInput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include "core/ffmpeg/LibavInput.h"
#include "core/services/ErrorMapper.h"

namespace kolvex {

std::unique_ptr<MediaInput> MediaInput::open(const std::filesystem::path& file, Kind kind) {
    // A FIFO would hold avformat_open_input for ever.
    if (ErrorMapper::unreadableSource(file)) return nullptr;
    std::unique_ptr<MediaInput> input(new MediaInput());
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist",
                "mov,mp4,m4a,3gp,matroska,webm,avi,mpegts,mpeg,flv,ogg,asf,wav,aiff,flac,mp3,aac,w64,caf,gif", 0);
    std::error_code error;
    const auto absolute = std::filesystem::absolute(file, error);
    if (error) return nullptr;
    const std::string url = "file:" + absolute.string();
    const int rc = avformat_open_input(&input->format, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (rc < 0) return nullptr;
    if (LibavInput::claimsOversizedPictures(*input->format) || LibavInput::findStreamInfo(*input->format) < 0 ||
        LibavInput::claimsOversizedPictures(*input->format)) {
        return nullptr;
    }

    const AVCodec* decoder = nullptr;
    const auto type = kind == Kind::video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO;
    input->streamIndex = av_find_best_stream(input->format, type, -1, -1, &decoder, 0);
    if (input->streamIndex < 0 || !decoder) return nullptr;
    AVStream* stream = input->format->streams[input->streamIndex];
    // A cover picture travels as a one-packet video stream; it is no video to scrub.
    if (kind == Kind::video && (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) return nullptr;

    input->codec = avcodec_alloc_context3(decoder);
    input->packet = av_packet_alloc();
    input->frame = av_frame_alloc();
    if (!input->codec || !input->packet || !input->frame) return nullptr;
    if (avcodec_parameters_to_context(input->codec, stream->codecpar) < 0) return nullptr;
    input->codec->pkt_timebase = stream->time_base;
    input->codec->max_pixels = LibavInput::maxFramePixels;
    if (avcodec_open2(input->codec, decoder, nullptr) < 0) return nullptr;
    return input;
}

MediaInput::~MediaInput() {
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
}

}  // namespace kolvex
