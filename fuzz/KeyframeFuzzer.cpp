// ffprobe's keyframe and packet lists.
#include "FuzzInput.h"

#include "core/ffmpeg/KeyframeIndex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvex;
    const auto text = fuzz::text(data, size);
    const auto index = KeyframeIndex::parse(text);
    const auto cuts = StreamCopyCuts::parse(text);
    for (double t : {0.0, 1.5, 1e9}) {
        (void)index.nearest(t);
        (void)index.atOrBefore(t);
        (void)index.atOrAfter(t);
        (void)cuts.keyframes.nearest(t);
        (void)TrimPlan::copyWouldStart(t, index);
        (void)TrimPlan::magnetised(t, index, 0.04, 8);
    }
    (void)index.largestGap();
    return 0;
}
