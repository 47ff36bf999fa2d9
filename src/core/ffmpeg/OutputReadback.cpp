// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/OutputReadback.h"

#include <chrono>
#include <memory>
#include <optional>

extern "C" {
#include <libavcodec/packet.h>
#include <libavformat/avformat.h>
}

#include "core/ffmpeg/LibavInput.h"

#include "core/ffmpeg/LibavProber.h"
#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"
#include "core/services/Log.h"
#include "core/services/PathUtils.h"

namespace kolvex {

namespace {

// Whether a picture or a sound frame can be read from the file: a header may state a length
// (an edit list, a muxer's own reckoning) for a stream that holds no sample at all. With
// `pictureToo`, also a picture when the file has a picture track: one with no picture in it
// opens nowhere.
// Reads on from where `input` stands: after opening it, the packets its streams were read from.
bool holdsAFrame(LibavInput& input, std::stop_token stop, bool pictureToo) {
    AVFormatContext& format = input.format();
    struct Freed {
        void operator()(AVPacket* packet) const { av_packet_free(&packet); }
    };
    const auto moving = [](const AVStream* stream) {
        return stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC);
    };
    bool wantPicture = false;
    for (unsigned i = 0; pictureToo && i < format.nb_streams; ++i) wantPicture = wantPicture || moving(format.streams[i]);
    const std::unique_ptr<AVPacket, Freed> packet(av_packet_alloc());
    if (!packet) return true;  // nothing learned; the header check stands
    for (;;) {
        if (av_read_frame(&format, packet.get()) < 0) {
            throwIfStopRequested(stop);
            return false;
        }
        const AVStream* stream = format.streams[packet->stream_index];
        const bool picture = moving(stream) && packet->size > 0;
        const bool sound = stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && packet->size > 0;
        av_packet_unref(packet.get());
        if (picture) wantPicture = false;
        if ((picture || sound) && !wantPicture) return true;
    }
}

}  // namespace

void OutputReadback::check(const std::filesystem::path& output, const std::filesystem::path& source, const Format& target,
                           std::optional<double> expectedSeconds, std::stop_token stop) {
    // One opening serves both looks: what the header states, and the first frames.
    std::optional<LibavInput> input;
    MediaProbe written;
    try {
        input.emplace(output, stop, std::chrono::seconds(60), LibavInput::Reading::headersWhenComplete);
        written = LibavProber::facts(*input);
    } catch (const ConversionError&) {
        Log::engine().error("The output made from {} cannot be read back", paths::lastComponent(source));
        throw ConversionError::corruptedInput(source);
    }
    const bool timed = target.category == FormatCategory::video || target.category == FormatCategory::audio;
    const bool empty = written.videoTrackCount + written.audioTrackCount == 0 ||
                       (timed && expectedSeconds && *expectedSeconds > 0 &&
                        !(written.durationSeconds && *written.durationSeconds > 0));
    bool noFrame = false;
    if (!empty && timed && expectedSeconds && *expectedSeconds > 0) {
        try {
            noFrame = !holdsAFrame(*input, stop, target.category == FormatCategory::video);
        } catch (const ConversionError&) {
            noFrame = true;
        }
    }
    if (empty || noFrame) {
        Log::engine().error("The output made from {} holds nothing", paths::lastComponent(source));
        throw ConversionError::corruptedInput(source);
    }
}

}  // namespace kolvex
