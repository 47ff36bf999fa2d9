// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/audio/AudioWriter.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include "core/engines/audio/AacBitrates.h"

#include "core/engines/audio/AvError.h"

namespace kolvex {

namespace {


void check(int rc, const char* what) {
    if (rc < 0) throw AudioWriteError(std::string(what) + ": " + describeAvError(rc));
}

// The output goes through our own file descriptor so the file can be created exclusively.
int writeToFd(void* opaque, uint8_t* buffer, int size) {
    const int fd = *static_cast<int*>(opaque);
    int done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, buffer + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return AVERROR(errno);
        }
        done += static_cast<int>(n);
    }
    return size;
}

int64_t seekFd(void* opaque, int64_t offset, int whence) {
    const int fd = *static_cast<int*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st {};
        return fstat(fd, &st) == 0 ? st.st_size : AVERROR(errno);
    }
    off_t at = lseek(fd, offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : at;
}

}  // namespace

struct AudioWriter::State {
    int fd = -1;
    AVIOContext* io = nullptr;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVStream* coverStream = nullptr;
    bool droppedCover = false;
    SwrContext* swr = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVFrame* chunk = nullptr;
    AVPacket* packet = nullptr;
    uint8_t** converted = nullptr;
    int convertedCapacity = 0;
    int frameSize = 4096;
    int64_t nextPts = 0;
    // What the converter was set up for.
    AVChannelLayout inLayout{};
    int inRate = 0;
    int inFormat = -1;
    bool finished = false;

    ~State() {
        freeConverted();
        swr_free(&swr);
        if (fifo) av_audio_fifo_free(fifo);
        av_frame_free(&chunk);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        if (format) avformat_free_context(format);
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        av_channel_layout_uninit(&inLayout);
        if (fd >= 0) ::close(fd);
    }

    void freeConverted() {
        if (converted) av_freep(&converted[0]);
        av_freep(&converted);
        convertedCapacity = 0;
    }

    void configureConverter(const AVFrame& frame) {
        AVChannelLayout layout{};
        if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame.ch_layout.nb_channels == 0) {
            av_channel_layout_default(&layout, std::max(frame.ch_layout.nb_channels, 1));
        } else {
            check(av_channel_layout_copy(&layout, &frame.ch_layout), "could not read the channel layout");
        }
        if (swr && frame.sample_rate == inRate && frame.format == inFormat &&
            av_channel_layout_compare(&layout, &inLayout) == 0) {
            av_channel_layout_uninit(&layout);
            return;
        }
        // The source changed its parameters mid-stream: keep what the old converter holds.
        if (swr) drainConverter();
        swr_free(&swr);
        av_channel_layout_uninit(&inLayout);
        inLayout = layout;
        inRate = frame.sample_rate;
        inFormat = frame.format;
        check(swr_alloc_set_opts2(&swr, &codec->ch_layout, codec->sample_fmt, codec->sample_rate, &inLayout,
                                  static_cast<AVSampleFormat>(inFormat), inRate, 0, nullptr),
              "could not set up the sample converter");
        check(swr_init(swr), "could not set up the sample converter");
    }

    void ensureConvertedCapacity(int samples) {
        if (samples <= convertedCapacity) return;
        freeConverted();
        check(av_samples_alloc_array_and_samples(&converted, nullptr, codec->ch_layout.nb_channels, samples,
                                                 codec->sample_fmt, 0),
              "could not allocate audio buffer");
        convertedCapacity = samples;
    }

    void convert(const uint8_t** input, int inputSamples) {
        int room = swr_get_out_samples(swr, inputSamples);
        check(room, "could not convert the samples");
        ensureConvertedCapacity(std::max(room, 1));
        int produced = swr_convert(swr, converted, convertedCapacity, input, inputSamples);
        check(produced, "could not convert the samples");
        if (produced > 0) check(av_audio_fifo_write(fifo, reinterpret_cast<void**>(converted), produced),
                                "could not buffer the samples");
    }

    void drainConverter() {
        for (;;) {
            int before = av_audio_fifo_size(fifo);
            convert(nullptr, 0);
            if (av_audio_fifo_size(fifo) == before) break;
        }
    }

    void encodeBuffered(bool all) {
        while (av_audio_fifo_size(fifo) >= frameSize || (all && av_audio_fifo_size(fifo) > 0)) {
            const int n = std::min(av_audio_fifo_size(fifo), frameSize);
            check(av_frame_make_writable(chunk), "could not allocate audio buffer");
            chunk->nb_samples = n;
            if (av_audio_fifo_read(fifo, reinterpret_cast<void**>(chunk->data), n) != n) {
                throw AudioWriteError("could not read buffered samples");
            }
            chunk->pts = nextPts;
            nextPts += n;
            check(avcodec_send_frame(codec, chunk), "could not encode the audio");
            drainEncoder();
        }
    }

    void addMetadata(const AudioMetadata& metadata, const char* muxer) {
        if (metadata.tags) check(av_dict_copy(&format->metadata, metadata.tags, 0), "could not copy the tags");
        if (!metadata.cover) return;
        const AVCodecID codec = metadata.cover->codecpar->codec_id;
        const bool holdsPicture = std::strcmp(muxer, "wav") != 0;
        if (!holdsPicture || (codec != AV_CODEC_ID_MJPEG && codec != AV_CODEC_ID_PNG)) {
            droppedCover = true;
            return;
        }
        coverStream = avformat_new_stream(format, nullptr);
        if (!coverStream) throw AudioWriteError("out of memory");
        check(avcodec_parameters_copy(coverStream->codecpar, metadata.cover->codecpar), "could not copy the cover");
        coverStream->codecpar->codec_tag = 0;
        coverStream->disposition = AV_DISPOSITION_ATTACHED_PIC;
        coverStream->time_base = AVRational{1, 90000};
    }

    int writeCover(const AVStream& source) {
        AVPacket* picture = av_packet_clone(&source.attached_pic);
        if (!picture) return AVERROR(ENOMEM);
        picture->stream_index = coverStream->index;
        picture->pts = picture->dts = 0;
        picture->flags |= AV_PKT_FLAG_KEY;
        const int rc = av_interleaved_write_frame(format, picture);
        av_packet_free(&picture);
        return rc;
    }

    void drainEncoder() {
        for (;;) {
            int rc = avcodec_receive_packet(codec, packet);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            check(rc, "could not encode the audio");
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            rc = av_interleaved_write_frame(format, packet);
            av_packet_unref(packet);
            check(rc, "could not write the audio");
        }
    }
};

