// SPDX-License-Identifier: GPL-3.0-or-later
// The picture's side of a command line: its size, filters, bit rate and encoder settings.
#include "core/ffmpeg/FFmpegArguments.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "core/conversion/ResizePlan.h"
#include "core/conversion/SizeEstimator.h"
#include "core/ffmpeg/FFmpegEncoders.h"
#include "core/services/PathUtils.h"

namespace kolvex {

using Arguments = FFmpegArguments::Arguments;

Arguments FFmpegArguments::playablePicture(const Format& target) {
    Arguments args = {"-pix_fmt", "yuv420p"};
    if (videoEncoder(target) == FFmpegEncoders::platformName("h264_videotoolbox")) args.insert(args.end(), {"-profile:v", "high"});
    if (target.id.rawValue == "avi") args.insert(args.end(), {"-bf", "0"});
    return args;
}

bool FFmpegArguments::unpacksFirst(const ConversionJob& job, const PassthroughPlanner::Decision& decision, const MediaProbe& probe) {
    if (!probe.packedBFrames.value_or(false) || decision.dropsVideo || job.to.category != FormatCategory::video) return false;
    // A cut is read from a keyframe on: one packed with the B-frame shown before it loses that
    // B-frame's earlier reference, and a decoder sought there drops B-frames after it.
    const bool cut = job.isTrim() || job.options.tool == "split";
    return cut || (decision.isPassthrough() && job.to.id.rawValue != "avi");
}

Arguments FFmpegArguments::joinedPictureTimes(const Format& target, const std::vector<std::optional<std::string>>& demuxers) {
    const bool untimed = !demuxers.empty() && std::all_of(demuxers.begin(), demuxers.end(),
                                                          [](const auto& demuxer) { return demuxer == "avi"; });
    if (!untimed || target.id.rawValue == "avi") return {};
    return {"-fflags", "+genpts"};
}

Arguments FFmpegArguments::unpackedCopy(const ConversionJob& job, const MediaProbe& probe, const std::filesystem::path& to) {
    Arguments args = common();
    const Arguments input = inputFormat(probe.demuxer);
    args.insert(args.end(), input.begin(), input.end());
    // Every stream the job reads of the source, so that it keeps, and names as left out, what it
    // would of the source itself: the pictures, the sound and the subtitles an AVI takes (DivX's
    // XSUB; its muxer refuses any other). Only the first picture stream is unpacked.
    args.insert(args.end(), {"-i", paths::absolute(job.source).string(), "-map", "0:V", "-map", "0:a?"});
    for (size_t i = 0; i < probe.subtitleCodecs.size(); ++i)
        if (standInHolds(probe.subtitleCodecs[i])) args.insert(args.end(), {"-map", fmt::format("0:s:{}", i)});
    args.insert(args.end(), {"-c", "copy", "-bsf:v:0", "mpeg4_unpack_bframes", "-f", "avi", paths::absolute(to).string()});
    return args;
}

bool FFmpegArguments::standInHolds(const std::string& subtitleCodec) { return subtitleCodec == "xsub"; }

Arguments FFmpegArguments::encoderThreading(const Format& target, std::optional<int64_t> width) {
    if (videoEncoder(target) != "libvpx-vp9") return {};
    Arguments args = {"-row-mt", "1"};
    if (width && *width > 0) {
        // log2 of the column count: the most columns of at least 256 pixels, 64 at most.
        int columns = 0;
        while (columns < 6 && (*width >> (columns + 1)) >= 256) ++columns;
        args.insert(args.end(), {"-tile-columns", fmt::format("{}", columns)});
    }
    return args;
}

std::optional<int64_t> FFmpegArguments::outputWidth(const ConversionJob& job, const std::optional<MediaProbe>& probe) {
    const auto size = outputSize(job, probe);
    return size ? std::optional(size->first) : std::nullopt;
}

std::optional<std::pair<int64_t, int64_t>> FFmpegArguments::outputSize(const ConversionJob& job,
                                                                       const std::optional<MediaProbe>& probe) {
    if (!probe || !probe->width || !probe->height || *probe->width <= 0 || *probe->height <= 0) return std::nullopt;
    const bool quarterTurn = probe->rotation == 90 || probe->rotation == 270;
    double width = static_cast<double>(quarterTurn ? *probe->height : *probe->width);
    double height = static_cast<double>(quarterTurn ? *probe->width : *probe->height);
    if (const auto& crop = job.options.cropRect) {
        width *= std::clamp(crop->width, 0.0, 1.0);
        height *= std::clamp(crop->height, 0.0, 1.0);
    }
    if (ResizePlan::asksSize(job.options)) {
        const auto longest = static_cast<int64_t>(std::max(width, height));
        const double factor = ResizePlan::factor(job.options, longest);
        width *= factor;
        height *= factor;
    }
    if (!(width >= 1)) return std::nullopt;
    return std::pair(static_cast<int64_t>(width), std::max<int64_t>(1, static_cast<int64_t>(height)));
}

std::optional<std::string> FFmpegArguments::videoFilter(const ConversionJob& job) {
    std::vector<std::string> filters;
    if (const auto& crop = job.options.cropRect) {
        const auto term = [](const char* axis, double value) { return fmt::format("trunc({}*{:.6f}/2)*2", axis, value); };
        filters.push_back(fmt::format("crop={}:{}:{}:{}", term("iw", crop->width), term("ih", crop->height),
                                      term("iw", crop->minX()), term("ih", std::max(0.0, 1 - crop->maxY()))));
    }
    // The longest side of the picture as shown (ffmpeg has already turned a rotated source upright),
    // never enlarged, both sides even.
    if (const auto share = job.options.scalePercent; share && *share > 0) {
        // A share of this file's own size, whatever the other files of the batch are.
        const std::string factor = fmt::format("{:.6f}", std::min(1.0, *share / 100.0));
        filters.push_back(fmt::format("scale='trunc({0}*iw/2)*2':'trunc({0}*ih/2)*2'", factor));
    } else if (const auto longest = job.options.maxDimension) {
        const std::string factor = fmt::format("min(1,{}/max(iw,ih))", *longest);
        filters.push_back(fmt::format("scale='trunc({0}*iw/2)*2':'trunc({0}*ih/2)*2'", factor));
    }
    if (filters.empty()) return std::nullopt;
    return fmt::format("{}", fmt::join(filters, ","));
}

std::optional<std::string> FFmpegArguments::videoBitrate(const ConversionJob& job, const std::optional<MediaProbe>& probe) {
    const auto& options = job.options;
    if (!options.quality) return std::nullopt;
    const double quality = *options.quality;
    if (options.tool == "compress" && probe) {
        if (const auto source = SizeEstimator::videoBitrate(job.source, *probe))
            return fmt::format("{}k", SizeEstimator::compressedVideoBitrate(quality, *source) / 1000);
    }
    if (ResizePlan::asksSize(options) && probe && probe->width && probe->height) {
        const int64_t side = ResizePlan::longestSide(options, std::max(*probe->width, *probe->height));
        const int64_t outputPixels = SizeEstimator::pixels(side, *probe->width, *probe->height);
        const auto source = SizeEstimator::videoBitrate(job.source, *probe);
        return fmt::format("{}k", SizeEstimator::resizedVideoBitrate(quality, outputPixels, source) / 1000);
    }
    return fmt::format("{:.0f}k", (quality * 11 + 1) * 1000);
}

Arguments FFmpegArguments::rateCap(const std::string& bitrate) {
    if (bitrate.empty()) return {};
    const std::string_view number(bitrate.data(), bitrate.size() - 1);
    if (number.empty()) return {};
    const char* begin = number.data();
    const char* end = begin + number.size();
    if (*begin == '+') ++begin;
    int64_t kilobits = 0;
    const auto [ptr, error] = std::from_chars(begin, end, kilobits);
    if (begin == end || error != std::errc() || ptr != end) return {};
    if (kilobits > std::numeric_limits<int64_t>::max() / 11 || kilobits < std::numeric_limits<int64_t>::min() / 11) return {};
    return {"-maxrate", fmt::format("{}k", kilobits * 11 / 10), "-bufsize", fmt::format("{}k", kilobits * 2)};
}

}  // namespace kolvex
