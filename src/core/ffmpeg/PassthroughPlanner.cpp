// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/PassthroughPlanner.h"

#include "core/ffmpeg/ContainerCompatibility.h"
#include "core/services/PathUtils.h"

namespace kolvex {

PassthroughPlanner::Decision PassthroughPlanner::decide(const ConversionJob& job, const MediaProbe& probe) {
    const auto& options = job.options;
    const Format& target = job.to;
    if (options.tool && !ConversionOptions::containerOnlyTools().contains(*options.tool))
        return Decision::reencode("output content differs from the source");
    const bool encodeSettingsAsked = !options.encodeSettingsFromPreferences && (options.quality || options.audioBitrate);
    if (options.maxDimension || options.scalePercent || options.sampleRate || encodeSettingsAsked)
        return Decision::reencode("output content differs from the source");
    if (!options.allowPassthrough) return Decision::reencode("passthrough disabled by request");
    // A cut of an AVI into AVI keeps whatever the AVI holds.
    const bool ownAvi = job.isTrim() && target.id.rawValue == "avi" && probe.demuxer == "avi";
    if (!ownAvi && !ContainerCompatibility::isKnownContainer(target.id))
        return Decision::reencode(target.label + " container compatibility unknown");

    // A stream the source's own container already holds can be stored there; what fails is a copy.
    const auto notCopied = [&](const std::string& codec) {
        return job.from.id == target.id ? codec + " in " + target.label + " cannot be copied exactly"
                                        : codec + " cannot be stored in " + target.label;
    };
    if (target.category != FormatCategory::audio) {
        if (!probe.videoCodec) return Decision::reencode("no video track");
        if (!ownAvi && !ContainerCompatibility::accepts(*probe.videoCodec, target.id))
            return Decision::reencode(notCopied(*probe.videoCodec));
        if (!ownAvi && probe.audioCodec && !ContainerCompatibility::accepts(*probe.audioCodec, target.id))
            return Decision::reencode(notCopied(*probe.audioCodec));
        // MP4's MP3 is MPEG-1 or MPEG-2 audio: 16 kHz and up.
        if (!ownAvi && probe.audioCodec && paths::asciiLower(*probe.audioCodec) == "mp3" && probe.audioSampleRate &&
            *probe.audioSampleRate < 16000 && target.id.rawValue != "mkv")
            return Decision::reencode("mp3 at " + std::to_string(*probe.audioSampleRate) + " Hz cannot be stored in " + target.label);
        // AVI states no presentation times, and those ffmpeg makes up for H.264 or HEVC pictures
        // with B-frames are out of order: a copy would show them late and jumbled.
        const std::string video = paths::asciiLower(*probe.videoCodec);
        if (probe.demuxer == "avi" && probe.videoDecodeDelay > 0 && (video == "h264" || video == "hevc"))
            return Decision::reencode("AVI states no presentation times for its B-frames");
        // This FFmpeg's Matroska and WebM muxers drop the display matrix: a copied phone clip
        // would play sideways there.
        if (probe.rotation != 0 && !ContainerCompatibility::keepsRotation(target.id))
            return Decision::reencode("the picture's rotation cannot be stored in " + target.label);
        // Matroska, WebM and AVI have no edit list: a copy would show what the source's hides.
        if ((probe.editHidesPictures || probe.editHidesSound) && !ContainerCompatibility::keepsEditList(target.id))
            return Decision::reencode("the edit list hides part of the file, which a copy into " + target.label + " would show");
        return Decision::passthrough(false, "container rewrite \u2014 " + *probe.videoCodec + " copied without re-encoding");
    }

    if (!probe.audioCodec) return Decision::reencode("no audio track to extract");
    // A copied FLAC stream keeps its source's header, sample count included: a part, or the
    // copy of a file cut short, would claim more audio than it holds. FLAC is re-encoded,
    // losslessly, so the header states what the file holds.
    if (*probe.audioCodec == "flac" && (job.isTrim() || target.id.rawValue == "flac"))
        return Decision::reencode("FLAC is re-encoded losslessly so its header states its own length");
    // A copied cut of MP3 loses sound at every cut: a frame leans on the frames before it (the bit
    // reservoir) and the encoder's delay is stated for the file's start alone. PCM is copied in
    // blocks, so a copied cut repeats part of a block. Both are cut by decoding: PCM losslessly,
    // MP3 with the encoder's delay and padding stated, so every sample is in one part.
    const std::string codec = paths::asciiLower(*probe.audioCodec);
    if (job.isTrim() && codec == "mp3")
        return Decision::reencode("MP3 is re-encoded so a cut keeps every sample");
    if (job.isTrim() && codec.starts_with("pcm_"))
        return Decision::reencode("PCM is cut by decoding, losslessly, to the sample");
    // ALAC is copied in frames of 4096 samples: a copied cut keeps whole frames past both ends.
    if (job.isTrim() && codec == "alac")
        return Decision::reencode("ALAC is cut by decoding, losslessly, to the sample");
    // A copied Ogg page carries granule positions counted from the source's start and the
    // decoder's pre-roll: a copied cut starts early, or does not open at all.
    if (job.isTrim() && (codec == "opus" || codec == "vorbis"))
        return Decision::reencode("Ogg sound is cut by decoding, so each part starts and ends where asked");
    if (ContainerCompatibility::accepts(*probe.audioCodec, target.id)) {
        // Sound frames stand alone: what an edit list hides is left out of the copy, to the frame.
        if (probe.editHidesSound && !ContainerCompatibility::keepsEditList(target.id))
            return Decision::passthrough(true, "copying the " + *probe.audioCodec +
                                                   " track out, without what the file's edit list hides (to a frame)");
        return Decision::passthrough(true, "copying the " + *probe.audioCodec + " track out");
    }
    return Decision::reencode(notCopied(*probe.audioCodec));
}

}  // namespace kolvex
