// SPDX-License-Identifier: GPL-3.0-or-later
#include "CutMatrixRows.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numeric>
#include <sstream>
#include <stdexcept>

#include "core/services/ProcessRunner.h"
#include "support/MediaFixtures.h"

namespace kolvex::testing {

namespace fs = std::filesystem;

double CutSource::fps() const {
    const auto slash = rate.find('/');
    return slash == std::string::npos ? std::stod(rate) : std::stod(rate.substr(0, slash)) / std::stod(rate.substr(slash + 1));
}

int CutSource::pictures() const {
    if (!video) return 0;
    if (variableRate) return int(seconds * 50 * 4 / 10);
    return int(std::ceil(seconds * fps() - 1e-6));
}

std::vector<std::string> picturePacketHashes(const fs::path& file) {
    const auto listed = ProcessRunner().run(systemFFmpeg(),
                                            {"-nostdin", "-v", "error", "-i", file.string(), "-map", "0:V:0", "-c", "copy",
                                             "-f", "framemd5", "-"},
                                            std::chrono::seconds(60), nullptr, nullptr);
    if (!listed.succeeded()) throw std::runtime_error("ffmpeg cannot copy the pictures of " + file.string());
    std::vector<std::string> hashes;
    std::istringstream lines(listed.standardOutput());
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line.front() == '#') continue;
        hashes.push_back(line.substr(line.rfind(',') + 1));
    }
    return hashes;
}

// The picture's number, in three patches at the top left: tens, hundreds, then units, 20 levels
// apart.
const char* const kNumbered =
    "geq=lum='if(lt(Y,16)*lt(X,16),16+20*mod(floor(N/10),10),if(lt(Y,16)*between(X,16,31),16+20*floor(N/100),"
    "if(lt(Y,16)*between(X,32,47),16+20*mod(N,10),lum(X,Y))))'"
    ":cb='cb(X,Y)':cr='cr(X,Y)'";

// The numbers of the pictures of a file, in the order a full decode shows them.
std::vector<int> pictureNumbers(const fs::path& file) {
    const auto decoded = ProcessRunner().run(
        systemFFmpeg(),
        {"-nostdin", "-v", "error", "-i", file.string(), "-map", "0:V:0", "-vsync", "passthrough", "-vf", "crop=48:16:0:0,scale=6:2:flags=area",
         "-f", "rawvideo", "-pix_fmt", "gray", "-"},
        std::chrono::seconds(60), nullptr, nullptr);
    if (!decoded.succeeded()) throw std::runtime_error("ffmpeg cannot decode " + file.string());
    const std::string& bytes = decoded.standardOutputData;
    const double step = 20 * 255.0 / 219;  // gray is full range
    std::vector<int> numbers;
    for (size_t at = 0; at + 12 <= bytes.size(); at += 12) {
        const auto level = [&](size_t i) {
            return (static_cast<unsigned char>(bytes[at + i]) + static_cast<unsigned char>(bytes[at + i + 1])) / 2.0;
        };
        numbers.push_back(static_cast<int>(std::lround(level(2) / step) * 100 + std::lround(level(0) / step) * 10 +
                                           std::lround(level(4) / step)));
    }
    return numbers;
}

std::vector<int> numberSpan(int first, int last) {
    std::vector<int> numbers(static_cast<size_t>(std::max(0, last - first + 1)));
    std::iota(numbers.begin(), numbers.end(), first);
    return numbers;
}



