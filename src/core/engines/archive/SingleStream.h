// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <stop_token>

namespace kolvex {

// A bare compressed stream of one file (.gz, .bz2, .xz), which bsdtar cannot unpack, decoded in
// process with libarchive.
class SingleStream {
public:
    // Writes the decoded bytes of `source` into a new file `target` (never over an existing
    // item), byte for byte. Runs on a worker thread; may block. Throws
    // ConversionError::corruptedInput when the stream is damaged, OperationCancelled when `stop`
    // is requested, std::system_error when writing fails; `target` is removed then.
    static void unpack(const std::filesystem::path& source, const std::filesystem::path& target,
                       std::stop_token stop);
};

}  // namespace kolvex
