// SPDX-License-Identifier: GPL-3.0-or-later
// The two passes of an animated GIF: its palette, then its frames mapped onto it.
#include <string>

#include <fmt/format.h>

#include "core/ffmpeg/FFmpegArguments.h"
#include "core/services/PathUtils.h"

namespace kolvex {

using Arguments = FFmpegArguments::Arguments;

namespace {

void append(Arguments& to, const Arguments& more) { to.insert(to.end(), more.begin(), more.end()); }

// A source of exactly one picture: a still image, or an AVIF or ICO whose first picture was
// decoded for ffmpeg.
bool isSingleStill(const ConversionJob& job) {
    if (job.from.category != FormatCategory::image) return false;
    const std::string& id = job.from.id.rawValue;
    return id == "avif" || id == "ico" || !job.from.has(FormatCapability::animation);
}

// Frame rate and size of an animated GIF: 12 frames per second (none for a single still, whose
// only frame the rate filter would drop), `maxDimension` or 480 pixels wide.
std::string gifFramesFilter(const ConversionJob& job) {
    const int64_t width = job.options.maxDimension.value_or(480);
    return fmt::format("{}scale={}:-1:flags=lanczos", isSingleStill(job) ? "" : "fps=12,", width);
}

}  // namespace

bool FFmpegArguments::isGif(const Format& target) { return target.id.rawValue == "gif"; }

Arguments FFmpegArguments::gifPalette(const ConversionJob& job, const std::filesystem::path& palette,
                                      const std::optional<std::string>& demuxer) {
    Arguments args = common();
    append(args, trimmedInput(job, demuxer));
    append(args, {"-an", "-vf", gifFramesFilter(job) + ",palettegen=stats_mode=diff", "-update", "1",
                  paths::absolute(palette).string()});
    return args;
}

Arguments FFmpegArguments::gifFrames(const ConversionJob& job, const std::filesystem::path& palette,
                                     const std::optional<std::string>& demuxer) {
    Arguments args = common();
    append(args, trimmedInput(job, demuxer));
    append(args, {"-i", paths::absolute(palette).string(), "-an", "-filter_complex",
                  "[0:v]" + gifFramesFilter(job) + "[x];[x][1:v]paletteuse=dither=bayer:bayer_scale=3", "-loop", "0",
                  paths::absolute(job.destination).string()});
    return args;
}

}  // namespace kolvex
