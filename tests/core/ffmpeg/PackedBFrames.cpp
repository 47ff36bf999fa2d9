// SPDX-License-Identifier: GPL-3.0-or-later
#include "PackedBFrames.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "core/format/ConversionError.h"
#include "JoinMarks.h"
#include "support/MediaFixtures.h"

namespace kolvex::testing {

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kPictureStart = 0xB6;  // a picture (VOP) header's start code
constexpr int kBFrame = 2;               // its coding type: 0 I, 1 P, 2 B, 3 S

// Where the start code 00 00 01 `code` begins in `data`, at or after `from`.
size_t startCode(const Bytes& data, uint8_t code, size_t from = 0) {
    for (size_t i = from; i + 3 < data.size(); ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == code) return i;
    return std::string::npos;
}

int codingType(const Bytes& packet) {
    const size_t at = startCode(packet, kPictureStart);
    return at == std::string::npos || at + 4 >= packet.size() ? -1 : packet[at + 4] >> 6;
}

class BitReader {
public:
    BitReader(const Bytes& data, size_t byte) : m_data(data), m_bit(byte * 8) {}
    uint32_t read(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i, ++m_bit) {
            if (m_bit / 8 >= m_data.size()) throw std::runtime_error("a picture header runs past its packet");
            value = value << 1 | ((m_data[m_bit / 8] >> (7 - m_bit % 8)) & 1);
        }
        return value;
    }

private:
    const Bytes& m_data;
    size_t m_bit;
};

class BitWriter {
public:
    void put(int count, uint32_t value) {
        for (int i = count - 1; i >= 0; --i, ++m_bits) {
            if (m_bits % 8 == 0) m_bytes.push_back(0);
            if ((value >> i) & 1) m_bytes.back() |= static_cast<uint8_t>(0x80 >> (m_bits % 8));
        }
    }
    bool aligned() const { return m_bits % 8 == 0; }
    const Bytes& bytes() const { return m_bytes; }

private:
    Bytes m_bytes;
    size_t m_bits = 0;
};

// A picture that is not coded, holding the place where `reference` shows: a P picture header with
// the reference's time, "not coded", then the stuffing to the next byte (a zero, then ones).
Bytes notCoded(const Bytes& reference, int timeIncrementBits) {
    const size_t at = startCode(reference, kPictureStart);
    BitReader in(reference, at + 4);
    in.read(2);
    BitWriter out;
    out.put(32, 0x100 | kPictureStart);
    out.put(2, 1);
    uint32_t second;
    while ((second = in.read(1)) == 1) out.put(1, 1);  // the whole seconds, then a zero
    out.put(1, 0);
    out.put(1, in.read(1));  // marker
    out.put(timeIncrementBits, in.read(timeIncrementBits));
    out.put(1, in.read(1));  // marker
    out.put(1, 0);           // not coded
    out.put(1, 0);
    while (!out.aligned()) out.put(1, 1);
    return out.bytes();
}

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct OutputCloser {
    void operator()(AVFormatContext* context) const {
        if (context->pb) avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

void check(int result, const std::string& what) {
    if (result < 0) throw std::runtime_error(what + " failed");
}

// One DivX subtitle: a 16×8 bitmap of two colours, from 0 to 0.5 s.
Bytes xsubSubtitle(int width, int height) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_XSUB);
    if (!codec) throw std::runtime_error("no XSUB encoder");
    AVCodecContext* context = avcodec_alloc_context3(codec);
    if (!context) throw std::runtime_error("no XSUB encoder");
    context->width = width;
    context->height = height;
    context->time_base = {1, 1000};
    Bytes coded(1 << 16);
    int size = avcodec_open2(context, codec, nullptr);
    if (size >= 0) {
        uint8_t pixels[16 * 8];
        for (int i = 0; i < 16 * 8; ++i) pixels[i] = static_cast<uint8_t>((i / 4) % 2);
        uint32_t palette[4] = {0x00000000, 0xFFFFFFFF, 0xFF000000, 0xFF808080};
        AVSubtitleRect rect{};
        rect.type = SUBTITLE_BITMAP;
        rect.x = 8;
        rect.y = 8;
        rect.w = 16;
        rect.h = 8;
        rect.nb_colors = 4;
        rect.data[0] = pixels;
        rect.linesize[0] = 16;
        rect.data[1] = reinterpret_cast<uint8_t*>(palette);
        AVSubtitleRect* rects[] = {&rect};
        AVSubtitle subtitle{};
        subtitle.start_display_time = 0;
        subtitle.end_display_time = 500;
        subtitle.pts = 0;
        subtitle.num_rects = 1;
        subtitle.rects = rects;
        size = avcodec_encode_subtitle(context, coded.data(), static_cast<int>(coded.size()), &subtitle);
    }
    avcodec_free_context(&context);
    check(size, "encoding an XSUB subtitle");
    coded.resize(static_cast<size_t>(size));
    return coded;
}

}  // namespace

