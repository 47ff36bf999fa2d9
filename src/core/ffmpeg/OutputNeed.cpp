// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/OutputNeed.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kolvex {

namespace {

constexpr int64_t kBlock = 4096;

// The value after `option` in `arguments`, the last one given.
std::optional<std::string> valueOf(const std::vector<std::string>& arguments, const std::string& option) {
    std::optional<std::string> value;
    for (size_t i = 0; i + 1 < arguments.size(); ++i)
        if (arguments[i] == option) value = arguments[i + 1];
    return value;
}

// "192k", "8.7M", "64000": bits per second.
std::optional<double> bitRate(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    char* end = nullptr;
    double value = std::strtod(text->c_str(), &end);
    if (end == text->c_str() || !(value > 0)) return std::nullopt;
    if (*end == 'k' || *end == 'K') value *= 1e3;
    if (*end == 'M' || *end == 'm') value *= 1e6;
    return value;
}

// Bytes per sample of an ffmpeg PCM encoder ("pcm_s24le" → 3).
std::optional<int> pcmSampleBytes(const std::string& encoder) {
    if (!encoder.starts_with("pcm_") || encoder.size() < 7) return std::nullopt;
    const int bits = std::atoi(encoder.c_str() + 5);
    if (bits < 8 || bits % 8 != 0) return std::nullopt;
    return bits / 8;
}

}  // namespace

std::optional<int64_t> OutputNeed::planned(const std::vector<std::string>& arguments, const MediaProbe& probe,
                                           double seconds, std::optional<int64_t> sourceBytes) {
    if (!(seconds > 0)) return std::nullopt;
    // A copy of every stream: the source's bytes over the span.
    const auto codec = valueOf(arguments, "-c");
    if (codec == "copy" && sourceBytes && probe.durationSeconds && *probe.durationSeconds > 0)
        return static_cast<int64_t>(static_cast<double>(*sourceBytes) * std::min(1.0, seconds / *probe.durationSeconds));
    double bits = 0;
    const auto sound = valueOf(arguments, "-c:a").value_or(codec.value_or(""));
    if (const auto sample = pcmSampleBytes(sound)) {
        const double rate = bitRate(valueOf(arguments, "-ar")).value_or(double(probe.audioSampleRate.value_or(0)));
        const double channels = bitRate(valueOf(arguments, "-ac")).value_or(double(probe.audioChannels.value_or(0)));
        bits += rate * channels * *sample * 8;
    } else if (const auto rate = bitRate(valueOf(arguments, "-b:a"))) {
        bits += *rate;
    }
    if (const auto rate = bitRate(valueOf(arguments, "-b:v"))) bits += *rate;
    if (!(bits > 0)) return std::nullopt;
    return static_cast<int64_t>(bits / 8 * seconds);
}

int64_t OutputNeed::ofSplit(const std::vector<double>& spans, const std::vector<int64_t>& written, size_t failed,
                            int64_t failedNeed) {
    int64_t need = 0;
    double doneBytes = 0;
    double doneSeconds = 0;
    for (size_t i = 0; i < failed && i < written.size() && i < spans.size(); ++i) {
        need += written[i];
        doneBytes += static_cast<double>(written[i]);
        doneSeconds += spans[i];
    }
    double rate = doneSeconds > 0 ? doneBytes / doneSeconds : 0;
    if (!(rate > 0) && failed < spans.size() && spans[failed] > 0) rate = static_cast<double>(failedNeed) / spans[failed];
    for (size_t i = failed; i < spans.size(); ++i) {
        int64_t part = inBlocks(std::llround(rate * std::max(0.0, spans[i])));
        if (i == failed) part = std::max(part, failedNeed);
        need += part;
    }
    return need;
}

int64_t OutputNeed::inBlocks(int64_t bytes) { return (std::max<int64_t>(bytes, 0) + kBlock - 1) / kBlock * kBlock; }

}  // namespace kolvex
