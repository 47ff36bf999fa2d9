// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

struct AVBSFContext;
struct AVPacket;
struct AVStream;

namespace kolvex {

// The MPEG-4 Visual (ASP) pictures of an AVI whose decoder puts B-frames in order, timed as
// ffmpeg shows them. AVI states when each picture is decoded (its chunk), not when it shows:
// ffmpeg shows a B-frame at its own chunk's time and a reference picture at the next reference's,
// when the decoder lets it go, each as late as the decoder holds pictures back. The engine moves
// them back by that hold (FFmpegArguments), and so are they here. libavformat times the B-frames
// alone, which left a cut between two of them holding no picture at all. Packed pictures (DivX,
// Xvid) first go through mpeg4_unpack_bframes, as the engine's stand-in for such a file holds
// them, so the file and its stand-in read alike. One read of one stream, in decode order; one
// thread.
class AviMpeg4Pictures {
public:
    struct Picture {
        int64_t shown = 0;    // in the stream's time base
        int64_t decoded = 0;
        bool keyframe = false;
    };

    // Whether `stream`, read from an AVI, is read so.
    static bool applies(const AVStream& stream, bool avi);

    // Throws ConversionError::backendFailure when the bitstream filter cannot be set up.
    explicit AviMpeg4Pictures(const AVStream& stream);
    ~AviMpeg4Pictures();
    AviMpeg4Pictures(const AviMpeg4Pictures&) = delete;
    AviMpeg4Pictures& operator=(const AviMpeg4Pictures&) = delete;

    // Takes the stream's next packet (its data is handed on; the packet is left blank) and
    // appends to `timed` the pictures whose times are known from it on, in decode order.
    void push(AVPacket& packet, std::vector<Picture>& timed);
    // At the stream's end: the last reference picture shows after the last chunk.
    void finish(std::vector<Picture>& timed);

    // A picture's coding type from its first picture header: 0 I, 1 P, 2 B, 3 S; none without one.
    static std::optional<int> codingType(const uint8_t* data, size_t size);

private:
    void take(const AVPacket& unpacked, std::vector<Picture>& timed);

    AVBSFContext* m_filter = nullptr;
    AVPacket* m_out = nullptr;
    // From the reference picture whose time is not yet known on: it shows when the next one is
    // decoded.
    std::deque<Picture> m_waiting;
    std::optional<int64_t> m_lastEnd;  // where the last chunk read ends, in the time base
    int64_t m_delay = 0;               // pictures the decoder holds back
    int64_t m_hold = 0;                // the same in the time base
};

}  // namespace kolvex
