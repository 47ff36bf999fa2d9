// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/FFmpegArguments.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <set>
#include <stdexcept>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "core/conversion/ResizePlan.h"
#include "core/conversion/SizeEstimator.h"
#include "core/conversion/SoundCompression.h"
#include "core/conversion/SoundShape.h"
#include "core/ffmpeg/AudioTagArguments.h"
#include "core/ffmpeg/ContainerCompatibility.h"
#include "core/ffmpeg/FFmpegEncoders.h"
#include "core/ffmpeg/LibavInput.h"
#include "core/services/PathUtils.h"

namespace kolvex {

using Arguments = FFmpegArguments::Arguments;

namespace {

void append(Arguments& to, const Arguments& more) { to.insert(to.end(), more.begin(), more.end()); }

bool isTool(const ConversionJob& job, const char* tool) { return job.options.tool && *job.options.tool == tool; }

int64_t truncated(double value) {
    if (!std::isfinite(value)) return 0;
    if (value >= 9.2e18) return std::numeric_limits<int64_t>::max();
    if (value <= -9.2e18) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

const Arguments kMetadataStrip = {"-map_metadata", "-1", "-map_chapters", "-1"};

Arguments metadataStrip(const ConversionJob& job) { return job.options.preserveMetadata ? Arguments{} : kMetadataStrip; }

Arguments audioBitrateArguments(const ConversionJob& job) {
    const int64_t kilobits = job.options.audioBitrate ? *job.options.audioBitrate / 1000 : 192;
    return {"-b:a", fmt::format("{}k", kilobits)};
}

// The rate and layout `encoder` is given: the nearest it takes to the source's (or to the rate
// asked for), stated only where they differ from what ffmpeg would hand it by itself.
Arguments soundShapeArguments(const ConversionJob& job, const std::optional<MediaProbe>& probe, const std::string& encoder) {
    const int64_t sourceRate = probe && probe->audioSampleRate ? *probe->audioSampleRate : 0;
    const int sourceChannels = probe && probe->audioChannels ? static_cast<int>(*probe->audioChannels) : 0;
    const std::string sourceLayout = probe ? probe->audioChannelLayout.value_or("") : "";
    const SoundShape shape = SoundShape::of(encoder, sourceRate, sourceChannels, sourceLayout, job.options.sampleRate);
    Arguments args;
    if (job.options.sampleRate || (sourceRate > 0 && shape.sampleRate != sourceRate))
        append(args, {"-ar", fmt::format("{}", shape.sampleRate)});
    const std::string stated = sourceLayout.empty() ? SoundShape::usualLayout(sourceChannels) : sourceLayout;
    if (sourceChannels > 0 && shape.layout != stated) append(args, {"-ch_layout", shape.layout});
    return args;
}

// MP4 and QuickTime players (Apple's above all) only play HEVC tagged "hvc1"; ffmpeg's default
// "hev1" leaves them showing nothing.
Arguments hevcTag(const ConversionJob& job, const std::optional<std::string>& videoCodec) {
    static const std::set<std::string> appleContainers = {"mp4", "m4v", "mov"};
    if (!videoCodec || paths::asciiLower(*videoCodec) != "hevc" || !appleContainers.contains(job.to.id.rawValue)) return {};
    return {"-tag:v", "hvc1"};
}

// `audioInput`: the input whose sound is copied (a copied trim may read it from a second opening).
Arguments passthroughMapping(const ConversionJob& job, bool dropsVideo, const std::optional<MediaProbe>& probe,
                             int audioInput = 0) {
    Arguments args;
    if (dropsVideo) {
        args = AudioTagArguments::mapping(job, probe);
        append(args, {"-c:a", "copy"});
        // A container without edit lists is given only the sound frames the source shows.
        if (probe && probe->editHidesSound && !job.isTrim() && !ContainerCompatibility::keepsEditList(job.to.id))
            append(args, {"-copypriorss", "0"});
        return args;
    }
    // "V" passes over cover pictures: the first moving picture is the video.
    if (isTool(job, "remove-audio"))
        args = {"-map", "0:V:0", "-an", "-c", "copy", "-sn", "-dn"};
    else
        args = {"-map", "0:V:0", "-map", fmt::format("{}:a:0?", audioInput), "-c", "copy", "-sn", "-dn"};
    append(args, hevcTag(job, probe ? probe->videoCodec : std::nullopt));
    append(args, metadataStrip(job));
    return args;
}

// Still images written by ffmpeg's image2 muxer, which would read "%d" in a file name as a
// frame-number pattern unless told the name is just a name.
bool writesThroughImage2(const Format& target) {
    static const std::set<std::string> ids = {"png", "jpg", "jpeg", "bmp", "tiff"};
    return ids.contains(target.id.rawValue);
}

Arguments imageArguments(const ConversionJob& job) {
    Arguments args = {"-an", "-frames:v", "1", "-c:v", FFmpegArguments::imageEncoder(job.to)};
    if (job.to.id.rawValue == "webp") {
        const double quality = job.options.quality ? *job.options.quality * 100 : 85;
        append(args, {"-quality", fmt::format("{:.0f}", quality), "-pix_fmt", "yuva420p"});
    }
    if (const auto filter = FFmpegArguments::videoFilter(job)) append(args, {"-vf", *filter});
    if (writesThroughImage2(job.to)) append(args, {"-update", "1"});
    return args;
}

Arguments audioOnlyArguments(const ConversionJob& job, const std::optional<MediaProbe>& probe) {
    Arguments args = AudioTagArguments::mapping(job, probe);
    if (isTool(job, "normalize"))
        append(args, {"-af", FFmpegArguments::loudnessFilter(probe ? probe->audioSampleRate : std::nullopt)});
    auto pcm = AudioTagArguments::pcmEncoder(job.to, probe);
    // A cut of PCM into its own kind of file keeps the source's samples as they are.
    if (pcm && job.isTrim() && job.from.id == job.to.id && probe && probe->audioCodec &&
        probe->audioCodec->starts_with("pcm_"))
        pcm = *probe->audioCodec;
    // A cut or a loudness change keeps its sound's own codec where the target's encoder would
    // change it (ALAC stays lossless).
    const auto kept = (job.isTrim() || isTool(job, "normalize")) && probe ? FFmpegEncoders::keepingEncoder(job.to, probe->audioCodec) : std::nullopt;
    const std::string encoder = pcm ? *pcm : kept ? *kept : FFmpegArguments::audioEncoder(job.to);
    append(args, {"-c:a", encoder});
    // A cut that is re-encoded only to be exact keeps the source's bit rate, unless one was asked.
    const bool cutAlike = job.isTrim() && job.from.id == job.to.id && probe && probe->audioBitrate &&
                          *probe->audioBitrate >= 8000 && (!job.options.audioBitrate || job.options.encodeSettingsFromPreferences);
    const bool lossy = job.to.has(FormatCapability::lossy) && kept != "alac" && kept != "flac";
    // A compressed sound file is written at the rate its plan chose, the one its sheet estimated.
    const auto compressed = SoundCompression::applies(job) && probe
                                ? SoundCompression::plan(job.source, *probe, job.to, SoundCompression::quality(job)).bitrate
                                : std::nullopt;
    if (compressed && lossy)
        append(args, {"-b:a", fmt::format("{}k", *compressed / 1000)});
    else if (cutAlike && lossy)
        append(args, {"-b:a", fmt::format("{}k", *probe->audioBitrate / 1000)});
    else if (lossy)
        append(args, audioBitrateArguments(job));
    append(args, soundShapeArguments(job, probe, encoder));
    return args;
}

Arguments encodeMapping(const ConversionJob& job, const std::optional<MediaProbe>& probe) {
    if (job.to.category == FormatCategory::image) return imageArguments(job);
    if (job.to.category == FormatCategory::audio) return audioOnlyArguments(job, probe);

    const bool removeAudio = isTool(job, "remove-audio");
    Arguments args = removeAudio ? Arguments{"-map", "0:V:0", "-an", "-sn", "-dn"}
                                 : Arguments{"-map", "0:V:0", "-map", "0:a:0?", "-sn", "-dn"};
    append(args, {"-c:v", FFmpegArguments::videoEncoder(job.to)});
    append(args, FFmpegArguments::playablePicture(job.to));
    append(args, FFmpegArguments::encoderThreading(job.to, FFmpegArguments::outputWidth(job, probe)));
    if (const auto bitrate = FFmpegArguments::videoBitrate(job, probe)) {
        append(args, {"-b:v", *bitrate});
        append(args, FFmpegArguments::rateCap(*bitrate));
    }
    // 4:2:0 needs even sides; cropping the odd line keeps every other pixel as it was.
    std::string filter = FFmpegArguments::videoFilter(job).value_or("");
    if (!ResizePlan::asksSize(job.options))
        filter += std::string(filter.empty() ? "" : ",") + "crop=trunc(iw/2)*2:trunc(ih/2)*2";
    append(args, {"-vf", filter});
    if (!removeAudio) append(args, FFmpegArguments::audioArguments(job, probe));
    append(args, metadataStrip(job));
    return args;
}

// How ffmpeg reads a source of ours. Its decoders make no picture larger than the probe admits:
// a stream's own header (a PNG's, a later frame's) may claim far more than the container that
// the probe read, and would have the decoder allocate it before the data proves short. And the
// demuxer the probe found, so ffmpeg reads the file as we did and cannot pick another; an image
// sequence reader is left to ffmpeg's own choice, which reads a single picture.
Arguments demuxerArguments(const std::optional<std::string>& demuxer) {
    Arguments args{"-max_pixels", std::to_string(LibavInput::maxFramePixels)};
    if (!demuxer || demuxer->empty() || *demuxer == "image2") return args;
    append(args, {"-f", *demuxer});
    return args;
}

// AVI states no presentation times: a decoder times each picture by the packet it came from,
// so where B-frames are put in order every picture comes out that many pictures late. How late,
// in seconds; none for any other source.
std::optional<double> aviPictureLag(const std::optional<MediaProbe>& probe) {
    if (!probe || probe->videoDecodeDelay <= 0) return std::nullopt;
    const auto picture = FFmpegArguments::aviPictureTime(probe);
    if (!picture) return std::nullopt;
    return static_cast<double>(probe->videoDecodeDelay) * *picture;
}

// Whether a re-encode into `target` keeps each picture's own time. ffmpeg's encoders count time
// in pictures of the frame rate by default, so a first picture that lies between two places of
// that grid moves onto the next: the H.264 and AAC Matroska files ffmpeg and others write start
// their pictures after the sound's priming (21 ms at 48 kHz), and every picture of a re-encode
// showed 19 ms late. The encoders are given the source's own clock, and each picture its time.
// AVI has no times but that grid: its pictures are put on it.
bool keepsPictureTimes(const Format& target) { return target.id.rawValue != "avi"; }

// An AVI's pictures lie on a grid of its frame rate, and its time base is that grid: a cut that
// starts between two pictures would have its first picture's time rounded down to the start, and
// every later picture with it, so one picture too many would reach the end. A re-encoded cut of
// an AVI starts at its first picture.
ConversionJob onPictureGrid(const ConversionJob& job, const PassthroughPlanner::Decision& decision,
                            const std::optional<MediaProbe>& probe) {
    if (decision.isPassthrough() || !job.options.trimStart || !(*job.options.trimStart > 0) || !probe ||
        probe->demuxer != "avi" || !probe->videoCodec)
        return job;
    const auto picture = FFmpegArguments::aviPictureTime(probe);
    if (!picture) return job;
    ConversionJob snapped = job;
    const double start = *job.options.trimStart;
    // (A time written to the microsecond lies up to half a microsecond past its picture.)
    snapped.options.trimStart = std::ceil(start / *picture - 1e-3) * *picture;
    if (job.options.trimEnd && !(*job.options.trimEnd > *snapped.options.trimStart)) return job;
    return snapped;
}

}  // namespace

const Arguments& FFmpegArguments::common() {
    static const Arguments preamble = {"-nostdin", "-hide_banner", "-loglevel", "error", "-progress",
                                       "pipe:1",   "-stats_period", "0.2",     "-n"};
    return preamble;
}

std::string FFmpegArguments::videoEncoder(const Format& target) { return FFmpegEncoders::videoEncoder(target); }
std::string FFmpegArguments::audioEncoder(const Format& target) { return FFmpegEncoders::audioEncoder(target); }
std::string FFmpegArguments::imageEncoder(const Format& target) { return FFmpegEncoders::imageEncoder(target); }

Arguments FFmpegArguments::build(const ConversionJob& asked, const PassthroughPlanner::Decision& decision,
                                 const std::optional<MediaProbe>& probe, const std::optional<CopyCut>& cut,
                                 std::optional<double> reencodeSeek) {
    const ConversionJob job = onPictureGrid(asked, decision, probe);
    if (isGif(job.to) && !decision.isPassthrough())
        throw std::logic_error("A GIF is made in two passes: gifPalette() and gifFrames()");
    const std::optional<std::string> demuxer = probe ? probe->demuxer : std::nullopt;
    const std::optional<std::string> sound = probe ? probe->audioCodec : std::nullopt;
    Arguments args = common();
    const bool copiedCut = cut && decision.isPassthrough() && !decision.dropsVideo;
    // A re-encoded cut of pictures keeps each picture's own time (in the source's time base, not
    // rounded to the frame rate), repeats none to fill the gap before the first, and ends on the
    // output's clock: an input's -t counts from the first picture decoded, not from the seek
    // point, and would keep one picture more whenever the cut starts between two.
    const auto length = trimLength(job);
    // A cut that shows no picture keeps its sound alone, cut on the output like the pictures.
    const bool soundAlone = !decision.isPassthrough() && decision.dropsVideo;
    const bool reencodedPictures =
        !decision.isPassthrough() && !soundAlone && job.to.category == FormatCategory::video && job.isTrim();
    const bool outputCut = reencodedPictures || (soundAlone && job.isTrim());
    if (!copiedCut) {
        ConversionJob input = job;
        if (outputCut) input.options.trimEnd.reset();
        const bool encodesPictures = !decision.isPassthrough() && !soundAlone && job.to.category == FormatCategory::video;
        const auto lag = encodesPictures ? aviPictureLag(probe) : std::nullopt;
        const bool soundApart = lag && !isTool(job, "remove-audio");
        // The inputs sought to the keyframe the cut's first pictures are decoded from, and the
        // cut made on the decoded pictures and sound by the output's start. (AVI states no times
        // to seek by; Ogg is read from its start anyway.)
        std::optional<double> headCut;
        if (outputCut && reencodeSeek && job.options.trimStart && !lag && demuxer != "avi" &&
            demuxer != "ogg" && *reencodeSeek < *job.options.trimStart - 0.0005) {
            headCut = *job.options.trimStart - *reencodeSeek;
            if (*reencodeSeek > 0)
                input.options.trimStart = reencodeSeek;
            else
                input.options.trimStart.reset();
        }
        if (lag) {
            // The pictures from an opening of their own, moved back to where they show; the
            // sound, timed by its bytes, from a second one.
            append(args, {"-itsoffset", fmt::format("-{:.6f}", *lag)});
        } else if (decision.isPassthrough() && !decision.dropsVideo && demuxer == "avi") {
            // A copy needs times for its packets: Matroska refuses packets without, MP4 would
            // decode them out of order.
            append(args, {"-fflags", "+genpts"});
        }
        append(args, trimmedInput(input, demuxer, sound));
        if (soundApart) append(args, trimmedInput(input, demuxer, sound));
        if (decision.isPassthrough()) {
            append(args, passthroughMapping(job, decision.dropsVideo, probe));
        } else {
            Arguments mapping = encodeMapping(job, probe);
            if (soundApart) std::replace(mapping.begin(), mapping.end(), std::string("0:a:0?"), std::string("1:a:0?"));
            // The pictures end where the cut does by their own times, before an encoder for a
            // container of constant rate (AVI) moves the first onto its grid and a later one with it.
            const auto filter = std::find(mapping.begin(), mapping.end(), std::string("-vf"));
            if (reencodedPictures && length && filter != mapping.end() && filter + 1 != mapping.end())
                *(filter + 1) = fmt::format("trim=end={:.6f},{}", headCut.value_or(0) + *length, *(filter + 1));
            append(args, mapping);
            if (soundAlone) append(args, {"-vn"});
        }
        if (reencodedPictures || (encodesPictures && keepsPictureTimes(job.to)))
            append(args, {"-fps_mode", "passthrough", "-enc_time_base:v", "-1"});
        if (outputCut) {
            if (headCut) append(args, {"-ss", fmt::format("{:.6f}", *headCut)});
            if (length) append(args, {"-t", timestamp(*length)});
        }
        append(args, containerFlags(job.to));
        args.push_back(paths::absolute(job.destination).string());
        return args;
    }
    // One reading of the file, sought to the cut's keyframe, ends the sound where asked. Pictures
    // decoded ahead of their times (B-frames) are to stop earlier than that: the planned number
    // pass, the rest are dropped as they are read. (ffmpeg's -frames:v would end the sound too.)
    // An AVI stores no presentation times: they are made up as it is read.
    ConversionJob input = job;
    input.options.trimStart = cut->seek;
    // The read's length as the plan counted it (an AVI's from the keyframe its seek rounds onto).
    const bool picturesOnly = isTool(job, "remove-audio");
    input.options.trimEnd = picturesOnly ? cut->pictureEnd : job.options.trimEnd;
    if (input.options.trimEnd)
        input.options.trimEnd = cut->seek.value_or(0) + double(cut->readMilliseconds(*input.options.trimEnd)) / 1000;
    if (demuxer == "avi") append(args, {"-fflags", "+genpts"});
    append(args, trimmedInput(input, demuxer, sound));
    append(args, passthroughMapping(job, false, probe, 0));
    if (probe && writesCutSoundAgain(job, *probe)) append(args, {"-c:a", "flac"});
    if (!picturesOnly && cut->countsPictures)
        append(args, {"-bsf:v", fmt::format("noise=drop=gte(n\\,{})", cut->pictures)});
    // What the seek read before the seek point is dropped, stream by stream, not copied; the
    // keyframe then starts the output's time line, and a sound frame it falls in starts just
    // before it (MP4 and QuickTime hide that head by an edit list).
    if (cut->seek)
        append(args, {"-copypriorss", "0", "-output_ts_offset", fmt::format("-{:.6f}", std::max(0.0, cut->start - *cut->seek))});
    append(args, containerFlags(job.to));
    args.push_back(paths::absolute(job.destination).string());
    return args;
}

Arguments FFmpegArguments::copyMapping(const ConversionJob& job, const std::optional<MediaProbe>& probe) {
    return passthroughMapping(job, false, probe);
}

std::optional<CopyCut::Clock> FFmpegArguments::aviClock(const std::optional<MediaProbe>& probe) {
    if (!probe || probe->demuxer != "avi" || !probe->videoTimeBase) return std::nullopt;
    const std::string& text = *probe->videoTimeBase;
    CopyCut::Clock clock;
    const char* end = text.data() + text.size();
    const auto [slash, num] = std::from_chars(text.data(), end, clock.num);
    if (num != std::errc() || slash == end || *slash != '/') return std::nullopt;
    const auto [rest, den] = std::from_chars(slash + 1, end, clock.den);
    if (den != std::errc() || rest != end || clock.num <= 0 || clock.den <= 0) return std::nullopt;
    return clock;
}

std::optional<double> FFmpegArguments::aviPictureTime(const std::optional<MediaProbe>& probe) {
    if (!probe || probe->demuxer != "avi" || !probe->frameRate) return std::nullopt;
    const std::string& rate = *probe->frameRate;
    const auto slash = rate.find('/');
    double numerator = 0, denominator = 1;
    try {
        numerator = std::stod(rate.substr(0, slash));
        if (slash != std::string::npos) denominator = std::stod(rate.substr(slash + 1));
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (!(numerator > 0) || !(denominator > 0)) return std::nullopt;
    return denominator / numerator;
}

Arguments FFmpegArguments::trimmedInput(const ConversionJob& job, const std::optional<std::string>& demuxer,
                                        const std::optional<std::string>& soundCodec) {
    const auto& options = job.options;
    Arguments trim;
    if (options.trimStart && *options.trimStart > 0) append(trim, {"-ss", FFmpegArguments::timestamp(*options.trimStart)});
    if (const auto length = FFmpegArguments::trimLength(job)) append(trim, {"-t", FFmpegArguments::timestamp(*length)});
    Arguments args;
    // ffmpeg's seek in an Ogg file lands early where its pages do not say their times (FLAC):
    // such sound is read from its start and the cut made on the decoded samples. Opus and
    // Vorbis pages say them, and the seek gives the samples a decode from the start gives.
    const bool readFromStart = demuxer == "ogg" && soundCodec != "opus" && soundCodec != "vorbis";
    if (!readFromStart) append(args, trim);
    append(args, demuxerArguments(demuxer));
    append(args, {"-i", paths::absolute(job.source).string()});
    if (readFromStart) append(args, trim);
    return args;
}

bool FFmpegArguments::writesCutSoundAgain(const ConversionJob& job, const MediaProbe& probe) {
    return probe.audioCodec == "flac" && job.to.category == FormatCategory::video && !isTool(job, "remove-audio");
}

std::optional<double> FFmpegArguments::trimLength(const ConversionJob& job) {
    const auto& options = job.options;
    if (!options.trimEnd) return std::nullopt;
    const double length = options.trimStart ? *options.trimEnd - *options.trimStart : *options.trimEnd;
    if (!(length > 0)) return std::nullopt;
    return length;
}

std::string FFmpegArguments::timestamp(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    // Whole milliseconds first, so a value just below a minute carries into the minute.
    const int64_t milliseconds = truncated(std::round(seconds * 1000));
    const int64_t hours = milliseconds / 3'600'000;
    const int64_t minutes = milliseconds / 60'000 % 60;
    const int64_t wholeSeconds = milliseconds / 1000 % 60;
    return fmt::format("{:02}:{:02}:{:02}.{:03}", hours, minutes, wholeSeconds, milliseconds % 1000);
}

Arguments FFmpegArguments::containerFlags(const Format& target) {
    static const std::set<std::string> fastStart = {"mp4", "mov", "m4a"};
    // ffmpeg's own muxer for ".m4v" (the iPod one) refuses HEVC; an M4V is an MP4 by another name.
    if (target.id.rawValue == "m4v") return {"-f", "mp4", "-movflags", "+faststart"};
    // ffmpeg knows a QuickTime file by ".mov" alone; a ".qt" output keeps its source's name.
    if (target.id.rawValue == "mov") return {"-f", "mov", "-movflags", "+faststart"};
    if (fastStart.contains(target.id.rawValue)) return {"-movflags", "+faststart"};
    // Shifting the streams to start at 0 would move the pictures by the sound's priming.
    if (target.id.rawValue == "avi") return {"-avoid_negative_ts", "disabled"};
    return {};
}

std::optional<std::string> FFmpegArguments::primingCut(const Format& target, const std::string& encoder) {
    if (target.id.rawValue != "avi" || encoder != FFmpegEncoders::platformName("aac_at")) return std::nullopt;
    return "atrim=start_sample=1024,asetpts=PTS-STARTPTS";
}

std::optional<std::string> FFmpegArguments::preSkipShift(const Format& target, const std::string& encoder) {
    if (target.id.rawValue != "webm" || encoder != "libopus") return std::nullopt;
    // libopus' pre-skip: 312 samples at 48 kHz (its "audio" application, ffmpeg's default).
    return "asetpts=PTS+312/48000/TB";
}

Arguments FFmpegArguments::audioArguments(const ConversionJob& job, const std::optional<MediaProbe>& probe) {
    if (isTool(job, "compress") && !job.options.audioBitrate && probe && probe->audioCodec &&
        ContainerCompatibility::accepts(*probe->audioCodec, job.to.id))
        return {"-c:a", "copy"};
    const std::string encoder = audioEncoder(job.to);
    std::vector<std::string> filters;
    // AVI states no start for its sound: a sound that begins after the pictures is given
    // silence before it, from the output's start.
    if (job.to.id.rawValue == "avi" && !job.isTrim()) filters.emplace_back("aresample=first_pts=0");
    if (isTool(job, "normalize")) filters.push_back(loudnessFilter(probe ? probe->audioSampleRate : std::nullopt));
    if (auto priming = primingCut(job.to, encoder)) {
        // A cut's sound ends where the cut does before its priming is made room for: the output's
        // end would otherwise let the priming's length more through.
        if (const auto length = trimLength(job); length && job.isTrim())
            filters.push_back(fmt::format("atrim=end={:.6f}", *length));
        filters.push_back(*priming);
    }
    const auto shift = preSkipShift(job.to, encoder);
    if (shift) filters.push_back(*shift);
    Arguments args;
    if (!filters.empty()) args = {"-af", fmt::format("{}", fmt::join(filters, ","))};
    append(args, {"-c:a", encoder});
    append(args, audioBitrateArguments(job));
    // A film's sound keeps its rate where its encoder takes it. Opus in WebM is written at its own
    // 48 kHz, the rate its pre-skip is counted in: this FFmpeg's Matroska writer states the
    // pre-skip of another rate as if it were of 48 kHz, and a player would start the sound early.
    ConversionJob keptRate = job;
    keptRate.options.sampleRate.reset();
    if (shift && probe && probe->audioSampleRate && *probe->audioSampleRate != 48000) keptRate.options.sampleRate = 48000;
    append(args, soundShapeArguments(keptRate, probe, encoder));
    return args;
}

std::string FFmpegArguments::loudnessFilter(std::optional<int64_t> sampleRate) {
    std::string filter = "loudnorm=I=-16:TP=-1.5:LRA=11,aformat=sample_fmts=fltp";
    if (sampleRate) filter += fmt::format(",aresample={}", *sampleRate);
    return filter;
}

Arguments FFmpegArguments::inputFormat(const std::optional<std::string>& demuxer) { return demuxerArguments(demuxer); }

}  // namespace kolvex
