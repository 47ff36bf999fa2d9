// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ffmpeg/MediaProbe.h"
#include "core/format/ConversionJob.h"

namespace kolvex {

// What an output grows to, judged from ffmpeg's reports of its size and of how far into the
// output it was. The time a report gives runs ahead of the bytes on disk by what the encoder
// and the muxer hold (a video encoder's look-ahead, sound queued until the pictures catch up),
// seconds early on; that lag stays while the file grows, and all of it reaches the file at the
// end. So the rate at which the file grew, over a long enough stretch, times the output's
// duration is its size; from a short stretch, its size so far scaled by the time is the
// better guess, and that errs low, never high. Fed from one run's report lines; not shared.
class OutputGrowth {
public:
    void add(int64_t bytes, double seconds);
    std::optional<int64_t> projected(double duration) const;
private:
    static constexpr int64_t kHeader = 64 << 10;
    struct Point {
        int64_t bytes = 0;
        double seconds = 0;
    };
    Point m_first;
    Point m_last;
};

// What an ffmpeg run writes, projected from its plan — its command line and the span it covers —
// before or while it writes: what a full disk tells as the job's need, whenever the volume
// filled (early, or by another writer). Pure; any thread.
struct OutputNeed {
    // The bytes the run of `arguments` writes over `seconds` of output: sound written as PCM
    // (rate × channels × sample size), a stream copy (the source's bytes over the span:
    // `sourceBytes` of the whole `probe.durationSeconds`; a copied sound at its own rate), the
    // bit rates asked of the encoders, and pictures encoded at a constant quality (x264's, VP9's),
    // which state no rate, by what the source spends on its own, with two fifths' headroom. None
    // where nothing in the plan tells a rate.
    static std::optional<int64_t> planned(const std::vector<std::string>& arguments, const MediaProbe& probe,
                                          double seconds, std::optional<int64_t> sourceBytes);

    // The need a run tells when it found the volume full, in the volume's blocks: the most of
    // what its failure said (`reported`), its growth projected over `duration` (which errs low:
    // the encoder and the muxer hold the latest seconds) and its plan (`planned`, which errs
    // high where it is an estimate).
    static int64_t whenFull(int64_t reported, const OutputGrowth& growth, std::optional<double> duration,
                            std::optional<int64_t> planned);

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
