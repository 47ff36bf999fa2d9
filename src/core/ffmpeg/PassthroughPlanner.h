// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "core/ffmpeg/MediaProbe.h"
#include "core/format/ConversionJob.h"

namespace kolvex {

// Decides whether ffmpeg may copy a job's streams (fast and lossless) or must re-encode, and
// says why in a short sentence for the log. Pure; any thread.
class PassthroughPlanner {
public:
    struct Decision {
        enum class Kind { passthrough, reencode };
        Kind kind = Kind::reencode;
        // passthrough only: true when just the first audio stream is copied out (an audio target).
        bool dropsVideo = false;
        std::string reason;

        static Decision passthrough(bool dropsVideo, std::string reason) {
            return {Kind::passthrough, dropsVideo, std::move(reason)};
        }
        static Decision reencode(std::string reason) { return {Kind::reencode, false, std::move(reason)}; }
        bool isPassthrough() const { return kind == Kind::passthrough; }
        bool operator==(const Decision&) const = default;
    };

    static Decision decide(const ConversionJob& job, const MediaProbe& probe);
};

}  // namespace kolvex
