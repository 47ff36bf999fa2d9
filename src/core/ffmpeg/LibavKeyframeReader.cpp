#include "core/ffmpeg/LibavKeyframeReader.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/packet.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

#include "core/ffmpeg/KeptInput.h"
#include "core/ffmpeg/LibavInput.h"
#include "core/ffmpeg/LibavProber.h"
#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

constexpr auto kTimeLimit = std::chrono::seconds(120);

struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

// The first video stream that moves: a cover picture is not one.
const AVStream* movingPicture(const AVFormatContext& format) {
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVStream* stream = format.streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return stream;
    }
    return nullptr;
}

int64_t microseconds(double seconds) {
    return static_cast<int64_t>(std::llround(std::clamp(seconds, -9.2e12, 9.2e12) * double(AV_TIME_BASE)));
}

}  // namespace

KeyframeIndex LibavKeyframeReader::index(const fs::path& url, std::stop_token stop) const {
    // Whoever reads every keyframe (a sheet) is about to start a job on the file: its index,
    // read now, is kept for that job.
    const auto identity = KeptInput::Identity::of(url);
    auto input = std::make_unique<LibavInput>(url, stop, kTimeLimit);
    MediaProbe probe = LibavProber::facts(*input);
    StreamCopyCuts read = cuts(*input, stop, std::nullopt);
    if (identity) KeptInput::keep(*identity, std::move(input), std::move(probe), stop);
    return std::move(read.keyframes);
}

StreamCopyCuts LibavKeyframeReader::cuts(const fs::path& url, std::stop_token stop,
                                         std::optional<std::pair<double, double>> window) const {
    LibavInput input(url, stop, kTimeLimit);
    return cuts(input, stop, window);
}

StreamCopyCuts LibavKeyframeReader::cutsKept(LibavInput& input, std::stop_token stop,
                                             std::optional<std::pair<double, double>> window) {
    input.rearm(stop, kTimeLimit);
    return cuts(input, stop, window);
}

StreamCopyCuts LibavKeyframeReader::cuts(LibavInput& input, std::stop_token stop,
                                         std::optional<std::pair<double, double>> window) {
    const fs::path& url = input.url();
    AVFormatContext& format = input.format();
    const AVStream* video = movingPicture(format);
    if (!video) return {KeyframeIndex(), 0};
    // Only the picture's packets are wanted: the demuxer skips the others' data unread.
    for (unsigned i = 0; i < format.nb_streams; ++i)
        if (format.streams[i] != video) format.streams[i]->discard = AVDISCARD_ALL;

    // Times count from the file's own start, as ffmpeg's -ss does: an MPEG-TS clock that starts
    // at 1.4 s puts its first keyframe at 0.
    const double origin =
        format.start_time != AV_NOPTS_VALUE ? LibavInput::printedSeconds(double(format.start_time) / AV_TIME_BASE) : 0;
    std::optional<int64_t> end;
    if (window) {
        // Back to the keyframe at or before the start, on whichever stream the demuxer seeks by.
        const int64_t start = microseconds(origin + std::max(0.0, window->first));
        if (avformat_seek_file(&format, -1, -std::numeric_limits<int64_t>::max(), start,
                               std::numeric_limits<int64_t>::max(), 0) < 0) {
            throwIfStopRequested(stop);
            throw ConversionError::corruptedInput(url);
        }
        end = microseconds(origin + window->second);
    }

    const std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (!packet) throw ConversionError::corruptedInput(url);
    const double timeBase = av_q2d(video->time_base);
    std::vector<double> keyframes;
    double delay = 0;
    for (;;) {
        throwIfStopRequested(stop);
        const int rc = av_read_frame(&format, packet.get());
        if (rc == AVERROR_EOF) break;
        if (rc < 0) {
            throwIfStopRequested(stop);
            // A damaged stretch near the end leaves the keyframes before it; a time-out does not.
            if (rc == AVERROR_EXIT) throw ConversionError::corruptedInput(url);
            break;
        }
        const AVPacket& read = *packet;
        if (read.stream_index == video->index && read.pts != AV_NOPTS_VALUE) {
            if (end && av_rescale_q(read.pts, video->time_base, AVRational{1, AV_TIME_BASE}) >= *end) break;
            if (read.flags & AV_PKT_FLAG_KEY) {
                const double pts = LibavInput::printedSeconds(double(read.pts) * timeBase);
                keyframes.push_back(LibavInput::printedSeconds(pts - origin));
                if (read.dts != AV_NOPTS_VALUE)
                    delay = std::max(delay, pts - LibavInput::printedSeconds(double(read.dts) * timeBase));
            }
        }
        av_packet_unref(packet.get());
    }
    return {KeyframeIndex(std::move(keyframes)), delay};
}

}  // namespace kolvex