void packBFrames(const fs::path& from, const fs::path& to, int timeIncrementBits, Beside beside) {
    AVFormatContext* opened = nullptr;
    check(avformat_open_input(&opened, from.c_str(), nullptr, nullptr), "opening " + from.string());
    const std::unique_ptr<AVFormatContext, InputCloser> input(opened);
    check(avformat_find_stream_info(input.get(), nullptr), "reading " + from.string());
    const int video = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    check(video, "finding the pictures of " + from.string());

    const int sound = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    struct Chunk {
        Bytes data;
        bool key = false;
    };
    std::vector<std::unique_ptr<AVPacket, PacketFree>> sounds;
    std::vector<Chunk> chunks;
    std::vector<Chunk> plain;  // the pictures as they were, for a second picture stream
    Bytes reference;
    bool packable = false;  // the last chunk is a reference picture with no B-frame in it yet
    bool placeHeld = false; // a reference shares its chunk and waits for the place it shows at
    const std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == video) {
            Bytes data(packet->data, packet->data + packet->size);
            plain.push_back({data, (packet->flags & AV_PKT_FLAG_KEY) != 0});
            if (codingType(data) == kBFrame) {
                if (packable) {
                    chunks.back().data.insert(chunks.back().data.end(), data.begin(), data.end());
                    placeHeld = true;
                } else {
                    chunks.push_back({std::move(data)});
                }
                packable = false;
            } else {
                if (placeHeld) chunks.push_back({notCoded(reference, timeIncrementBits)});
                placeHeld = false;
                reference = data;
                chunks.push_back({std::move(data), (packet->flags & AV_PKT_FLAG_KEY) != 0});
                packable = true;
            }
        } else if (packet->stream_index == sound) {
            sounds.emplace_back(av_packet_clone(packet.get()));
        }
        av_packet_unref(packet.get());
    }
    if (placeHeld) chunks.push_back({notCoded(reference, timeIncrementBits)});
    if (chunks.empty()) throw std::runtime_error(from.string() + " has no pictures");
    const std::string mark = std::string("\0\0\1\xB2", 4) + "DivX503b1393p";
    Bytes& first = chunks.front().data;
    first.insert(first.begin() + static_cast<std::ptrdiff_t>(startCode(first, kPictureStart)), mark.begin(), mark.end());

    AVFormatContext* made = nullptr;
    check(avformat_alloc_output_context2(&made, nullptr, "avi", to.c_str()), "writing " + to.string());
    const std::unique_ptr<AVFormatContext, OutputCloser> output(made);
    AVStream* stream = avformat_new_stream(output.get(), nullptr);
    if (!stream) throw std::runtime_error("no stream for " + to.string());
    const AVRational timeBase = input->streams[video]->time_base;
    check(avcodec_parameters_copy(stream->codecpar, input->streams[video]->codecpar), "copying the stream's header");
    stream->codecpar->codec_tag = MKTAG('X', 'V', 'I', 'D');
    stream->time_base = timeBase;
    AVStream* soundStream = sound >= 0 ? avformat_new_stream(output.get(), nullptr) : nullptr;
    if (soundStream) {
        check(avcodec_parameters_copy(soundStream->codecpar, input->streams[sound]->codecpar), "copying the sound's header");
        soundStream->codecpar->codec_tag = 0;
        soundStream->time_base = input->streams[sound]->time_base;
    }
    AVStream* secondStream = beside.secondPicture ? avformat_new_stream(output.get(), nullptr) : nullptr;
    if (secondStream) {
        check(avcodec_parameters_copy(secondStream->codecpar, input->streams[video]->codecpar), "copying the stream's header");
        secondStream->time_base = timeBase;
    }
    AVStream* subtitleStream = beside.subtitle ? avformat_new_stream(output.get(), nullptr) : nullptr;
    if (subtitleStream) {
        subtitleStream->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
        subtitleStream->codecpar->codec_id = AV_CODEC_ID_XSUB;
        subtitleStream->codecpar->codec_tag = MKTAG('D', 'X', 'S', 'B');  // as DivX writes it, and readers look for
        subtitleStream->codecpar->width = stream->codecpar->width;
        subtitleStream->codecpar->height = stream->codecpar->height;
        subtitleStream->time_base = timeBase;
    }
    check(avio_open(&output->pb, to.c_str(), AVIO_FLAG_WRITE), "creating " + to.string());
    check(avformat_write_header(output.get(), nullptr), "writing the header of " + to.string());
    // In the order they play, the interleaving AVI's readers expect.
    size_t nextSound = 0;
    const auto writeSoundUntil = [&](double seconds) {
        for (; nextSound < sounds.size(); ++nextSound) {
            AVPacket* each = sounds[nextSound].get();
            if (each->dts != AV_NOPTS_VALUE && each->dts * av_q2d(input->streams[sound]->time_base) > seconds) break;
            av_packet_rescale_ts(each, input->streams[sound]->time_base, soundStream->time_base);
            each->stream_index = soundStream->index;
            check(av_interleaved_write_frame(output.get(), each), "writing a sound chunk");
        }
    };
    if (subtitleStream) {
        const Bytes coded = xsubSubtitle(stream->codecpar->width, stream->codecpar->height);
        const std::unique_ptr<AVPacket, PacketFree> out(av_packet_alloc());
        check(av_new_packet(out.get(), static_cast<int>(coded.size())), "making a packet");
        std::copy(coded.begin(), coded.end(), out->data);
        out->pts = out->dts = 0;
        out->flags |= AV_PKT_FLAG_KEY;
        av_packet_rescale_ts(out.get(), timeBase, subtitleStream->time_base);
        out->stream_index = subtitleStream->index;
        check(av_interleaved_write_frame(output.get(), out.get()), "writing the subtitle");
    }
    for (size_t i = 0; i < chunks.size(); ++i) {
        writeSoundUntil(static_cast<double>(i) * av_q2d(timeBase));
        const std::unique_ptr<AVPacket, PacketFree> out(av_packet_alloc());
        check(av_new_packet(out.get(), static_cast<int>(chunks[i].data.size())), "making a packet");
        std::copy(chunks[i].data.begin(), chunks[i].data.end(), out->data);
        out->pts = out->dts = static_cast<int64_t>(i);
        out->duration = 1;
        if (chunks[i].key) out->flags |= AV_PKT_FLAG_KEY;
        av_packet_rescale_ts(out.get(), timeBase, stream->time_base);
        out->stream_index = stream->index;
        check(av_interleaved_write_frame(output.get(), out.get()), "writing a chunk");
        if (secondStream && i < plain.size()) {
            const std::unique_ptr<AVPacket, PacketFree> second(av_packet_alloc());
            check(av_new_packet(second.get(), static_cast<int>(plain[i].data.size())), "making a packet");
            std::copy(plain[i].data.begin(), plain[i].data.end(), second->data);
            second->pts = second->dts = static_cast<int64_t>(i);
            second->duration = 1;
            if (plain[i].key) second->flags |= AV_PKT_FLAG_KEY;
            av_packet_rescale_ts(second.get(), timeBase, secondStream->time_base);
            second->stream_index = secondStream->index;
            check(av_interleaved_write_frame(output.get(), second.get()), "writing a chunk");
        }
    }
    writeSoundUntil(std::numeric_limits<double>::infinity());
    check(av_write_trailer(output.get()), "finishing " + to.string());
}

