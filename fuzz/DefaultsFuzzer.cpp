// SPDX-License-Identifier: GPL-3.0-or-later
// The defaults file: strict JSON parsing, and opening, reading and rewriting a settings file.
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "FuzzInput.h"

#include "core/services/StrictJson.h"
#include "core/services/UserDefaults.h"

namespace {

// A folder of this process's own, removed when it exits.
struct SettingsFolder {
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("kolvex-fuzz-defaults-" + std::to_string(getpid()));
    SettingsFolder() { std::filesystem::create_directories(folder); }
    ~SettingsFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

std::filesystem::path settingsFile() {
    static const SettingsFolder settings;
    return settings.folder / "defaults.json";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvex;
    try {
        (void)json::parse(fuzz::text(data, size));
    } catch (const json::JsonError&) {
    }

    const auto file = settingsFile();
    std::filesystem::remove(file.string() + ".corrupt");
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    JsonFileUserDefaults defaults(file);
    (void)defaults.data("KolvexPreferences");
    (void)defaults.string("Appearance");
    (void)defaults.integer("Count");
    // A change rewrites the file, carrying every entry this version could not read.
    defaults.set("FuzzedKey", true);
    return 0;
}
