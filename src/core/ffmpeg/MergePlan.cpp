// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/MergePlan.h"

#include <algorithm>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "core/ffmpeg/ContainerCompatibility.h"

namespace kolvex {

namespace {

// How many different values `field` takes over the probes, an unknown value counting as one.
template <typename Field>
size_t variety(const std::vector<MediaProbe>& probes, Field field) {
    std::set<std::decay_t<decltype(field(probes.front()))>> values;
    for (const auto& probe : probes) values.insert(field(probe));
    return values.size();
}

// AVI stores the sound's packets without times, and bare AAC (ADTS) has no place to state the
// encoder's delay: their decoders play it as silence at the head.
double priming(const MediaProbe& probe) {
    if ((probe.demuxer != "avi" && probe.demuxer != "aac") || !probe.audioCodec || !probe.audioSampleRate ||
        *probe.audioSampleRate <= 0)
        return 0;
    const double rate = static_cast<double>(*probe.audioSampleRate);
    if (*probe.audioCodec == "aac") return 1024 / rate;
    if (*probe.audioCodec == "mp3") return 1105 / rate;
    return 0;
}

// A steady frame rate as a "num/den" text, between 1 and 120 pictures a second.
bool steadyRate(const MediaProbe& probe) {
    if (!probe.frameRate || probe.isVariableFrameRate) return false;
    const auto slash = probe.frameRate->find('/');
    if (slash == std::string::npos) return false;
    try {
        const double num = std::stod(probe.frameRate->substr(0, slash)), den = std::stod(probe.frameRate->substr(slash + 1));
        return den > 0 && num / den >= 1 && num / den <= 120;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

MergePlan::MergePlan(const std::vector<MediaProbe>& probes, const Format& target) {
    const size_t n = probes.size();
    size_t withVideo = 0, withAudio = 0;
    std::set<std::string> videoCodecs, audioCodecs, resolutions;
    std::set<int64_t> sampleRates, channelCounts;
    std::optional<int64_t> widest, tallest, fastestRate;
    double durationSum = 0;
    bool everyDurationKnown = true;
    for (const auto& probe : probes) {
        if (probe.videoCodec) {
            ++withVideo;
            videoCodecs.insert(*probe.videoCodec);
        }
        if (probe.audioCodec) {
            ++withAudio;
            audioCodecs.insert(*probe.audioCodec);
        }
        resolutions.insert(fmt::format("{}x{}", probe.width.value_or(0), probe.height.value_or(0)));
        if (probe.audioSampleRate) sampleRates.insert(*probe.audioSampleRate);
        if (probe.audioChannels) channelCounts.insert(*probe.audioChannels);
        // The frame is planned as the picture is shown: a portrait phone clip stores its
        // picture on its side.
        const bool sideways = probe.rotation == 90 || probe.rotation == 270;
        const auto shownWidth = sideways ? probe.height : probe.width;
        const auto shownHeight = sideways ? probe.width : probe.height;
        if (shownWidth) widest = std::max(widest.value_or(*shownWidth), *shownWidth);
        if (shownHeight) tallest = std::max(tallest.value_or(*shownHeight), *shownHeight);
        if (probe.audioBitsPerSample)
            audioBitsPerSample = std::max(audioBitsPerSample.value_or(*probe.audioBitsPerSample), *probe.audioBitsPerSample);
        if (probe.audioBitrate) audioBitrate = std::max(audioBitrate.value_or(*probe.audioBitrate), *probe.audioBitrate);
        if (probe.audioSampleRate) fastestRate = std::max(fastestRate.value_or(*probe.audioSampleRate), *probe.audioSampleRate);
        durations.push_back(probe.durationSeconds);
        sounded.push_back(probe.audioCodec.has_value());
        primings.push_back(priming(probe));
        if (probe.durationSeconds)
            durationSum += *probe.durationSeconds;
        else
            everyDurationKnown = false;
    }
    wantsVideo = target.category != FormatCategory::audio && withVideo == n;
    // A file without sound is given silence rather than silencing the others.
    wantsAudio = withAudio > 0;
    width = widest.value_or(1920);
    height = tallest.value_or(1080);
    sampleRate = fastestRate.value_or(48000);
    if (everyDurationKnown) totalDuration = durationSum;
    if (withVideo == n && n > 0 && std::all_of(probes.begin(), probes.end(), steadyRate) &&
        variety(probes, [](const MediaProbe& p) { return p.frameRate; }) == 1)
        frameRate = *probes.front().frameRate;
    if (audioCodecs.size() == 1) soundCodec = *audioCodecs.begin();

    std::vector<std::string> differences;
    if (videoCodecs.size() >= 2) differences.emplace_back("video codec");
    if (audioCodecs.size() >= 2) differences.emplace_back("audio codec");
    if (resolutions.size() >= 2) differences.emplace_back("resolution");
    if (sampleRates.size() >= 2) differences.emplace_back("sample rate");
    if (channelCounts.size() >= 2) differences.emplace_back("channel count");
    if (withVideo > 0 && withVideo < n) differences.emplace_back("some files have no video");
    if (withAudio > 0 && withAudio < n) differences.emplace_back("some files have no audio");
    // Copied packets keep their own time stamps, rates and decoder setup: the joined stream is
    // only right when every input's agree, container included.
    if (n > 0) {
        const auto differ = [&](const char* what, auto field) {
            if (variety(probes, field) >= 2) differences.emplace_back(what);
        };
        differ("container", [](const MediaProbe& p) { return p.demuxer; });
        differ("frame rate", [](const MediaProbe& p) { return p.frameRate; });
        differ("time base", [](const MediaProbe& p) { return std::pair(p.videoTimeBase, p.audioTimeBase); });
        differ("pixel format", [](const MediaProbe& p) { return p.pixelFormat; });
        differ("profile", [](const MediaProbe& p) { return std::tuple(p.videoProfile, p.videoLevel, p.audioProfile); });
        differ("bit depth", [](const MediaProbe& p) { return std::pair(p.audioBitsPerSample, p.audioSampleFormat); });
        differ("codec parameters", [](const MediaProbe& p) { return std::pair(p.videoSetup, p.audioSetup); });
        differ("rotation", [](const MediaProbe& p) { return p.rotation; });
    }

    if (!differences.empty()) {
        reason = fmt::format("re-encoding to {}\u00D7{}: inputs differ in {}", width, height, fmt::join(differences, ", "));
        return;
    }
    const auto fits = [&](const std::set<std::string>& codecs) {
        return std::all_of(codecs.begin(), codecs.end(),
                           [&](const std::string& codec) { return ContainerCompatibility::accepts(codec, target.id); });
    };
    if (!fits(videoCodecs) || !fits(audioCodecs)) {
        reason = "re-encoding: " + target.label + " cannot carry these codecs";
        return;
    }
    // A copied FLAC stream keeps the first file's header, which states its length alone.
    if (audioCodecs.contains("flac")) {
        reason = "re-encoding: FLAC is joined losslessly so its header states the whole length";
        return;
    }
    const bool codedSound = std::any_of(audioCodecs.begin(), audioCodecs.end(),
                                        [](const std::string& codec) { return codec.rfind("pcm_", 0) != 0; });
    // The joining copies every packet a file holds, those its edit list hides too (a copied
    // cut's lead-in from its keyframe): the pictures are decoded, and the sound when copied.
    const auto hides = [&](bool MediaProbe::*hidden) {
        return std::any_of(probes.begin(), probes.end(), [&](const MediaProbe& probe) { return probe.*hidden; });
    };
    if ((wantsVideo && hides(&MediaProbe::editHidesPictures)) || (!codedSound && hides(&MediaProbe::editHidesSound))) {
        reason = "re-encoding: an edit list hides part of a file, which a joined copy would show";
        return;
    }
    if (wantsVideo && probes.front().rotation != 0 && !ContainerCompatibility::keepsRotation(target.id)) {
        reason = "re-encoding: the picture's rotation cannot be stored in " + target.label;
        return;
    }
    if (codedSound && !wantsVideo) {
        reason = "re-encoding: each file's encoder delay and padding would leave a gap at every join";
        return;
    }
    canStreamCopy = true;
    reencodesSound = codedSound;
    reason = codedSound ? "identical streams \u2014 copying the pictures, re-encoding the sound to meet them at every join"
                        : "identical streams \u2014 copying without re-encoding";
}

}  // namespace kolvex
