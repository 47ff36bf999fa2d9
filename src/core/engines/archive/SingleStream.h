// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>

namespace kolvex {

// A bare compressed stream of one file (.gz, .bz2, .xz), which bsdtar cannot unpack, decoded in
// process with libarchive.
class SingleStream {
public:
    // How far an unpacking has come: compressed bytes read and plain bytes written. Read from
    // another thread while the unpacking runs.
    struct Meter {
        std::atomic<int64_t> consumed{0};
        std::atomic<int64_t> written{0};

        // What the whole stream of `compressedSize` bytes unpacks to, projected from the share
        // read so far; none before anything was read.
        std::optional<int64_t> projected(int64_t compressedSize) const;
    };

    // What an .xz file unpacks to, as its streams' indexes record it (every stream of a
    // concatenated file counted); none when the file is no sound .xz.
    static std::optional<int64_t> recordedXzLength(const std::filesystem::path& source);

    // Writes the decoded bytes of `source` into a new file `target` (never over an existing
    // item), byte for byte. Runs on a worker thread; may block. Throws
    // ConversionError::corruptedInput when the stream is damaged, OperationCancelled when `stop`
    // is requested, std::system_error when writing fails; `target` is removed then.
    // `meter`, when given, follows the unpacking.
    static void unpack(const std::filesystem::path& source, const std::filesystem::path& target,
                       std::stop_token stop, Meter* meter = nullptr);
};

}  // namespace kolvex
