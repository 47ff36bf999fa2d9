// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/LibavKeyframeReader.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

extern "C" {
#include <libavcodec/packet.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

#include "core/ffmpeg/AviMpeg4Pictures.h"
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

// Times count from the file's own start, as ffmpeg's -ss does: an MPEG-TS clock that starts at
// 1.4 s puts its first keyframe at 0.
double clockStart(const AVFormatContext& format) {
    return format.start_time != AV_NOPTS_VALUE ? LibavInput::printedSeconds(double(format.start_time) / AV_TIME_BASE) : 0;
}

bool isAvi(const AVFormatContext& format) { return format.iformat && std::string_view(format.iformat->name) == "avi"; }

// An AVI shows its pictures as its index places them when none is decoded out of order: the
// demuxer then gives each packet the time of its place in the index, and the index (idx1, or
// OpenDML's), read with the header, lists every picture's chunk and whether it is a keyframe.
// An empty chunk holds a place and no picture (a writer repeats the picture before): no packet
// is read from it. None when the index cannot stand for the packets: places out of order, or
// no keyframe first.
std::optional<std::vector<const AVIndexEntry*>> aviPictureIndex(const AVFormatContext& format, AVStream& video) {
    if (!isAvi(format) || video.codecpar->video_delay != 0) return std::nullopt;
    const int count = avformat_index_get_entries_count(&video);
    if (count <= 0) return std::nullopt;
    std::vector<const AVIndexEntry*> entries;
    entries.reserve(static_cast<size_t>(count));
    std::optional<int64_t> last;
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(&video, i);
        if (!entry || (last && entry->timestamp <= *last)) return std::nullopt;
        last = entry->timestamp;
        if (entry->size > 0) entries.push_back(entry);
    }
    if (entries.empty() || !(entries.front()->flags & AVINDEX_KEYFRAME)) return std::nullopt;
    return entries;
}

// The entries a window's read takes from an AVI's index, with some to spare on either side:
// from a keyframe at or before its start to well past the first keyframe after its end. Only
// those are turned into times: a long file's index holds tens of thousands of pictures.
std::vector<const AVIndexEntry*> aroundWindow(const std::vector<const AVIndexEntry*>& entries, double timeBase,
                                              double origin, std::pair<double, double> window) {
    // Times as read here lie within a microsecond or two of the printed ones the window is
    // judged by; a millisecond's margin leaves no doubt which side of a bound an entry lies.
    constexpr double kMargin = 1e-3;
    constexpr size_t kPast = 32;  // more than the reorder depth a window's read runs on for
    const auto at = [&](const AVIndexEntry* entry) { return double(entry->timestamp) * timeBase - origin; };
    // The entries' places rise strictly (aviPictureIndex), and so do their times.
    const auto start = std::partition_point(entries.begin(), entries.end(), [&](const AVIndexEntry* entry) {
        return at(entry) <= std::max(0.0, window.first) - kMargin;
    });
    auto from = entries.begin();
    for (auto i = start; i != entries.begin();) {
        --i;
        if ((*i)->flags & AVINDEX_KEYFRAME) {
            from = i;
            break;
        }
    }
    auto to = entries.end();
    if (std::isfinite(window.second)) {
        auto end = std::partition_point(from, entries.end(),
                                        [&](const AVIndexEntry* entry) { return at(entry) < window.second + kMargin; });
        while (end != entries.end() && !((*end)->flags & AVINDEX_KEYFRAME)) ++end;
        to = size_t(entries.end() - end) > kPast ? end + kPast : entries.end();
    }
    return {from, to};
}

}  // namespace

KeyframeIndex LibavKeyframeReader::index(const fs::path& url, std::stop_token stop) const {
    return std::move(everyCut(url, stop).keyframes);
}