// One row per container and codec the manifest's trim and split take: every sound codec a sound
// container may hold, and the usual codecs of each video container (AVI's MPEG-4 Visual (ASP) with MP3
// and H.264 with AAC, both with B-frames).
const std::vector<CutSource>& cutSources() {
    const std::vector<std::string> h264 = {"-c:v", "libx264", "-preset", "veryfast", "-g", "25", "-keyint_min", "25",
                                           "-sc_threshold", "0", "-c:a", "aac"};
    const auto with = [&](std::vector<std::string> more) {
        auto args = h264;
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    const auto sound = [](std::string name, std::string container, std::string codec, std::string encoder, int frame,
                          int rate = 44100) {
        return CutSource{std::move(name), std::move(container), {"-c:a", std::move(encoder)}, std::move(codec), false, rate, frame};
    };
    // A longer clip of the same row, cut where a user's cuts fell.
    const auto longer = [](CutSource source, std::string name, std::vector<double> splitAt,
                           std::vector<std::pair<double, double>> trims) {
        source.name = std::move(name);
        source.seconds = 10;
        source.sampleRate = 48000;
        source.splitAt = std::move(splitAt);
        source.trims = std::move(trims);
        return source;
    };
    static const std::vector<CutSource> rows = {
        {"mp4_bframes", "mp4", with({"-bf", "2"}), "aac", true, 44100, 1024},
        {"mp4", "mp4", with({"-bf", "0"}), "aac", true, 44100, 1024},
        {"mp4_variable_rate", "mp4", {"-c:v", "libx264", "-preset", "veryfast", "-g", "25", "-keyint_min", "25",
                                      "-sc_threshold", "0", "-bf", "2", "-fps_mode", "vfr", "-c:a", "aac"},
         "aac", true, 44100, 1024, true},
        {"m4v_bframes", "m4v", with({"-bf", "2", "-f", "mp4"}), "aac", true, 44100, 1024},
        {"mov_bframes", "mov", with({"-bf", "2"}), "aac", true, 44100, 1024},
        {"mov", "mov", with({"-bf", "0"}), "aac", true, 44100, 1024},
        {"mkv_bframes", "mkv", with({"-bf", "3"}), "aac", true, 44100, 1024},
        {"mkv", "mkv", with({"-bf", "0"}), "aac", true, 44100, 1024},
        {"mkv_flac", "mkv", with({"-bf", "0", "-c:a", "flac"}), "flac", true, 44100, 4608},
        {"webm", "webm",
         {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8", "-g", "25", "-keyint_min", "25", "-c:a",
          "libopus"},
         "opus", true, 48000, 960},
        {"avi_h264", "avi", with({"-bf", "2"}), "aac", true, 44100, 1024},
        {"avi_mpeg4", "avi",
         {"-c:v", "mpeg4", "-bf", "2", "-q:v", "3", "-g", "25", "-keyint_min", "25", "-sc_threshold", "0", "-c:a",
          "libmp3lame"},
         "mp3", true, 44100, 1152},
        sound("mp3", "mp3", "mp3", "libmp3lame", 1152),
        sound("m4a", "m4a", "aac", "aac", 1024),
        sound("m4a_alac", "m4a", "alac", "alac", 1),
        sound("aac", "aac", "aac", "aac", 1024),
        sound("wav", "wav", "pcm_s16le", "pcm_s16le", 1),
        sound("wav_s24", "wav", "pcm_s24le", "pcm_s24le", 1),
        sound("wav_s32", "wav", "pcm_s32le", "pcm_s32le", 1),
        sound("wav_f32", "wav", "pcm_f32le", "pcm_f32le", 1),
        sound("wav_u8", "wav", "pcm_u8", "pcm_u8", 1),
        sound("aiff", "aiff", "pcm_s16be", "pcm_s16be", 1),
        sound("aiff_s24", "aiff", "pcm_s24be", "pcm_s24be", 1),
        sound("aiff_s16le", "aiff", "pcm_s16le", "pcm_s16le", 1),
        sound("flac", "flac", "flac", "flac", 1),
        sound("ogg_vorbis", "ogg", "vorbis", "libvorbis", 256),
        sound("ogg_opus", "ogg", "opus", "libopus", 960, 48000),
        sound("ogg_flac", "ogg", "flac", "flac", 1),
        sound("opus", "opus", "opus", "libopus", 960, 48000),
    };
    static const std::vector<CutSource> all = [&] {
        auto each = rows;
        // A copied cut writes its FLAC again from the keyframe: to the sample.
        for (auto& source : each)
            if (source.name == "mkv_flac") source.copiedFrameSamples = 1;
        const auto row = [&](const char* name) {
            return *std::find_if(rows.begin(), rows.end(), [&](const CutSource& r) { return r.name == name; });
        };
        // Pictures 0, 1, 2 and 6 of every 10, keyframes every 50 pictures (2.44 s, 5 s in).
        auto vfr = longer(row("mp4_variable_rate"), "mp4_variable_rate_long", {2.44, 3.387, 5.0}, {});
        vfr.encode = {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-bf", "3", "-g", "50", "-fps_mode", "vfr",
                      "-c:a", "aac"};
        vfr.kept = "lt(mod(n\\,10)\\,3)+eq(mod(n\\,10)\\,6)";
        each.push_back(vfr);
        // As the usual tools write them: H.264 with 3 B-frames and a keyframe every 2 s; MPEG-4 ASP
        // with 2 B-frames and ffmpeg's keyframe every 12 pictures.
        auto h264 = longer(row("avi_h264"), "avi_h264_long", {4.0, 4.74, 6.0}, {});
        h264.encode = {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-bf", "3", "-g", "50", "-c:a", "aac"};
        each.push_back(h264);
        auto mpeg4 = longer(row("avi_mpeg4"), "avi_mpeg4_long", {}, {{1.98, 3.88}});
        mpeg4.encode = {"-c:v", "mpeg4", "-bf", "2", "-c:a", "libmp3lame"};
        each.push_back(mpeg4);
        // AVI as cameras and older tools write it, copied at keyframes: all-intra MJPEG and DV
        // with PCM, MPEG-4 ASP and H.264 without B-frames with MP3, at 29.97 and 25 pictures a
        // second.
        const auto avi = [](std::string name, std::vector<std::string> encode, std::string sound, int rate, int frame,
                            std::string fps, std::string size = "96x64") {
            CutSource source{std::move(name), "avi", std::move(encode), std::move(sound), true, rate, frame};
            source.rate = std::move(fps);
            source.size = std::move(size);
            source.copiesAtKeyframes = true;
            return source;
        };
        // (AVI's PCM is copied in the chunks that lie beside each picture.)
        each.push_back(avi("avi_mjpeg_2997", {"-c:v", "mjpeg", "-q:v", "3", "-pix_fmt", "yuvj420p", "-c:a", "pcm_s16le"},
                           "pcm_s16le", 44100, 1472, "30000/1001"));
        each.push_back(avi("avi_dv_2997", {"-c:v", "dvvideo", "-pix_fmt", "yuv411p", "-c:a", "pcm_s16le"}, "pcm_s16le", 48000, 1602,
                           "30000/1001", "720x480"));
        each.push_back(avi("avi_mpeg4_asp", {"-c:v", "mpeg4", "-bf", "0", "-q:v", "3", "-g", "25", "-c:a", "libmp3lame"},
                           "mp3", 44100, 1152, "25"));
        each.push_back(avi("avi_h264_2997",
                           {"-c:v", "libx264", "-preset", "veryfast", "-bf", "0", "-g", "30", "-keyint_min", "30",
                            "-sc_threshold", "0", "-pix_fmt", "yuv420p", "-c:a", "libmp3lame"},
                           "mp3", 44100, 1152, "30000/1001"));
        // Streams that start late, as cameras and editors write them, and a clock that starts at 10 s.
        auto pictureLate = row("mkv");
        pictureLate.name = "mkv_picture_late";
        pictureLate.pictureDelay = 0.42;
        each.push_back(pictureLate);
        auto soundLate = row("mkv");
        soundLate.name = "mkv_sound_late";
        soundLate.soundDelay = 0.48;
        each.push_back(soundLate);
        auto clock = row("mkv_bframes");
        clock.name = "mkv_clock_at_10";
        clock.encode.insert(clock.encode.end(), {"-output_ts_offset", "10"});
        each.push_back(clock);
        return each;
    }();
    return all;
}


}  // namespace kolvex::testing
