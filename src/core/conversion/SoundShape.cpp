// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/conversion/SoundShape.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace kolvex {

namespace {

struct Layout {
    const char* name;
    std::set<std::string> channels;
};

// FFmpeg's standard layouts in its own order (the first of a count is its usual one), as
// `ffmpeg -layouts` lists them.
const std::vector<Layout>& standardLayouts() {
    static const std::vector<Layout> layouts{
        {"mono", {"FC"}},
        {"stereo", {"FL", "FR"}},
        {"2.1", {"FL", "FR", "LFE"}},
        {"3.0", {"FL", "FR", "FC"}},
        {"3.0(back)", {"FL", "FR", "BC"}},
        {"4.0", {"FL", "FR", "FC", "BC"}},
        {"quad", {"FL", "FR", "BL", "BR"}},
        {"quad(side)", {"FL", "FR", "SL", "SR"}},
        {"3.1", {"FL", "FR", "FC", "LFE"}},
        {"5.0", {"FL", "FR", "FC", "BL", "BR"}},
        {"5.0(side)", {"FL", "FR", "FC", "SL", "SR"}},
        {"4.1", {"FL", "FR", "FC", "LFE", "BC"}},
        {"5.1", {"FL", "FR", "FC", "LFE", "BL", "BR"}},
        {"5.1(side)", {"FL", "FR", "FC", "LFE", "SL", "SR"}},
        {"6.0", {"FL", "FR", "FC", "BC", "SL", "SR"}},
        {"6.0(front)", {"FL", "FR", "FLC", "FRC", "SL", "SR"}},
        {"hexagonal", {"FL", "FR", "FC", "BL", "BR", "BC"}},
        {"6.1", {"FL", "FR", "FC", "LFE", "BC", "SL", "SR"}},
        {"6.1(back)", {"FL", "FR", "FC", "LFE", "BL", "BR", "BC"}},
        {"6.1(front)", {"FL", "FR", "LFE", "FLC", "FRC", "SL", "SR"}},
        {"7.0", {"FL", "FR", "FC", "BL", "BR", "SL", "SR"}},
        {"7.0(front)", {"FL", "FR", "FC", "FLC", "FRC", "SL", "SR"}},
        {"7.1", {"FL", "FR", "FC", "LFE", "BL", "BR", "SL", "SR"}},
        {"7.1(wide)", {"FL", "FR", "FC", "LFE", "BL", "BR", "FLC", "FRC"}},
        {"7.1(wide-side)", {"FL", "FR", "FC", "LFE", "FLC", "FRC", "SL", "SR"}},
        {"octagonal", {"FL", "FR", "FC", "BL", "BR", "BC", "SL", "SR"}},
        {"hexadecagonal",
         {"FL", "FR", "FC", "BL", "BR", "BC", "SL", "SR", "TFL", "TFC", "TFR", "TBL", "TBC", "TBR", "WL", "WR"}},
        {"downmix", {"DL", "DR"}},
        {"22.2", {"FL",  "FR",  "FC",  "LFE", "BL",  "BR",  "FLC", "FRC", "BC",   "SL",  "SR",  "TC",
                  "TFL", "TFC", "TFR", "TBL", "TBC", "TBR", "LFE2", "TSL", "TSR", "BFC", "BFL", "BFR"}},
    };
    return layouts;
}

const Layout* find(const std::string& name) {
    for (const auto& layout : standardLayouts())
        if (name == layout.name) return &layout;
    return nullptr;
}

// The orders libopus takes (its mapping family 1, Vorbis's channel orders), by channel count.
const std::vector<std::string> kVorbisOrders = {"mono", "stereo", "3.0", "quad", "5.0", "5.1", "6.1", "7.1"};

std::string opusLayout(const std::string& source, int channels) {
    const int count = std::clamp(channels, 1, 8);
    const std::string& same = kVorbisOrders[static_cast<size_t>(count - 1)];
    if (source == same) return source;
    // A low-frequency channel is kept in the smallest order that has one (2.1 and 3.1 in 5.1).
    const Layout* layout = find(source);
    if (layout && layout->channels.contains("LFE") && count < 6) return "5.1";
    return same;
}

// The most channels an encoder writes, or a file of its kind holds and is read back from.
int maxChannels(const std::string& encoder) {
    if (encoder.starts_with("pcm_") && encoder.ends_with("be")) return 16;  // AIFF
    if (encoder.starts_with("pcm_")) return 24;
    return 8;
}

}  // namespace

const std::vector<int64_t>& SoundShape::rates(const std::string& encoder) {
    static const std::map<std::string, std::vector<int64_t>> byEncoder{
        {"aac", {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350}},
        {"libopus", {48000, 24000, 16000, 12000, 8000}},
        {"libmp3lame", {48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000}},
    };
    static const std::vector<int64_t> any;
    const auto it = byEncoder.find(encoder);
    return it == byEncoder.end() ? any : it->second;
}

int64_t SoundShape::maxRate(const std::string& encoder) {
    // FLAC's header holds rates up to 655350 Hz; WAV and AIFF state any.
    if (encoder == "flac") return 655350;
    return 768000;
}

int SoundShape::channelsOf(const std::string& layout) {
    const Layout* found = find(layout);
    return found ? static_cast<int>(found->channels.size()) : 0;
}

std::string SoundShape::usualLayout(int channels) {
    for (const auto& layout : standardLayouts())
        if (static_cast<int>(layout.channels.size()) == channels) return layout.name;
    return channels <= 1 ? "mono" : "stereo";
}

SoundShape SoundShape::of(const std::string& encoder, int64_t sourceRate, int sourceChannels,
                          const std::string& sourceLayout, std::optional<double> askedRate) {
    SoundShape shape;
    int channels = channelsOf(sourceLayout);
    std::string layout = sourceLayout;
    if (channels == 0) {
        channels = std::max(sourceChannels, 1);
        layout = usualLayout(channels);
    }

    if (encoder == "libopus") {
        layout = opusLayout(layout, channels);
    } else if (encoder == "libmp3lame") {
        layout = channels == 1 ? "mono" : "stereo";
    } else if (channels > maxChannels(encoder)) {
        layout = "7.1";
    }
    shape.layout = layout;
    shape.channels = channelsOf(layout);

    int64_t wanted = sourceRate;
    if (askedRate && std::isfinite(*askedRate) && *askedRate >= 1) wanted = static_cast<int64_t>(*askedRate);
    if (wanted < 1) wanted = 48000;
    const auto& taken = rates(encoder);
    if (taken.empty()) {
        shape.sampleRate = std::min(wanted, maxRate(encoder));
        return shape;
    }
    // The nearest; between two as near, the higher.
    int64_t best = taken.front();
    for (int64_t rate : taken)
        if (std::llabs(rate - wanted) < std::llabs(best - wanted)) best = rate;
    shape.sampleRate = best;
    return shape;
}

}  // namespace kolvex