StreamCopyCuts LibavKeyframeReader::everyCut(const fs::path& url, std::stop_token stop) const {
    // Whoever reads every keyframe (a sheet) is about to start a job on the file: its index,
    // read now, is kept for that job.
    const auto identity = KeptInput::Identity::of(url);
    auto input = std::make_unique<LibavInput>(url, stop, kTimeLimit);
    // From an AVI's index, the packing looked at too: the job need not open the file again to.
    auto [probe, indexed] = LibavProber::factsWithIndexedCuts(*input);
    StreamCopyCuts read = indexed ? std::move(*indexed) : cuts(*input, stop, std::nullopt);
    if (identity)
        KeptInput::keep(*identity, std::move(input), std::move(probe), stop, std::make_shared<const StreamCopyCuts>(read));
    return read;
}

StreamCopyCuts LibavKeyframeReader::cuts(const fs::path& url, std::stop_token stop,
                                         std::optional<std::pair<double, double>> window) const {
    LibavInput input(url, stop, kTimeLimit);
    return cuts(input, stop, window);
}

int64_t LibavKeyframeReader::pictureCount(const fs::path& url, std::stop_token stop) {
    LibavInput input(url, stop, kTimeLimit, LibavInput::Reading::headersWhenComplete);
    AVFormatContext& format = input.format();
    const AVStream* video = movingPicture(format);
    if (!video) return 0;
    // An AVI counts its pictures in its index.
    if (const auto indexed = aviPictureIndex(format, *format.streams[video->index]))
        return static_cast<int64_t>(indexed->size());
    for (unsigned i = 0; i < format.nb_streams; ++i)
        if (format.streams[i] != video) format.streams[i]->discard = AVDISCARD_ALL;
    // Matroska and QuickTime store each picture whole, one to a block or sample: they are counted
    // without parsing them.
    const std::string_view demuxer = format.iformat && format.iformat->name ? format.iformat->name : "";
    if (demuxer == "matroska,webm" || demuxer.starts_with("mov,mp4,")) format.flags |= AVFMT_FLAG_NOPARSE | AVFMT_FLAG_NOFILLIN;
    const std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (!packet) throw ConversionError::corruptedInput(url);
    int64_t count = 0;
    for (;;) {
        throwIfStopRequested(stop);
        const int rc = av_read_frame(&format, packet.get());
        if (rc == AVERROR_EOF) break;
        if (rc < 0) {
            throwIfStopRequested(stop);
            throw ConversionError::corruptedInput(url);
        }
        count += packet->stream_index == video->index;
        av_packet_unref(packet.get());
    }
    return count;
}

StreamCopyCuts LibavKeyframeReader::fromIndex(const std::vector<const AVIndexEntry*>& entries, double timeBase,
                                              double origin) {
    // As the packets would give them: each picture's time is its place, shown as it is decoded.
    StreamCopyCuts read;
    std::vector<double> keyframes;
    read.pictures.reserve(entries.size());
    for (const AVIndexEntry* entry : entries) {
        const double at = LibavInput::printedSeconds(LibavInput::printedSeconds(double(entry->timestamp) * timeBase) - origin);
        const bool key = entry->flags & AVINDEX_KEYFRAME;
        read.pictures.push_back({at, at, key});
        if (key) keyframes.push_back(at);
    }
    read.keyframes = KeyframeIndex(std::move(keyframes));
    return read;
}

