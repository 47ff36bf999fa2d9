// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ffmpeg/CopyCut.h"
#include "core/ffmpeg/KeyframeIndex.h"
#include "core/ffmpeg/MediaProbe.h"
#include "core/ffmpeg/PassthroughPlanner.h"
#include "core/format/ConversionJob.h"

namespace kolvex {

// What a trim, or one part of a split, will be: a stream copy that holds exactly its span, or a
// re-encode, and why. The one place this is decided: the engine runs what it says, and the trim
// and split sheets tell the user the same before the run. Pure; any thread.
struct CutPlan {
    // What makes a cut a re-encode.
    enum class Cause {
        none,   // it is copied
        codec,  // the streams cannot be copied into the output as cut (container, codec, options)
        start,  // no copy starts where asked: no keyframe there that starts a closed group of pictures
        end,    // no copy ends where asked: pictures before the end are decoded after one beyond it
    };

    PassthroughPlanner::Decision decision;
    // A copied cut of pictures: where ffmpeg seeks and stops.
    std::optional<CopyCut> cut;
    Cause cause = Cause::none;
    // Every sample and picture kept as the source has it: a copy, or sound written again by a
    // lossless encoder.
    bool lossless = false;
    // The encoder the sound is written again with ("flac", "pcm_s24le", "aac"…); empty when it
    // is copied or there is none.
    std::string soundEncoder;
    // Where the inputs of the cut are sought when it is re-encoded (as planned, or after a copy
    // failed), seconds from the file's start: at the decode time of the last keyframe at or before
    // the start, so that no picture shown from the start on is decoded before the keyframe the
    // seek lands on. ffmpeg's own seek to the start lands, in a container sought by decode time
    // (MP4, QuickTime), on a later keyframe whenever that is decoded before the start, and loses
    // the pictures between the start and it. 0: from the very start. None: the pictures' times
    // are not known (sound, or a read that failed); ffmpeg seeks to the start itself.
    std::optional<double> reencodeSeek;
    // The span shows no picture (it lies before a picture that starts late, or past the last):
    // the cut holds its sound alone, re-encoded, with no picture track, and says so.
    bool soundAlone = false;

    bool isCopy() const { return decision.isPassthrough(); }
    // Whether a sound codec keeps every sample: PCM, FLAC, ALAC.
    static bool isLosslessSound(const std::string& codec);

    // The plan of a trim `job` (a format conversion when it does not trim). `cuts`: where the
    // source's pictures can be cut, holding every packet from a keyframe at or before the start
    // on, past the first keyframe at or after the end; none when they could not be read (a video
    // is then re-encoded).
    static CutPlan of(const ConversionJob& job, const MediaProbe& probe, const StreamCopyCuts* cuts);
    // The sentence a cut that holds its sound alone tells the user; none for any other.
    std::optional<std::string> note(const ConversionJob& job) const;
    // reencodeSeek's value for a cut from `start`: 0 when no keyframe lies at or before it (the
    // pictures start later; the sound before them is read from the file's start).
    static std::optional<double> seekBefore(const StreamCopyCuts& cuts, double start);

    // Where a split cuts: the given points (or the middle when none), ascending, each strictly
    // inside (0.1 s, duration − 0.1 s) and at least 0.1 s after the previous one.
    static std::vector<double> splitPoints(const std::vector<double>& given, double duration);
    // The trims a split of `job` is made of, one per part, at `points` (as splitPoints gives
    // them). A point within the tolerance of a keyframe moves
    // onto it, so the part before ends exactly where the next begins; the parts on either side of
    // any other point are re-encoded to end and start there. `cuts`: as for of(); none for sound.
    static std::vector<ConversionOptions> splitParts(const ConversionJob& job, std::vector<double> points,
                                                     const StreamCopyCuts* cuts);
};

// The cuts of one file as the sheets ask about them: the job their answer would start, what the
// file holds and where its pictures can be cut, all read once. Asks CutPlan with exactly what
// the engine will read for that job. Plain value; any thread. Needs none of FFmpeg's libraries,
// so the sheets can ask it from the program that loads the engine as a module.
class CutQuestion {
public:
    // `job`: the tool's job as the sheet would start it (its times are set per question).
    // `cuts`: every packet of the first picture stream, as LibavKeyframeReader reads a whole
    // file; none for sound, or when they could not be read.
    CutQuestion(ConversionJob job, MediaProbe probe, std::shared_ptr<const StreamCopyCuts> cuts);

    // A trim from `start` to `end`.
    CutPlan trim(double start, double end) const;
    // Each part of a split at `points`.
    std::vector<CutPlan> split(const std::vector<double>& points) const;
    // The start nearest `start`, and the end nearest `end`, at which a copy holds exactly the
    // span; none when no keyframe or picture close by makes one.
    std::optional<double> nearestCopyStart(double start, double end) const;
    std::optional<double> nearestCopyEnd(double start, double end) const;
    // The keyframes a copy can start on: each starts a closed group of pictures (an open group's
    // I-picture is flagged a keyframe too, but pictures after it show earlier).
    KeyframeIndex copyStarts() const;

    // Every picture flagged a keyframe, whether a copy can start there or not.
    KeyframeIndex keyframes() const { return m_cuts ? m_cuts->keyframes : KeyframeIndex{}; }
    const ConversionJob& job() const { return m_job; }
    const MediaProbe& probe() const { return m_probe; }
    bool hasPictures() const { return m_cuts != nullptr && !m_cuts->pictures.empty(); }

    // What the engine reads of the file for a trim of [start, end): the packets from the
    // keyframe at or before a second before the start, to some way past the first keyframe at or
    // after the end.
    StreamCopyCuts window(double start, std::optional<double> end) const;

private:
    ConversionJob trimJob(double start, double end) const;

    ConversionJob m_job;
    MediaProbe m_probe;
    std::shared_ptr<const StreamCopyCuts> m_cuts;
    std::vector<size_t> m_keyPositions;  // decode-order positions of the keyframes in m_cuts
};

}  // namespace kolvex
