// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <string>

extern "C" {
#include <libavutil/error.h>
}

namespace kolvex {

// FFmpeg's short English text for one of its error codes.
inline std::string describeAvError(int code) {
    std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
    av_strerror(code, text.data(), text.size());
    return text.data();
}

}  // namespace kolvex
