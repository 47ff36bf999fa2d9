// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/OutputReadback.h"

#include "core/ffmpeg/LibavProber.h"
#include "core/format/ConversionError.h"
#include "core/services/Log.h"
#include "core/services/PathUtils.h"

namespace kolvex {

void OutputReadback::check(const std::filesystem::path& output, const std::filesystem::path& source, const Format& target,
                           std::optional<double> expectedSeconds, std::stop_token stop) {
    MediaProbe written;
    try {
        written = LibavProber().probeHeaders(output, stop);
    } catch (const ConversionError&) {
        Log::engine().error("The output made from {} cannot be read back", paths::lastComponent(source));
        throw ConversionError::corruptedInput(source);
    }
    const bool timed = target.category == FormatCategory::video || target.category == FormatCategory::audio;
    const bool empty = written.videoTrackCount + written.audioTrackCount == 0 ||
                       (timed && expectedSeconds && *expectedSeconds > 0 &&
                        !(written.durationSeconds && *written.durationSeconds > 0));
    if (empty) {
        Log::engine().error("The output made from {} holds nothing", paths::lastComponent(source));
        throw ConversionError::corruptedInput(source);
    }
}

}  // namespace kolvex
