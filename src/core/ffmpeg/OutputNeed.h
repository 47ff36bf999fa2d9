// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ffmpeg/MediaProbe.h"
#include "core/format/ConversionJob.h"

namespace kolvex {

// What an ffmpeg run writes, projected from its plan — its command line and the span it covers —
// before or while it writes: what a full disk tells as the job's need, whenever the volume
// filled (early, or by another writer). Pure; any thread.
struct OutputNeed {
    // The bytes the run of `arguments` writes for `job` over `seconds` of output, as far as its
    // plan states rates: sound written as PCM (rate × channels × sample size), a stream copy
    // (the source's bytes over the span: `sourceBytes` of the whole `probe.durationSeconds`),
    // and the bit rates asked of the encoders. A lower bound where only some rates are stated
    // (a picture encoded at a constant quality); none when no rate is.
    static std::optional<int64_t> planned(const std::vector<std::string>& arguments, const MediaProbe& probe,
                                          double seconds, std::optional<int64_t> sourceBytes);

    // A split's need when its part `failed` (of `spans`, seconds each) ran out of room: the parts
    // before it as written (`written`, bytes each), that part and those after it by their
    // spans, at the rate the written parts show, else at the failing part's own need
    // (`failedNeed`) over its span.
    static int64_t ofSplit(const std::vector<double>& spans, const std::vector<int64_t>& written, size_t failed,
                           int64_t failedNeed);

    // `bytes` rounded up to the volume's allocation unit (a page: what tmpfs and ext4 give a file).
    static int64_t inBlocks(int64_t bytes);
};

}  // namespace kolvex