std::optional<StreamCopyCuts> LibavKeyframeReader::fromAviIndex(LibavInput& input) {
    AVFormatContext& format = input.format();
    const AVStream* video = movingPicture(format);
    if (!video) return std::nullopt;
    const auto indexed = aviPictureIndex(format, *format.streams[video->index]);
    if (!indexed) return std::nullopt;
    return fromIndex(*indexed, av_q2d(video->time_base), clockStart(format));
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

    const double origin = clockStart(format);
    if (const auto indexed = aviPictureIndex(format, *format.streams[video->index])) {
        const double timeBase = av_q2d(video->time_base);
        if (!window) return fromIndex(*indexed, timeBase, origin);
        return fromIndex(aroundWindow(*indexed, timeBase, origin, *window), timeBase, origin).within(*window);
    }
    std::optional<int64_t> end;
    if (window) {
        // Back to the keyframe at or before the start, on whichever stream the demuxer seeks by.
        const int64_t start = microseconds(origin + std::max(0.0, window->first));
        if (avformat_seek_file(&format, -1, -std::numeric_limits<int64_t>::max(), start,
                               std::numeric_limits<int64_t>::max(), 0) < 0) {
            throwIfStopRequested(stop);
            // Nothing to seek to there (a window past the end of a clock that starts late): no
            // picture is known, and the cut is judged without them.
            return {KeyframeIndex(), 0};
        }
        end = microseconds(origin + window->second);
    }

    const std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (!packet) throw ConversionError::corruptedInput(url);
    const double timeBase = av_q2d(video->time_base);
    // An AVI states where each picture lies in its index alone: with no pictures decoded out of
    // order, that is when it shows (the demuxer leaves H.264's presentation time unset).
    const bool shownAsIndexed = std::string_view(format.iformat->name) == "avi" && video->codecpar->video_delay == 0;
    // Its MPEG-4 pictures with B-frames are timed as ffmpeg shows them, unpacked where packed.
    std::optional<AviMpeg4Pictures> mpeg4;
    if (AviMpeg4Pictures::applies(*video, isAvi(format))) mpeg4.emplace(*video);
    std::vector<AviMpeg4Pictures::Picture> timed;
    StreamCopyCuts read;
    std::vector<double> keyframes;
    // Past the window's end, the pictures up to the next keyframe and as many again as a decoder
    // may hold back: whatever is decoded before a picture in the window has been read.
    constexpr int kReorderDepth = 16;
    std::optional<int> afterEnd;
    // Takes one picture in decode order; false once the read has gone far enough.
    const auto take = [&](int64_t shown, std::optional<int64_t> decoded, bool key) {
        if (afterEnd && (*afterEnd)-- <= 0) return false;
        if (end && !afterEnd && key && av_rescale_q(shown, video->time_base, AVRational{1, AV_TIME_BASE}) >= *end)
            afterEnd = kReorderDepth;
        const double pts = LibavInput::printedSeconds(double(shown) * timeBase);
        StreamCopyCuts::Picture picture{LibavInput::printedSeconds(pts - origin), std::nullopt, key};
        if (decoded) {
            const double dts = LibavInput::printedSeconds(double(*decoded) * timeBase);
            picture.decodeTime = LibavInput::printedSeconds(dts - origin);
            if (key && !afterEnd) read.decodeDelay = std::max(read.decodeDelay, pts - dts);
        }
        if (key && !afterEnd) keyframes.push_back(picture.time);
        read.pictures.push_back(picture);
        return true;
    };
    bool more = true;
    bool ended = false;
    while (more) {
        throwIfStopRequested(stop);
        const int rc = av_read_frame(&format, packet.get());
        if (rc == AVERROR_EOF) {
            ended = true;
            break;
        }
        if (rc < 0) {
            throwIfStopRequested(stop);
            // A damaged stretch near the end leaves the keyframes before it; a time-out does not.
            if (rc == AVERROR_EXIT) throw ConversionError::corruptedInput(url);
            break;
        }
        if (packet->stream_index == video->index && mpeg4) {
            mpeg4->push(*packet, timed);
            for (size_t i = 0; i < timed.size() && more; ++i) more = take(timed[i].shown, timed[i].decoded, timed[i].keyframe);
            timed.clear();
        } else if (packet->stream_index == video->index) {
            if (shownAsIndexed && packet->pts == AV_NOPTS_VALUE) packet->pts = packet->dts;
            if (packet->pts != AV_NOPTS_VALUE)
                more = take(packet->pts, packet->dts != AV_NOPTS_VALUE ? std::optional(packet->dts) : std::nullopt,
                            packet->flags & AV_PKT_FLAG_KEY);
        }
        av_packet_unref(packet.get());
    }
    // The last pictures held back show once the stream has ended.
    if (mpeg4 && ended) {
        mpeg4->finish(timed);
        for (size_t i = 0; i < timed.size() && more; ++i) more = take(timed[i].shown, timed[i].decoded, timed[i].keyframe);
    }
    read.keyframes = KeyframeIndex(std::move(keyframes));
    return read;
}

}  // namespace kolvex
