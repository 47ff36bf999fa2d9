// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/archive/ArchiveSpace.h"

#include <sys/stat.h>

#include <algorithm>
#include <system_error>

#include "core/engines/archive/SingleStream.h"
#include "core/services/ErrorMapper.h"

namespace kolvex {

namespace fs = std::filesystem;

std::optional<int64_t> ArchiveSpace::recordedLength(const ConversionJob& job, const FileManagerService& files) {
    if (job.from.id.rawValue == "xz") return SingleStream::recordedXzLength(job.source);
    // A gzip stream records it modulo 4 GiB: never more than it writes. A length deflate cannot
    // reach from the stream's size is a damaged trailer, not a need.
    const auto recorded = ErrorMapper::recordedLength(job);
    const auto size = files.size(job.source);
    if (!recorded || !size || *recorded > *size * 1032) return std::nullopt;
    return recorded;
}

int64_t ArchiveSpace::plainTar(int64_t data, int64_t entries) {
    // A header and an extended header per entry (times to the nanosecond, long or odd names),
    // the data in 512-byte blocks, the end marker, all in 10 KiB records.
    constexpr int64_t kPerEntry = 3 * 512;
    constexpr int64_t kRecord = 10240;
    const int64_t bytes = data + entries * kPerEntry + 1024;
    return (bytes + kRecord - 1) / kRecord * kRecord;
}

int64_t ArchiveSpace::plainTar(const fs::path& folder) {
    int64_t data = 0;
    int64_t entries = 1;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        ++entries;
        if (it->symlink_status(ec).type() == fs::file_type::regular) {
            const auto size = it->file_size(ec);
            if (!ec) data += static_cast<int64_t>((size + 511) / 512 * 512);
        }
        ec.clear();
    }
    return plainTar(data, entries);
}

std::optional<int64_t> ArchiveSpace::plainTar(const ConversionJob& job, const ArchiveSurvey& survey,
                                              const FileManagerService& files) {
    if (job.to.id.rawValue != "tar") return std::nullopt;
    if (survey.singleStream) {
        const auto recorded = recordedLength(job, files);
        return recorded ? std::optional(plainTar(*recorded, 1)) : std::nullopt;
    }
    if (!survey.sizesKnown) return std::nullopt;
    return plainTar(survey.declaredBytes, survey.entries);
}

int64_t ArchiveSpace::refuseTarBeyondRoom(const fs::path& contents, const fs::path& destination,
                                          std::optional<int64_t> freeBefore, const FileManagerService& files) {
    const int64_t tar = plainTar(contents);
    const auto room = files.availableCapacity(destination);
    const bool shared = sameVolume(contents, destination.parent_path());
    const int64_t held = shared && room && freeBefore ? std::max<int64_t>(*freeBefore - *room, 0) : 0;
    if (room && *room < tar) throw ConversionError::insufficientDiskSpace(tar + held, *room + held);
    return tar + held;
}

bool ArchiveSpace::sameVolume(const fs::path& a, const fs::path& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev;
}

}  // namespace kolvex