AudioWriter::AudioWriter(const std::filesystem::path& path, const AudioOutputSettings& settings,
                         const AudioMetadata& metadata)
    : m(std::make_unique<State>()) {
    const bool aac = settings.format == AudioOutputSettings::Encoding::mpeg4AAC;
    const char* muxer = aac ? "ipod" : (settings.isBigEndian ? "aiff" : "wav");
    AVCodecID codecID = AV_CODEC_ID_AAC;
    if (!aac) {
        if (settings.isFloat || (settings.bitDepth != 16 && settings.bitDepth != 24)) {
            throw AudioWriteError(fmt::format("{}-bit {} samples are not written", settings.bitDepth,
                                              settings.isFloat ? "float" : "integer"));
        }
        if (settings.bitDepth == 24)
            codecID = settings.isBigEndian ? AV_CODEC_ID_PCM_S24BE : AV_CODEC_ID_PCM_S24LE;
        else
            codecID = settings.isBigEndian ? AV_CODEC_ID_PCM_S16BE : AV_CODEC_ID_PCM_S16LE;
    }
    const long rate = std::lround(settings.sampleRate);
    if (rate <= 0 || rate > 768000) throw AudioWriteError(fmt::format("a sample rate of {} Hz is not written", rate));
    if (aac && !AacBitrates::supportsSampleRate(double(rate))) {
        throw AudioWriteError(fmt::format("the AAC encoder does not take a sample rate of {} Hz", rate));
    }
    if (settings.channels < 1 || settings.channels > 24) {
        throw AudioWriteError(fmt::format("{} channels are not written", settings.channels));
    }

    const AVCodec* encoder = avcodec_find_encoder(codecID);
    if (!encoder) throw AudioWriteError(std::string("no encoder for ") + avcodec_get_name(codecID));
    m->codec = avcodec_alloc_context3(encoder);
    m->packet = av_packet_alloc();
    m->chunk = av_frame_alloc();
    if (!m->codec || !m->packet || !m->chunk) throw AudioWriteError("out of memory");
    // The layout asked for (the source's own where the encoding takes it), so the converter
    // moves each channel to its place rather than mixing it into another.
    if (settings.layout.empty() || av_channel_layout_from_string(&m->codec->ch_layout, settings.layout.c_str()) < 0 ||
        m->codec->ch_layout.nb_channels != settings.channels) {
        av_channel_layout_uninit(&m->codec->ch_layout);
        av_channel_layout_default(&m->codec->ch_layout, settings.channels);
    }
    m->codec->sample_rate = static_cast<int>(rate);
    m->codec->sample_fmt = encoder->sample_fmts ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    m->codec->time_base = AVRational{1, static_cast<int>(rate)};
    m->codec->flags |= AV_CODEC_FLAG_BITEXACT;
    if (!aac) m->codec->bits_per_raw_sample = settings.bitDepth;
    if (aac && settings.bitRate) m->codec->bit_rate = *settings.bitRate;

    check(avformat_alloc_output_context2(&m->format, nullptr, muxer, nullptr), "could not set up the container");
    m->format->flags |= AVFMT_FLAG_BITEXACT;  // no encoder name or version in the file
    m->format->url = av_strdup(path.c_str());  // the muxer checks the name's extension
    if (m->format->oformat->flags & AVFMT_GLOBALHEADER) m->codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    check(avcodec_open2(m->codec, encoder, nullptr), "could not open the encoder");
    m->frameSize = m->codec->frame_size > 0 ? m->codec->frame_size : 4096;

    m->stream = avformat_new_stream(m->format, nullptr);
    if (!m->stream) throw AudioWriteError("out of memory");
    check(avcodec_parameters_from_context(m->stream->codecpar, m->codec), "could not set up the stream");
    m->stream->time_base = m->codec->time_base;
    m->addMetadata(metadata, muxer);

    m->fifo = av_audio_fifo_alloc(m->codec->sample_fmt, settings.channels, m->frameSize * 2);
    if (!m->fifo) throw AudioWriteError("out of memory");
    m->chunk->format = m->codec->sample_fmt;
    m->chunk->sample_rate = m->codec->sample_rate;
    check(av_channel_layout_copy(&m->chunk->ch_layout, &m->codec->ch_layout), "out of memory");
    m->chunk->nb_samples = m->frameSize;
    check(av_frame_get_buffer(m->chunk, 0), "could not allocate audio buffer");

    m->fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (m->fd < 0) {
        const int error = errno;
        if (error == EEXIST) throw AudioFileExists("the file already exists");
        throw AudioWriteError(std::string("could not create the file: ") + std::strerror(error));
    }
    constexpr int kBufferSize = 1 << 16;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (!buffer) throw AudioWriteError("out of memory");
    m->io = avio_alloc_context(buffer, kBufferSize, 1, &m->fd, nullptr, writeToFd, seekFd);
    if (!m->io) {
        av_free(buffer);
        ::unlink(path.c_str());
        throw AudioWriteError("out of memory");
    }
    m->io->seekable = AVIO_SEEKABLE_NORMAL;
    m->format->pb = m->io;
    m->format->flags |= AVFMT_FLAG_CUSTOM_IO;
    AVDictionary* muxerOptions = nullptr;
    // AIFF carries tags and a cover only in an ID3v2 chunk, written when asked for.
    if (!aac && settings.isBigEndian && (metadata.tags || m->coverStream)) av_dict_set(&muxerOptions, "write_id3v2", "1", 0);
    int rc = avformat_write_header(m->format, &muxerOptions);
    av_dict_free(&muxerOptions);
    if (rc >= 0 && m->coverStream) rc = m->writeCover(*metadata.cover);
    if (rc < 0) {
        // The file is ours and holds nothing useful.
        ::unlink(path.c_str());
        check(rc, "could not write the header");
    }
}

bool AudioWriter::droppedCover() const { return m->droppedCover; }

AudioWriter::~AudioWriter() = default;

void AudioWriter::write(const AVFrame& frame) {
    if (m->finished) throw AudioWriteError("the file is already closed");
    if (frame.nb_samples <= 0) return;
    m->configureConverter(frame);
    m->convert(const_cast<const uint8_t**>(frame.extended_data), frame.nb_samples);
    m->encodeBuffered(false);
}

void AudioWriter::finish() {
    if (m->finished) return;
    if (m->swr) m->drainConverter();
    m->encodeBuffered(true);
    check(avcodec_send_frame(m->codec, nullptr), "could not encode the audio");
    m->drainEncoder();
    check(av_write_trailer(m->format), "could not finish the file");
    avio_flush(m->io);
    if (m->io->error < 0) check(m->io->error, "could not write the file");
    m->finished = true;
    const int fd = m->fd;
    m->fd = -1;
    if (::close(fd) != 0) throw AudioWriteError(std::string("could not write the file: ") + std::strerror(errno));
}

}  // namespace kolvex
