// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>

#include "core/format/ConversionJob.h"

namespace kolvex {

// Makes sure the compress tool never leaves the user a bigger file than the one they started
// from: when a same-format compress did not shrink the file, the output becomes an exact copy
// of the source. Engines call it right after writing such an output.
struct CompressionGuard {
    struct Outcome {
        std::filesystem::path url;       // always the produced file's path
        bool wasAlreadySmallest = false;  // the output now holds the source's bytes

        bool operator==(const Outcome&) const = default;
    };

    // Leaves `produced` alone unless the job is a "compress" from a format to itself and the
    // produced file is not smaller than the source. Then the source is copied to a temporary file
    // beside `produced` and renamed over it, so a failure at any step keeps the produced file.
    // Never throws. Runs on the calling engine's thread; touches only the job's own files.
    static Outcome keepSmaller(const ConversionJob& job, const std::filesystem::path& produced) noexcept;
};

}  // namespace kolvex
