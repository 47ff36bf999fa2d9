// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ffmpeg/CopyCut.h"
#include "core/ffmpeg/KeyframeIndex.h"
#include "core/ffmpeg/MediaProbe.h"
#include "core/format/ConversionJob.h"

namespace kolvex {

// Several copied cuts of one source — the parts of a split — written by one ffmpeg run from a
// single reading of the file: one output per part, each keeping the packets of its own span and
// dropping the rest as they pass. Each part holds what a copy of that part alone holds (as
// FFmpegArguments::build makes it from the same CopyCut): the pictures by their presentation
// times, which must pick exactly the pictures its plan counts; the sound from its seek point to
// its end, on the same reckoning as ffmpeg's own seek and stop — save where the next part copies
// on from its end: the sound frames from that part's seek point on are left to that part, so
// that each is heard once. Pure; any thread.
struct CopiedParts {
    struct Part {
        ConversionJob job;  // the part's trim, writing where the part is staged
        CopyCut cut;
    };

    // The argument list of that run; none when one reading cannot stand for the parts' own runs:
    // fewer than two parts, an Ogg or an AVI with pictures decoded out of order (ffmpeg times
    // them as it reads them), FLAC sound, or pictures whose presentation times do not tell each
    // part's pictures from the others'. `cuts`: every packet of the source's picture stream, in
    // decode order, as the parts were planned from.
    static std::optional<std::vector<std::string>> arguments(const std::vector<Part>& parts, const MediaProbe& probe,
                                                             const StreamCopyCuts& cuts);

    // The same parts cut where each begins by ffmpeg's segmenting muxer, which passes each packet
    // on whole to the part it falls in (the filters above read every byte they keep).
    struct Segments {
        std::vector<std::string> arguments;        // the run's, once into() has named where it writes
        std::vector<std::filesystem::path> files;  // what each part is written as, in order (into())
        std::filesystem::path list;                // ffmpeg's list of the files it wrote (into())
        int64_t pictures = 0;                      // how many the parts hold together
        size_t parts = 0;
        std::string extension;
        // Has the run write its parts, and its list of them, into `folder`.
        void into(const std::filesystem::path& folder);
    };
    // None unless the parts cover the whole of a Matroska or WebM output end to end, each from
    // the keyframe that ends the one before in decode order, with every keyframe as far ahead of
    // its decoding as the others (the sound is cut where the muxer meets each).
    static std::optional<Segments> segments(const std::vector<Part>& parts, const MediaProbe& probe,
                                            const StreamCopyCuts& cuts);
    // Whether ffmpeg's `list` of the files it wrote starts each part where it was planned.
    static bool listedAsPlanned(std::string_view list, const std::vector<Part>& parts);
};

}  // namespace kolvex
