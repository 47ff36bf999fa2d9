// SPDX-License-Identifier: GPL-3.0-or-later
// ffmpeg's "-progress" lines. The first byte picks the expected duration (or none).
#include <cmath>
#include <cstdlib>
#include <optional>

#include "FuzzInput.h"

#include "core/ffmpeg/FFmpegProgressParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvex;
    if (size == 0) return 0;
    std::optional<double> duration;
    if (data[0] != 0) duration = data[0] == 0xFF ? 0.0 : data[0] * 0.37;
    FFmpegProgressParser parser(duration);
    auto text = fuzz::text(data + 1, size - 1);
    double last = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const auto line = text.substr(0, end);
        text = end == text.npos ? std::string_view() : text.substr(end + 1);
        if (auto fraction = parser.consume(line)) {
            // A reported fraction is finite, within [0, 1] and never goes back.
            if (!std::isfinite(*fraction) || *fraction < last || *fraction > 1) std::abort();
            last = *fraction;
        }
    }
    return 0;
}
