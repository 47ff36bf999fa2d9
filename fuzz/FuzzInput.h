// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include <unistd.h>

// What every harness shares: the input as bytes of text, and the entry points libFuzzer (or the
// seed driver) calls.
namespace kolvex::fuzz {

inline std::string_view text(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Makes the offscreen QGuiApplication the document readers need; once per process.
void startTextSystem();

// A folder of this process's own for harnesses that hand their input over as a file, named
// after `harness`, removed when the process ends.
inline const std::filesystem::path& scratch(const char* harness) {
    struct Scratch {
        std::filesystem::path folder;
        explicit Scratch(const char* name)
            : folder(std::filesystem::temp_directory_path() /
                     ("kolvex-fuzz-" + std::string(name) + "-" + std::to_string(::getpid()))) {
            std::filesystem::create_directories(folder);
        }
        ~Scratch() {
            std::error_code ec;
            std::filesystem::remove_all(folder, ec);
        }
    };
    static const Scratch made(harness);
    return made.folder;
}

}  // namespace kolvex::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
