// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/ffmpeg/CopyCut.h"
#include "core/ffmpeg/MediaProbe.h"
#include "core/ffmpeg/PassthroughPlanner.h"
#include "core/format/ConversionJob.h"

namespace kolvex {

// Turns one planned conversion into the argument list of one ffmpeg run (everything after the
// program path). Pure: touches no file and starts nothing, apart from reading the source's size
// for bit-rate estimates. Numbers are written without regard to the locale. Any thread.
class FFmpegArguments {
public:
    using Arguments = std::vector<std::string>;

    // The preamble of every run: no standard input, errors only, the key=value progress stream
    // on standard output every 0.2 s, never write over an existing file (the engine hands ffmpeg
    // a fresh hidden name and moves the finished file into place itself).
    static const Arguments& common();

    // The whole argument list of a single conversion. Source and destination are passed as
    // absolute paths, so a name starting with "-" is never read as an option. Not for a GIF
    // re-encode, which takes the two passes below.
    // The input is read with the demuxer the probe found ("-f"). `cut`: for a copied video trim,
    // where the copy is sought and where its pictures end (CopyCut); the sound runs from the
    // seek point to the asked end. `reencodeSeek`: for a re-encoded video trim, where its inputs
    // are sought (CutPlan::reencodeSeek); the cut then starts on the decoded pictures and sound.
    static Arguments build(const ConversionJob& job, const PassthroughPlanner::Decision& decision,
                           const std::optional<MediaProbe>& probe, const std::optional<CopyCut>& cut = std::nullopt,
                           std::optional<double> reencodeSeek = std::nullopt);

    // The streams a copied cut of pictures keeps, and how: the first moving picture and the first
    // sound, copied, as a copy of `job` maps them.
    static Arguments copyMapping(const ConversionJob& job, const std::optional<MediaProbe>& probe);

    // An animated GIF is made in two passes (FFmpegGifArguments.cpp), so memory stays bounded
    // however long the source:
    // the first writes the palette of the whole (trimmed) clip to `palette`, the second maps every
    // frame onto it. (One graph that splits the frames to both would hold every frame until the
    // palette is done.)
    static bool isGif(const Format& target);
    static Arguments gifPalette(const ConversionJob& job, const std::filesystem::path& palette,
                                const std::optional<std::string>& demuxer = std::nullopt);
    static Arguments gifFrames(const ConversionJob& job, const std::filesystem::path& palette,
                               const std::optional<std::string>& demuxer = std::nullopt);
    // The options a source is read with, before its "-i": the largest picture its decoders may
    // make (the probe's limit), and "-f" with the demuxer a probe found, for an input ffmpeg must
    // read as we did (not when none is known or it is the image sequence reader).
    static Arguments inputFormat(const std::optional<std::string>& demuxer);

    // How `job`'s source is read: its trim's "-ss" and "-t" around the input options and "-i"
    // (after "-i" for Ogg whose pages do not say their times, FLAC: the seek lands early there;
    // Opus and Vorbis pages say them, and a seek before the input gives the same samples).
    static Arguments trimmedInput(const ConversionJob& job, const std::optional<std::string>& demuxer,
                                  const std::optional<std::string>& soundCodec = std::nullopt);

    // Whether a copied cut of pictures of `job` writes its sound again (losslessly) rather than
    // copying it: FLAC, whose long blocks would reach before the first picture.
    static bool writesCutSoundAgain(const ConversionJob& job, const MediaProbe& probe);

    // The length of a trim: end minus start (or the end alone); none when it is not positive.
    static std::optional<double> trimLength(const ConversionJob& job);

    // Encoder choice per target; see FFmpegEncoders, the one place that knows the names.
    static std::string videoEncoder(const Format& target);
    static std::string audioEncoder(const Format& target);
    static std::string imageEncoder(const Format& target);

    // MPEG-4 Visual (ASP) pictures packed as DivX and Xvid pack them in AVI (a reference picture and
    // the B-frame after it in one chunk, a placeholder after that) are no valid MPEG-4 elsewhere,
    // and ffmpeg makes up their times as it reads them, before a filter of the copy could unpack
    // them: a copy out of the AVI would show pictures twice and in the wrong order; a cut, copied
    // or not, would lose B-frames at its start. Whether `job` is made from an AVI of its own
    // first, the pictures unpacked, every one in its chunk.
    static bool unpacksFirst(const ConversionJob& job, const PassthroughPlanner::Decision& decision, const MediaProbe& probe);
    // The input options a join of files read by `demuxers` (the concat demuxer) needs to copy their
    // pictures into `target`: AVI states no presentation times, so joined into a container that
    // does, its pictures are given them as they are read, B-frames put in order, or the joined
    // stream's would go back.
    static Arguments joinedPictureTimes(const Format& target, const std::vector<std::optional<std::string>>& demuxers);
    // The run that writes that AVI to `to`: every picture and sound stream, and each subtitle
    // stream an AVI holds, copied; the first picture stream unpacked.
    static Arguments unpackedCopy(const ConversionJob& job, const MediaProbe& probe, const std::filesystem::path& to);
    // Whether that AVI holds a subtitle stream of this codec (as the probe names it).
    static bool standInHolds(const std::string& subtitleCodec);

