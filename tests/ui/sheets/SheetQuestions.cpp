// SPDX-License-Identifier: GPL-3.0-or-later
#include "SheetQuestions.h"

#include <vector>

namespace kolvex::testing {

StreamCopyCuts pictureStream(double seconds, int gop, int bframes, bool open) {
    const int count = static_cast<int>(seconds * 10);
    std::vector<int> order, pending;
    for (int n = 0; n < count; ++n) {
        const bool anchor = n % gop == 0 || n % (bframes + 1) == 0 || (!open && (n + 1) % gop == 0) || n + 1 == count;
        if (!anchor) {
            pending.push_back(n);
            continue;
        }
        order.push_back(n);
        order.insert(order.end(), pending.begin(), pending.end());
        pending.clear();
    }
    StreamCopyCuts cuts;
    std::vector<double> keyframes;
    for (size_t i = 0; i < order.size(); ++i) {
        const int n = order[i];
        const bool key = n % gop == 0;
        cuts.pictures.push_back({n / 10.0, (static_cast<double>(i) - bframes) / 10.0, key});
        if (key) keyframes.push_back(n / 10.0);
    }
    cuts.keyframes = KeyframeIndex(keyframes);
    return cuts;
}

namespace {

Format format(const char* id, FormatCategory category, const char* label) {
    Format f;
    f.id = FormatID(id);
    f.category = category;
    f.extensions = {id};
    f.label = label;
    return f;
}

}  // namespace

std::shared_ptr<const CutQuestion> question(const char* container, FormatCategory category, const char* label,
                                            std::optional<std::string> video, std::string sound,
                                            std::optional<StreamCopyCuts> cuts, const char* tool) {
    ConversionOptions options;
    options.tool = tool;
    const Format f = format(container, category, label);
    const ConversionCapability capability{f.id, f.id, engine_ids::ffmpeg, ConversionCost::subprocess, true};
    MediaProbe probe;
    probe.videoCodec = std::move(video);
    probe.audioCodec = std::move(sound);
    probe.audioSampleRate = 48000;
    probe.audioBitrate = 128000;
    probe.durationSeconds = 10;
    std::shared_ptr<const StreamCopyCuts> read;
    if (cuts) read = std::make_shared<const StreamCopyCuts>(std::move(*cuts));
    return std::make_shared<const CutQuestion>(ConversionJob("/m/in", {}, "/m/in", f, f, capability, options), probe,
                                               read);
}

}  // namespace kolvex::testing
