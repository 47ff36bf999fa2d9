// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <stop_token>

namespace kolvex {

// Where the sound of a bare AAC (ADTS) file ends. ADTS states neither the encoder's padding nor
// the sound's length: a decoder plays every coded frame whole, and the last one ends in up to a
// frame of the encoder's silence. What is heard ends where that last frame's sound fades under
// -40 dBFS. Only the last frame is looked at, so at most one frame of a quiet ending is taken for
// padding. Any thread.
struct BareAacEnd {
    // Seconds from the file's start on the decoder's clock (the encoder's delay included). None
    // when the file holds no AAC sound or its frames state no times. Reads every packet's header
    // and decodes the last three. Throws ConversionError::corruptedInput when the file cannot be
    // read, OperationCancelled when stopped.
    static std::optional<double> read(const std::filesystem::path& url, std::stop_token stop = {});
};

}  // namespace kolvex
