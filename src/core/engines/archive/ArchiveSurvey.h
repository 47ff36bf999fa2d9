// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <stop_token>

#include "core/format/ConversionError.h"
#include "core/services/PathUtils.h"

namespace kolvex {

// What an archive says about itself, read with libarchive before anything is unpacked: whether
// it is encrypted (bsdtar would otherwise ask for a passphrase it can never get, and on AES zips
// spins for minutes first), how much it declares it holds, and whether it is a bare compressed
// stream of one file (.gz, .bz2, .xz), which bsdtar cannot unpack.
struct ArchiveSurvey {
    // What the source claims to be. A file whose own format is a compressed stream (.gz, .bz2,
    // .xz) is a tar only when a tar is inside; anything else in it (a word list, a zip, a cpio)
    // is the one compressed file.
    enum class Source { archive, compressedStream };

    int64_t entries = 0;
    // The sum of the sizes the entries declare; exact only when `sizesKnown`.
    int64_t declaredBytes = 0;
    bool sizesKnown = true;
    bool singleStream = false;
    // The name two entries that are not folders share, in a format where a later entry does not
    // replace an earlier one by design (every format but tar), or that one entry gives a file and
    // another a folder (in any format): unpacking would keep only one, or fail.
    std::optional<std::string> clash;
    // The longest path an entry unpacks to, in bytes, below the folder it unpacks into.
    size_t longestPath = 0;

    // The longest path the system takes, in bytes, and the longest name of one item in it.
    static constexpr size_t kMaxPath = paths::kMaxPathBytes;
    static constexpr size_t kMaxName = paths::kMaxNameBytes;
    // Throws beyondLimit, naming the system's limit, when an entry unpacked into `folder` would
    // have a path longer than the system takes: the unpacking could neither finish nor be undone
    // by path.
    void refusePathsBeyond(const std::filesystem::path& folder, const std::filesystem::path& archive) const;

    // Reads every entry header of `archive` (data is skipped, which for a compressed tar still
    // means decompressing it). Formats nobody hands us as an archive (mtree listings, which any
    // plain list of words resembles) are never considered. Runs on a worker thread; may block. Throws
    // ConversionError::passwordProtected when any entry (or the header itself) is encrypted,
    // unreadableInput when the file cannot be opened, corruptedInput when it is no archive or
    // is damaged, beyondLimit when an entry's path or one of its names is longer than the system
    // takes anywhere (reading stops there, so a deep archive costs no more than that),
    // OperationCancelled when `stop` is requested.
    static ArchiveSurvey of(const std::filesystem::path& archive, std::stop_token stop,
                            Source source = Source::archive);
};

}  // namespace kolvex
