// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace kolvex::testing {

// The sources the cut matrix cuts, one row per container and codec the manifest's trim and split
// take, and the dimensions real files add (a picture or sound that starts late, a clock that
// does not start at 0, AVI's codecs at 29.97 and 25 pictures a second).
struct CutSource {
    std::string name;  // also the test's name
    std::string container;  // the format's id, also the file's extension
    std::vector<std::string> encode;  // ffmpeg's codec arguments
    std::string sound;      // the sound's codec, as ffprobe names it
    bool video = true;
    int sampleRate = 44100;
    // One coded sound frame, in samples: what a cut may keep or lose at each end. 1 for sound
    // cut to the sample (PCM, FLAC, ALAC, and what is decoded and encoded again at the cut).
    int frameSamples = 1;
    // Pictures at a varying rate: of a 50 fps clip, 4 of every 10 (the first 4: 20 ms apart, then
    // a gap of 140 ms), as a phone or a screen recorder writes them.
    bool variableRate = false;
    // Which of every 10 pictures of the 50 fps clip a variable-rate row keeps (ffmpeg's select).
    std::string kept = "lt(mod(n\\,10)\\,4)";
    // How long the clip lasts, and cuts of its own besides every row's: where it is split, and
    // the spans it is trimmed to.
    double seconds = 3;
    std::vector<double> splitAt;
    std::vector<std::pair<double, double>> trims;
    // The picture rate, as lavfi takes it, and the picture's size.
    std::string rate = "25";
    std::string size = "96x64";
    // How long after the other stream the pictures, or the sound, start.
    double pictureDelay = 0;
    double soundDelay = 0;
    // Every cut from a keyframe (any picture of an all-intra stream) to a keyframe or the end is a
    // copy, its pictures the source's packets.
    bool copiesAtKeyframes = false;
    // frameSamples for a copied cut of pictures, when it keeps its sound more closely (0: the same).
    int copiedFrameSamples = 0;

    bool ownCuts() const { return !splitAt.empty() || !trims.empty(); }
    double fps() const;
    int pictures() const;
};

const std::vector<CutSource>& cutSources();
inline void PrintTo(const CutSource& source, std::ostream* out) { *out << source.name; }

// The picture's number, in three patches at the top left (an ffmpeg filter that draws it).
extern const char* const kNumbered;

// The numbers of the pictures of a file, in the order a full decode shows them.
std::vector<int> pictureNumbers(const std::filesystem::path& file);
std::vector<int> numberSpan(int first, int last);
// The MD5 of each packet of the first picture stream, as ffmpeg copies it out.
std::vector<std::string> picturePacketHashes(const std::filesystem::path& file);

}  // namespace kolvex::testing
