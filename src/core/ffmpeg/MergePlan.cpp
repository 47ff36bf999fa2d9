#include "core/ffmpeg/MergePlan.h"

#include <algorithm>
#include <set>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "core/ffmpeg/ContainerCompatibility.h"

namespace kolvex {

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
        if (probe.width) widest = std::max(widest.value_or(*probe.width), *probe.width);
        if (probe.height) tallest = std::max(tallest.value_or(*probe.height), *probe.height);
        if (probe.audioSampleRate) fastestRate = std::max(fastestRate.value_or(*probe.audioSampleRate), *probe.audioSampleRate);
        if (probe.durationSeconds)
            durationSum += *probe.durationSeconds;
        else
            everyDurationKnown = false;
    }
    wantsVideo = target.category != FormatCategory::audio && withVideo == n;
    wantsAudio = withAudio == n;
    width = widest.value_or(1920);
    height = tallest.value_or(1080);
    sampleRate = fastestRate.value_or(48000);
    if (everyDurationKnown) totalDuration = durationSum;

    std::vector<std::string> differences;
    if (videoCodecs.size() >= 2) differences.emplace_back("video codec");
    if (audioCodecs.size() >= 2) differences.emplace_back("audio codec");
    if (resolutions.size() >= 2) differences.emplace_back("resolution");
    if (sampleRates.size() >= 2) differences.emplace_back("sample rate");
    if (channelCounts.size() >= 2) differences.emplace_back("channel count");
    if (withVideo > 0 && withVideo < n) differences.emplace_back("some files have no video");
    if (withAudio > 0 && withAudio < n) differences.emplace_back("some files have no audio");

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
    canStreamCopy = true;
    reason = "identical streams \u2014 copying without re-encoding";
}

}  // namespace kolvex
