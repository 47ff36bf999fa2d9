// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/ffmpeg/MediaProbe.h"
#include "core/format/ConversionJob.h"

namespace kolvex {

// A media conversion keeps the first video and the first audio stream; this names, in one
// sentence for the result's note, what else the source held and the output does not
// ("1 audio track and 2 subtitle tracks were left out"). Pure; any thread.
struct LeftOutStreams {
    int64_t videoTracks = 0;
    int64_t audioTracks = 0;
    int64_t subtitleTracks = 0;
    int64_t attachments = 0;
    int64_t coverPictures = 0;
    int64_t chapters = 0;  // kept with the metadata where the target holds them

    // What a single run of `job` over a source probed as `probe` leaves out. A still or a GIF
    // is a picture by choice and an audio target drops the picture by choice: those say nothing
    // of it; a "remove-audio" says nothing of the audio, nor a job that drops the metadata of
    // the chapters.
    static LeftOutStreams of(const ConversionJob& job, const MediaProbe& probe);
    // What a run of `job` joining sources probed as `probes` leaves out: of each kind, the most
    // any one source holds beyond what is kept.
    static LeftOutStreams ofAll(const ConversionJob& job, const std::vector<MediaProbe>& probes);

    // The sentence, or none when nothing was left out.
    std::optional<std::string> note() const;

    bool operator==(const LeftOutStreams&) const = default;
};

}  // namespace kolvex
