// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "core/format/ConversionJob.h"
#include "core/services/FileManagerService.h"

namespace kolvex {

// What an archive job's output takes on disk, where it can be told: what a single compressed
// stream records it unpacks to, and the size of the plain tar a set of files makes.
struct ArchiveSpace {
    // What the job's source unpacks to when it is a single stream that records it: an .xz
    // file's indexes, a gzip trailer (when deflate can reach it from the stream's size); none
    // for anything else.
    static std::optional<int64_t> recordedLength(const ConversionJob& job, const FileManagerService& files);

    // The size of a pax tar of `entries` entries holding `data` bytes.
    static int64_t plainTar(int64_t data, int64_t entries);
    // The same for what a folder holds, counted as tar packs it.
    static int64_t plainTar(const std::filesystem::path& folder);

    // Whether two existing items are on one volume; false when either cannot be read.
    static bool sameVolume(const std::filesystem::path& a, const std::filesystem::path& b);
};

}  // namespace kolvex
