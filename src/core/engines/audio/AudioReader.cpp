// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/audio/AudioReader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

#include "core/engines/audio/AvError.h"

namespace kolvex {

namespace {


uint32_t readLE32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint32_t readBE32(const unsigned char* p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }

// WAV and AIFF state the size of their sample chunk up front. FFmpeg quietly reads a cut-off
// file up to its end, so a header that promises more sample bytes than the file holds is
// caught here. Sizes of 0 and 0xFFFFFFFF mean "until the end" (streamed files) and pass.
bool pcmChunkPromisesMoreThanFileHolds(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    const auto fileSize = static_cast<int64_t>(in.tellg());
    in.seekg(0);
    unsigned char head[12];
    if (!in.read(reinterpret_cast<char*>(head), 12)) return false;
    bool littleEndian;
    const char* dataChunk;
    if (std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0) {
        littleEndian = true;
        dataChunk = "data";
    } else if (std::memcmp(head, "FORM", 4) == 0 &&
               (std::memcmp(head + 8, "AIFF", 4) == 0 || std::memcmp(head + 8, "AIFC", 4) == 0)) {
        littleEndian = false;
        dataChunk = "SSND";
    } else {
        return false;
    }
    int64_t offset = 12;
    for (int chunks = 0; chunks < 64 && offset + 8 <= fileSize; ++chunks) {
        unsigned char chunk[8];
        in.seekg(offset);
        if (!in.read(reinterpret_cast<char*>(chunk), 8)) return false;
        const uint32_t size = littleEndian ? readLE32(chunk + 4) : readBE32(chunk + 4);
        if (std::memcmp(chunk, dataChunk, 4) == 0) {
            if (size == 0 || size == 0xFFFFFFFFu) return false;
            return offset + 8 + static_cast<int64_t>(size) > fileSize;
        }
        offset += 8 + static_cast<int64_t>(size) + (size & 1);
    }
    return false;
}

}  // namespace

struct AudioReader::State {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    AVDictionary* tags = nullptr;
    int streamIndex = -1;
    std::optional<int64_t> length;
    bool lengthIsExact = false;
    int64_t framesRead = 0;
    int64_t fileSize = 0;
    bool draining = false;  // the demuxer is done; the decoder is giving back what it holds
    bool finished = false;

