// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "core/engines/archive/ArchiveSurvey.h"
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

    // The size of the plain tar a repack to "tar" writes, when what it holds is known before it
    // is unpacked; none for other targets.
    static std::optional<int64_t> plainTar(const ConversionJob& job, const ArchiveSurvey& survey,
                                           const FileManagerService& files);

    // What writing a plain tar of `contents` at `destination` needs. Unpacked on the output's
    // own volume, the contents hold room of it until the job ends: the job then needs both, out
    // of what was free before unpacking (`freeBefore`). Throws insufficientDiskSpace with those
    // figures when the tar does not fit in the room left.
    static int64_t refuseTarBeyondRoom(const std::filesystem::path& contents, const std::filesystem::path& destination,
                                       std::optional<int64_t> freeBefore, const FileManagerService& files);

    // Whether two existing items are on one volume; false when either cannot be read.
    static bool sameVolume(const std::filesystem::path& a, const std::filesystem::path& b);
};

}  // namespace kolvex
