// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace kolvex {

// The room a job is asked to find on its output's volume before it starts, where nothing in
// its plan tells what it writes: its source's size, a tenth more and a mebibyte. (A 9-byte file
// asks 1,048,585 bytes, a 10,000,000-byte one 12,048,576.) An engine that projects what a job
// writes asks that instead (ConversionEngine::checksRoom).
struct JobRoom {
    static constexpr int64_t bySourceSize(int64_t sourceBytes) { return sourceBytes + sourceBytes / 10 + 1'048'576; }
};

}  // namespace kolvex