    // The picture of a video deliverable: 8-bit 4:2:0 and, for H.264, the High profile. Left to
    // itself the encoder keeps a GIF's, PNG's, ProRes' or 10-bit source's chroma and depth
    // (High 4:4:4, High 10), which phones, browsers and most players refuse. No B-frames in AVI.
    static Arguments playablePicture(const Format& target);

    // How the video encoder spreads its work over the processors. VP9 is given row
    // multithreading and as many tile columns as a picture `width` pixels wide allows (a tile
    // column is at least 256 pixels wide, at most 64 of them), which changes neither its rate
    // control nor its quality settings; the H.264 encoder uses every core by itself.
    static Arguments encoderThreading(const Format& target, std::optional<int64_t> width);
    // The width of the picture a re-encode writes, as far as the probe tells: the upright
    // source, cropped, then scaled to `maxDimension`.
    static std::optional<int64_t> outputWidth(const ConversionJob& job, const std::optional<MediaProbe>& probe);
    // Its width and height, so reckoned.
    static std::optional<std::pair<int64_t, int64_t>> outputSize(const ConversionJob& job,
                                                                 const std::optional<MediaProbe>& probe);

    // "HH:MM:SS.mmm", rounded to whole milliseconds first (59.9996 gives 00:01:00.000, never
    // 00:00:60.000); negative or non-finite values give 00:00:00.000.
    static std::string timestamp(double seconds);
    // "-movflags +faststart" for mp4, m4v, mov and m4a (and the MP4 muxer for m4v); for AVI, times
    // left unshifted; nothing otherwise.
    static Arguments containerFlags(const Format& target);
    // AVI stores neither presentation times nor the sound encoder's priming: its players show a
    // picture when it is decoded and play every decoded sample. An AVI is written without
    // B-frames (playablePicture), with its streams' times left as they are (containerFlags), and
    // with the sound's first `priming` samples cut before AAC encodes them, so its priming stands
    // in their place. The filter text for that cut, for `encoder` into `target`; none elsewhere.
    static std::optional<std::string> primingCut(const Format& target, const std::string& encoder);
    // How long one picture of an AVI lasts, from its frame rate (AVI's pictures follow each other
    // at it, with no times of their own); none for any other source.
    static std::optional<double> aviPictureTime(const std::optional<MediaProbe>& probe);
    // The clock ffmpeg counts an AVI's pictures on (its video time base, a tick a picture); none
    // for any other source.
    static std::optional<CopyCut::Clock> aviClock(const std::optional<MediaProbe>& probe);
    // This FFmpeg's Matroska and WebM writer states Opus' pre-skip as the track's codec delay
    // without moving the packets' times by it, and every reader takes that delay off them: the
    // first packet, which starts the pre-skip before the sound, would lie that much before 0, and
    // ffmpeg would move every stream later to keep it from going negative, the pictures away from
    // their sound (6.5 ms). The sound is handed to the encoder that much later, so its first
    // packet starts at 0 and a player starts the sound where it was. The filter for `encoder` into
    // `target`; none elsewhere.
    static std::optional<std::string> preSkipShift(const Format& target, const std::string& encoder);
    // The audio-stream arguments of a video output.
    static Arguments audioArguments(const ConversionJob& job, const std::optional<MediaProbe>& probe);
    // Loudness normalisation to -16 LUFS, planar float samples, then an optional resampling.
    static std::string loudnessFilter(std::optional<int64_t> sampleRate);
    // Crop (even pixel counts, bottom-left origin turned into ffmpeg's top-left) then scale so the
    // longest side is at most `maxDimension`.
    static std::optional<std::string> videoFilter(const ConversionJob& job);
    // A video bit rate text such as "8700k", when the options ask for a quality.
    static std::optional<std::string> videoBitrate(const ConversionJob& job, const std::optional<MediaProbe>& probe);
    // "-maxrate" 110 % and "-bufsize" 200 % of a bit rate text; nothing for text it cannot read.
    static Arguments rateCap(const std::string& bitrate);
};

}  // namespace kolvex