fs::path numberedAvi(const fs::path& dir, bool packed, bool sound, Beside beside) {
    const fs::path made = dir / fmt::format("made{}.avi", sound ? "-sound" : "");
    if (!fs::exists(made)) {
        auto args = JoinMarks::numberedPictures(1.2, "25", "64x48", 2.0);
        if (sound) args.insert(args.end(), {"-f", "lavfi", "-i", "sine=f=1000:d=1.2"});
        args.insert(args.end(), {"-c:v", "mpeg4", "-bf", "1", "-g", "12", "-sc_threshold", "1000000000", "-q:v", "3",
                                 "-vtag", "XVID"});
        if (sound) args.insert(args.end(), {"-c:a", "libmp3lame"});
        makeMedia(made, args);
    }
    if (!packed) return made;
    const fs::path out = dir / fmt::format("packed{}{}{}.avi", sound ? "-sound" : "", beside.subtitle ? "-subtitle" : "",
                                           beside.secondPicture ? "-second" : "");
    if (!fs::exists(out)) packBFrames(made, out, 5, beside);  // 25 a second: a 5-bit time field
    return out;
}

std::optional<ConversionOutcome> outcomeOf(const FFmpegEngine& engine, const ConversionJob& job) {
    try {
        return engine.convertReporting(job, nullptr, {});
    } catch (const ConversionError& error) {
        ADD_FAILURE() << error.shortDescription() << ": " << error.diagnosticDetail().value_or("");
        return std::nullopt;
    }
}

}  // namespace kolvex::testing
