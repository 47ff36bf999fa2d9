// SPDX-License-Identifier: GPL-3.0-or-later
#include <fmt/format.h>

#include "core/conversion/SoundCompression.h"
#include "core/ffmpeg/FFmpegEngine.h"
#include "core/services/Log.h"
#include "core/services/PathUtils.h"

namespace kolvex {

ConversionOutcome FFmpegEngine::compressSound(const ConversionJob& job, const ProgressCallback& progress,
                                              std::stop_token stop) const {
    const MediaProbe probe = m_prober->probe(job.source, stop);
    const SoundCompression plan = SoundCompression::plan(job.source, probe, job.to, SoundCompression::quality(job), *m_files);
    ConversionOutcome kept;
    kept.leftAsItIs = true;
    if (plan.leftAsItIs()) {
        if (progress) progress(1.0);
        kept.note = plan.reason;
        return kept;
    }
    Staged staged = stage(job, progress, stop, nullptr);
    const auto source = m_files->size(job.source);
    const auto written = m_files->size(staged.output.path());
    // The estimate erred: a file no smaller is no compression, and a copy of the source under a
    // new name would only say it was one. The staged file goes with `staged`.
    if (source && written && *written >= *source) {
        Log::engine().info("compress: {} at {} kb/s came out no smaller; left as it is", paths::lastComponent(job.source),
                           *plan.bitrate / 1000);
        if (progress) progress(1.0);
        kept.note = fmt::format("Left as it is: re-encoded at {} kb/s this {} came out no smaller", *plan.bitrate / 1000,
                                job.from.label);
        return kept;
    }
    staged.output.commit();
    if (progress) progress(1.0);
    return {{staged.output.destination()}, staged.usedPassthrough, staged.note};
}

}  // namespace kolvex
