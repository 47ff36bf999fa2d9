// SPDX-License-Identifier: GPL-3.0-or-later
// Keyframe times as a container states them: any doubles, NaN, infinities and negatives included.
#include <cstring>
#include <vector>

#include "FuzzInput.h"

#include "core/ffmpeg/KeyframeIndex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvex;
    std::vector<double> times(size / sizeof(double));
    if (!times.empty()) std::memcpy(times.data(), data, times.size() * sizeof(double));
    const KeyframeIndex index(times);
    for (double t : {0.0, 1.5, 1e9, times.empty() ? -1.0 : times.front()}) {
        (void)index.nearest(t);
        (void)index.atOrBefore(t);
        (void)index.atOrAfter(t);
        (void)TrimPlan::copyWouldStart(t, index);
        (void)TrimPlan::magnetised(t, index, 0.04, 8);
        (void)TrimPlan::copyIsExact(t, index);
    }
    (void)index.largestGap();
    (void)index.isAllIntra(static_cast<int64_t>(times.size()));
    return 0;
}
