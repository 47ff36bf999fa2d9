// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/OutputNeed.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>

#include "core/conversion/SizeEstimator.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace kolvex {

namespace {

constexpr int64_t kBlock = 4096;
// What a container adds: a header and an index (a copy's too: its own, beside the share of the
// source it takes), and each packet's framing on top of the rate asked of an encoder (which
// keeps to its rate over the whole, not exactly) or of a copy's share of the source (which
// begins and ends on whole packets).
constexpr int64_t kContainer = 8 << 10;
constexpr double kFraming = 1.03;

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

// Pictures a second, from the probe's "25/1"; none when unknown.
std::optional<double> pictureRate(const MediaProbe& probe) {
    if (!probe.frameRate) return std::nullopt;
    const std::string& text = *probe.frameRate;
    char* end = nullptr;
    const double numerator = std::strtod(text.c_str(), &end);
    double denominator = 1;
    if (*end == '/') denominator = std::strtod(end + 1, nullptr);
    if (!(numerator > 0) || !(denominator > 0)) return std::nullopt;
    return numerator / denominator;
}

// Sound encoders that keep every sample (FLAC, ALAC): three fifths of the samples' own size, what
// they keep of music (of noise more, and of quiet far less).
bool keepsEverySample(const std::string& encoder) { return encoder == "flac" || encoder == "alac"; }

// Encoders that are given a quality, not a rate, when the plan states none: what they spend
// follows the pictures.
bool atConstantQuality(const std::string& encoder) {
    static const std::set<std::string> encoders = {"libx264", "libx265", "libvpx", "libvpx-vp9", "libaom-av1",
                                                   "libsvtav1"};
    return encoders.contains(encoder);
}

// Bits per second of pictures re-encoded at a constant quality: what the source spends on its
// own pictures (its bytes over its length, less its sound), and two fifths more. Such an encode
// writes the source's grain and coding artefacts again: from a source its encoder starved, more
// than the source (a grainy 1 Mb/s AVI re-encoded without B-frames takes 1.2 times its rate); from
// a generous one, less (8 Mb/s of x264's fastest preset comes out at 0.85). The headroom keeps
// the first above what is written and the second well under twice it.
std::optional<double> constantQualityPictures(const std::vector<std::string>& arguments, const MediaProbe& probe,
                                              std::optional<int64_t> sourceBytes) {
    const auto encoder = valueOf(arguments, "-c:v");
    if (!encoder || !atConstantQuality(*encoder) || !probe.videoCodec) return std::nullopt;
    // A single picture is no stream of them.
    if (valueOf(arguments, "-frames:v") || std::find(arguments.begin(), arguments.end(), "-vn") != arguments.end())
        return std::nullopt;
    if (!sourceBytes || *sourceBytes < 1 || !probe.durationSeconds || !(*probe.durationSeconds > 0)) return std::nullopt;
    const double whole = static_cast<double>(*sourceBytes) * 8 / *probe.durationSeconds;
    const double pictures = std::max(whole - double(probe.audioBitrate.value_or(0)), double(SizeEstimator::kVideoFloor));
    // Pictures each stored whole (MJPEG, ProRes, DV, raw) spend several times what an encoder
    // that draws on the pictures around them does: from those, the pictures' own size tells
    // more, at a quarter of a bit a pixel (x264 and VP9 at their default quality spend a sixth
    // of one on small moving pictures; grain costs more, and is then told by how the file grows).
    if (const auto* codec = avcodec_descriptor_get_by_name(probe.videoCodec->c_str());
        codec && (codec->props & AV_CODEC_PROP_INTRA_ONLY) && probe.width && probe.height) {
        const double drawn = static_cast<double>(*probe.width * *probe.height) * pictureRate(probe).value_or(30) / 4;
        return std::max(std::min(pictures * 7 / 5, drawn), double(SizeEstimator::kVideoFloor));
    }
    return pictures * 7 / 5;
}

}  // namespace

void OutputGrowth::add(int64_t bytes, double seconds) {
    if (bytes <= m_last.bytes || !(seconds > 0)) return;
    // The container's header alone tells no rate.
    if (m_first.bytes <= kHeader) m_first = {bytes, seconds};
    m_last = {bytes, seconds};
}

std::optional<int64_t> OutputGrowth::projected(double duration) const {
    if (!(m_last.seconds > 0)) return std::nullopt;
    // All of it was muxed; only its end (an index, a move to the front) did not fit.
    if (m_last.seconds >= duration) return m_last.bytes;
    double whole = static_cast<double>(m_last.bytes) * duration / m_last.seconds;
    const double stretch = m_last.seconds - m_first.seconds;
    if (m_first.bytes > kHeader && stretch >= duration / 5)
        whole = std::max(whole, static_cast<double>(m_last.bytes - m_first.bytes) / stretch * duration);
    return static_cast<int64_t>(whole);
}

std::optional<int64_t> OutputNeed::planned(const std::vector<std::string>& arguments, const MediaProbe& probe,
                                           double seconds, std::optional<int64_t> sourceBytes) {
    if (!(seconds > 0)) return std::nullopt;
    // A copy of every stream: the source's bytes over the span.
    const auto codec = valueOf(arguments, "-c");
    if (codec == "copy" && sourceBytes && probe.durationSeconds && *probe.durationSeconds > 0) {
        const double share = std::min(1.0, seconds / *probe.durationSeconds);
        return static_cast<int64_t>(static_cast<double>(*sourceBytes) * share * kFraming) + kContainer;
    }
    double bits = 0;
    // Streams encoded to a rate or a quality: packets in a container's framing, with its header
    // and index, where PCM is counted as it lies.
    bool encoded = false;
    const auto sound = valueOf(arguments, "-c:a").value_or(codec.value_or(""));
    if (const auto sample = pcmSampleBytes(sound)) {
        const double rate = bitRate(valueOf(arguments, "-ar")).value_or(double(probe.audioSampleRate.value_or(0)));
        const double channels = bitRate(valueOf(arguments, "-ac")).value_or(double(probe.audioChannels.value_or(0)));
        bits += rate * channels * *sample * 8;
    } else if (keepsEverySample(sound)) {
        const double rate = bitRate(valueOf(arguments, "-ar")).value_or(double(probe.audioSampleRate.value_or(0)));
        const double channels = bitRate(valueOf(arguments, "-ac")).value_or(double(probe.audioChannels.value_or(0)));
        bits += rate * channels * (probe.audioBitsPerSample.value_or(16) > 16 ? 24 : 16) * 3 / 5;
    } else if (const auto rate = bitRate(valueOf(arguments, "-b:a"))) {
        bits += *rate * kFraming;
        encoded = true;
    } else if (sound == "copy") {
        bits += double(probe.audioBitrate.value_or(0));
    }
    if (const auto rate = bitRate(valueOf(arguments, "-b:v"))) {
        bits += *rate * kFraming;
        encoded = true;
    } else if (const auto rate = constantQualityPictures(arguments, probe, sourceBytes)) {
        bits += *rate;
        encoded = true;
    }
    if (!(bits > 0)) return std::nullopt;
    return static_cast<int64_t>(bits / 8 * seconds) + (encoded ? kContainer : 0);
}

int64_t OutputNeed::whenFull(int64_t reported, const OutputGrowth& growth, std::optional<double> duration,
                             std::optional<int64_t> planned) {
    if (!duration) return reported;
    int64_t need = reported;
    for (const auto bytes : {growth.projected(*duration), planned})
        if (bytes) need = std::max(need, inBlocks(*bytes));
    return need;
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
