// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kolvex::testing {

// Clips whose every start is marked in picture and sound, and where those marks lie in a file, as
// ffprobe and ffmpeg's decoders see them (never our own reader): what tells whether a merge's
// sound meets its pictures at every join.
struct JoinMarks {
    // Where a bright picture follows dark ones (each marked clip's first picture), in seconds on
    // the file's clock.
    std::vector<double> pictures;
    // Where a loud burst begins in the decoded sound, after at least 0.3 s without one.
    std::vector<double> bursts;
    // Stretches of silence longer than 2 ms (start, length) from the first burst on, leaving out
    // the sound's last 50 ms, where a coded sound's padding lies. (Before the first burst lies
    // what a container that cannot state an encoder's delay plays of it.)
    struct Hole {
        double start = 0;
        double seconds = 0;
    };
    std::vector<Hole> holes;
    double soundStart = 0;    // the first decoded sample's time
    double soundSeconds = 0;  // the decoded sound's length: its samples over its rate
    int sampleRate = 0;

    // Reads both from `file`; a file without pictures has none, one without sound no bursts.
    // Throws std::runtime_error when ffprobe or ffmpeg cannot read the file.
    static JoinMarks of(const std::filesystem::path& file);

    // The number each picture a player shows carries, in order: the brightness of its right half
    // (16 + 2 × the number) as ffmpeg decodes it. A picture that is bright all over reads 110.
    // Throws std::runtime_error when ffprobe cannot read the file.
    static std::vector<int> pictureNumbers(const std::filesystem::path& file);
    // The lavfi input of `seconds` of numbered pictures at `rate` ("25", "30000/1001"), `size`
    // large: dark, the right half carrying each picture's number (its index modulo 100); bright
    // all over from `flashAt` seconds for one picture.
    static std::vector<std::string> numberedPictures(double seconds, const std::string& rate, const std::string& size,
                                                     double flashAt);

    // The lavfi inputs of a marked clip `seconds` long: a dark picture whose first frame is
    // bright, at `framesPerSecond`, and a soft 1 kHz tone whose first 0.1 s is a loud 3 kHz one,
    // at `sampleRate` (and ffmpeg's arguments for each).
    static std::vector<std::string> pictureSource(double seconds, int framesPerSecond);
    static std::vector<std::string> soundSource(double seconds, int sampleRate);
};

}  // namespace kolvex::testing
