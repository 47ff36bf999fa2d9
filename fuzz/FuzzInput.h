// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// What every harness shares: the input as bytes of text, and the entry points libFuzzer (or the
// seed driver) calls.
namespace kolvex::fuzz {

inline std::string_view text(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Makes the offscreen QGuiApplication the document readers need; once per process.
void startTextSystem();

}  // namespace kolvex::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