    ~State() {
        av_dict_free(&tags);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }
};

AudioReader::AudioReader(const std::filesystem::path& path) : m(std::make_unique<State>()) {
    // Only local files, and only the containers we read: a playlist or concat script dressed up
    // as an .mp3 would otherwise make FFmpeg open whatever files or addresses it names.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", "mp3,mov,wav,aiff,flac,aac", 0);
    const std::string url = "file:" + std::filesystem::absolute(path).string();
    int rc = avformat_open_input(&m->format, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (rc < 0) throw AudioReadError("could not open the file: " + describeAvError(rc));
    rc = avformat_find_stream_info(m->format, nullptr);
    if (rc < 0) throw AudioReadError("could not read the stream information: " + describeAvError(rc));
    const AVCodec* decoder = nullptr;
    m->streamIndex = av_find_best_stream(m->format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (m->streamIndex < 0 || !decoder) throw AudioReadError("the file holds no audio stream that can be decoded");
    AVStream* stream = m->format->streams[m->streamIndex];
    if (stream->codecpar->sample_rate <= 0) throw AudioReadError("the audio stream has no sample rate");

    m->codec = avcodec_alloc_context3(decoder);
    m->packet = av_packet_alloc();
    m->frame = av_frame_alloc();
    if (!m->codec || !m->packet || !m->frame) throw AudioReadError("out of memory");
    if ((rc = avcodec_parameters_to_context(m->codec, stream->codecpar)) < 0 ||
        (rc = avcodec_open2(m->codec, decoder, nullptr)) < 0) {
        throw AudioReadError("could not open the audio decoder: " + describeAvError(rc));
    }
    if (pcmChunkPromisesMoreThanFileHolds(path)) throw AudioReadError("the file ends before its audio data does");

    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        m->length = av_rescale_q(stream->duration, stream->time_base, AVRational{1, stream->codecpar->sample_rate});
        // A length guessed from the bit rate is only good for progress.
        m->lengthIsExact = m->format->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE;
    } else if (m->format->duration != AV_NOPTS_VALUE && m->format->duration > 0) {
        m->length = av_rescale(m->format->duration, stream->codecpar->sample_rate, AV_TIME_BASE);
    }
    m->fileSize = m->format->pb ? std::max<int64_t>(avio_size(m->format->pb), 0) : 0;
    // Tags that only describe the container they were read from are not the recording's.
    av_dict_copy(&m->tags, m->format->metadata, 0);
    av_dict_copy(&m->tags, stream->metadata, AV_DICT_DONT_OVERWRITE);
    for (const char* key : {"major_brand", "minor_version", "compatible_brands", "encoder", "handler_name", "vendor_id"})
        av_dict_set(&m->tags, key, nullptr, 0);
}

AudioReader::~AudioReader() = default;

double AudioReader::sampleRate() const { return m->format->streams[m->streamIndex]->codecpar->sample_rate; }

int AudioReader::channels() const { return m->format->streams[m->streamIndex]->codecpar->ch_layout.nb_channels; }

std::string AudioReader::channelLayout() const {
    const AVChannelLayout& layout = m->format->streams[m->streamIndex]->codecpar->ch_layout;
    if (layout.order != AV_CHANNEL_ORDER_NATIVE) return {};
    char name[128] = {};
    if (av_channel_layout_describe(&layout, name, sizeof name) <= 0) return {};
    return name;
}

std::optional<int64_t> AudioReader::bitRate() const {
    const int64_t rate = m->format->streams[m->streamIndex]->codecpar->bit_rate;
    if (rate <= 0) return std::nullopt;
    return rate;
}

std::optional<double> AudioReader::durationSeconds() const {
    if (m->format->duration == AV_NOPTS_VALUE || m->format->duration <= 0) return std::nullopt;
    return static_cast<double>(m->format->duration) / AV_TIME_BASE;
}

int AudioReader::bitsPerSample() const {
    const AVCodecParameters* parameters = m->format->streams[m->streamIndex]->codecpar;
    if (parameters->bits_per_raw_sample > 0) return parameters->bits_per_raw_sample;
    const AVCodecDescriptor* codec = avcodec_descriptor_get(parameters->codec_id);
    const bool pcm = codec && codec->name && std::strncmp(codec->name, "pcm_", 4) == 0;
    return pcm ? std::max(parameters->bits_per_coded_sample, 0) : 0;
}

const AVDictionary* AudioReader::tags() const { return m->tags; }

const AVStream* AudioReader::cover() const {
    for (unsigned i = 0; i < m->format->nb_streams; ++i) {
        const AVStream* stream = m->format->streams[i];
        if ((stream->disposition & AV_DISPOSITION_ATTACHED_PIC) && stream->attached_pic.size > 0) return stream;
    }
    return nullptr;
}

std::optional<int64_t> AudioReader::lengthFrames() const { return m->length; }

int64_t AudioReader::framesRead() const { return m->framesRead; }

double AudioReader::fractionRead() const {
    if (m->length && *m->length > 0) return std::min(1.0, double(m->framesRead) / double(*m->length));
    if (m->fileSize > 0 && m->format->pb) {
        return std::clamp(double(avio_tell(m->format->pb)) / double(m->fileSize), 0.0, 1.0);
    }
    return 0;
}

bool AudioReader::endedShort() const {
    if (!m->finished || !m->length || !m->lengthIsExact) return false;
    // Decoders drop priming and padding samples, so allow a few blocks and a hair of slack.
    const int64_t slack = 8192 + *m->length / 100;
    return m->framesRead + slack < *m->length;
}

const AVFrame* AudioReader::next() {
    if (m->finished) return nullptr;
    av_frame_unref(m->frame);
    for (;;) {
        int rc = avcodec_receive_frame(m->codec, m->frame);
        if (rc == 0) {
            m->framesRead += m->frame->nb_samples;
            return m->frame;
        }
        if (rc == AVERROR_EOF) {
            m->finished = true;
            return nullptr;
        }
        if (rc != AVERROR(EAGAIN)) throw AudioReadError("could not decode the audio: " + describeAvError(rc));
        if (m->draining) {
            m->finished = true;
            return nullptr;
        }
        // The decoder wants more input.
        for (;;) {
            rc = av_read_frame(m->format, m->packet);
            if (rc == AVERROR_EOF) {
                m->draining = true;
                rc = avcodec_send_packet(m->codec, nullptr);
                if (rc < 0 && rc != AVERROR_EOF) throw AudioReadError("could not decode the audio: " + describeAvError(rc));
                break;
            }
            if (rc < 0) throw AudioReadError("could not read the file: " + describeAvError(rc));
            if (m->packet->stream_index != m->streamIndex) {
                av_packet_unref(m->packet);
                continue;
            }
            rc = avcodec_send_packet(m->codec, m->packet);
            av_packet_unref(m->packet);
            if (rc < 0) throw AudioReadError("could not decode the audio: " + describeAvError(rc));
            break;
        }
    }
}

}  // namespace kolvex
