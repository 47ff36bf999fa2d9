// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "core/ffmpeg/KeyframeIndex.h"

namespace kolvex {

// What a media file holds, as far as conversions care. A plain value.
struct MediaProbe {
    // The demuxer that read the file, by its first name ("mov", "matroska", "hls").
    std::optional<std::string> demuxer;
    // Codec of the first moving-picture stream; a cover picture (an attached picture) is not one.
    std::optional<std::string> videoCodec;
    std::optional<std::string> audioCodec;    // codec of the first audio stream
    std::optional<double> durationSeconds;    // the container's, else the first video stream's
    std::optional<int64_t> width;             // pixels, first video stream
    std::optional<int64_t> height;
    int64_t videoTrackCount = 0;              // moving-picture streams
    int64_t audioTrackCount = 0;
    int64_t subtitleTrackCount = 0;
    std::vector<std::string> subtitleCodecs;  // each subtitle stream's, in order ("xsub", "subrip")
    int64_t attachmentCount = 0;              // fonts and files carried by Matroska
    int64_t dataTrackCount = 0;               // time codes, telemetry
    int64_t coverPictureCount = 0;            // attached pictures
    int64_t chapterCount = 0;
    std::optional<std::string> pixelFormat;   // first video stream, as ffmpeg names it ("yuv420p")
    // Display-matrix rotation of the first video stream in degrees, folded into 0, 90, 180 or 270;
    // 0 when the picture is shown as stored.
    int rotation = 0;
    bool isVariableFrameRate = false;         // average and real frame rates differ as texts
    // What decides whether the first video stream's packets can follow another file's in one
    // stream: its time base and real frame rate as texts ("1/12800", "25/1"), its profile as
    // ffmpeg names it, its level, and a CRC-32 of its decoder setup ("CRC32:1a2b3c4d").
    std::optional<std::string> videoTimeBase;
    std::optional<std::string> frameRate;
    std::optional<std::string> videoProfile;
    std::optional<int64_t> videoLevel;
    std::optional<std::string> videoSetup;
    // How many pictures the first video stream's decoder holds back to put B-frames in order
    // (0 when none or unknown).
    int64_t videoDecodeDelay = 0;
    // Whether an AVI's MPEG-4 Visual (ASP) pictures are packed as DivX and Xvid pack them: a reference
    // picture and the B-frame after it in one chunk, a placeholder that is not coded after that.
    // None: not looked at yet (only an AVI's MPEG-4 pictures need a look at their first chunks).
    std::optional<bool> packedBFrames;
    // Whether the container's edit list hides pictures of the first moving-picture stream (the
    // lead-in from the keyframe a copied cut starts at), or more of the first sound than an
    // encoder's delay: what a player never shows, and a copy into a container without edit lists
    // would.
    bool editHidesPictures = false;
    bool editHidesSound = false;
    std::optional<int64_t> audioBitrate;      // bits per second, first audio stream
    std::optional<int64_t> audioSampleRate;   // hertz
    std::optional<int64_t> audioChannels;
    // FFmpeg's name of the first audio stream's layout ("5.1(side)"); none when its channels
    // have no stated positions.
    std::optional<std::string> audioChannelLayout;
    std::optional<int64_t> audioBitsPerSample;  // significant bits of a lossless first audio stream
    // The same for the first audio stream, with its sample format ("fltp").
    std::optional<std::string> audioTimeBase;
    std::optional<std::string> audioSampleFormat;
    std::optional<std::string> audioProfile;
    std::optional<std::string> audioSetup;
    // An embedded cover picture (a video stream marked as attached picture): its codec and its
    // index among all the file's streams.
    std::optional<std::string> coverCodec;
    std::optional<int64_t> coverStreamIndex;

    bool operator==(const MediaProbe&) const = default;
};

// Produces a MediaProbe for a file. Implementations are shared between threads.
class MediaProbing {
public:
    virtual ~MediaProbing() = default;
    // Blocks; runs on a worker thread. Throws ConversionError::corruptedInput for a file that
    // cannot be read as media, or OperationCancelled.
    virtual MediaProbe probe(const std::filesystem::path& url, std::stop_token stop = {}) const = 0;
    // What a stream copy and a look at a file's contents need — the streams, their codecs, picture
    // sizes, rotation, sound formats, cover pictures and the duration — read from the container's
    // header alone where it states them; the facts only decoding gives (pixel format, profile,
    // frame rate…) may then be missing.
    virtual MediaProbe probeHeaders(const std::filesystem::path& url, std::stop_token stop = {}) const = 0;
    // The probe, and where a stream copy of the first moving-picture stream can be cut within
    // `window` (seconds) as LibavKeyframeReader reads it, from one opening of the file; no cuts
    // where an implementation cannot read them so. Same contract as probe().
    virtual std::pair<MediaProbe, std::optional<StreamCopyCuts>> probeWithCuts(const std::filesystem::path& url,
                                                                              std::pair<double, double> window,
                                                                              std::stop_token stop = {}) const = 0;
    // The probe, and every place a stream copy of that stream can be cut, from one opening where
    // an implementation can: what a split reads. No cuts where they were not read here (they are
    // then to be read apart); empty ones where the file's could not be read. Same contract as
    // probe().
    virtual std::pair<MediaProbe, std::optional<StreamCopyCuts>> probeWithEveryCut(const std::filesystem::path& url,
                                                                                  std::stop_token stop = {}) const = 0;
};

// A prober that reads no less than the whole probe and no cuts: its header read is probe(), and
// it leaves a copy's cuts to be read where they are needed.
class WholeProbing : public MediaProbing {
public:
    MediaProbe probeHeaders(const std::filesystem::path& url, std::stop_token stop = {}) const override {
        return probe(url, std::move(stop));
    }
    std::pair<MediaProbe, std::optional<StreamCopyCuts>> probeWithCuts(const std::filesystem::path& url,
                                                                      std::pair<double, double> /*window*/,
                                                                      std::stop_token stop = {}) const override {
        return {probe(url, std::move(stop)), std::nullopt};
    }
    std::pair<MediaProbe, std::optional<StreamCopyCuts>> probeWithEveryCut(const std::filesystem::path& url,
                                                                          std::stop_token stop = {}) const override {
        return {probe(url, std::move(stop)), std::nullopt};
    }
};

}  // namespace kolvex
