// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

#include "core/ffmpeg/EncoderListCache.h"

namespace kolvex {

// Where the ffmpeg program is (media is probed in process, so ffprobe is not needed). A plain
// value that never changes after creation; copy and share it freely between threads.
struct BundledFFmpeg {
    std::filesystem::path ffmpeg;

    // Thrown when the programs that ship with the application cannot be found.
    class NotBundled : public std::runtime_error {
    public:
        NotBundled() : std::runtime_error("FFmpeg is not bundled with the application") {}
    };

    // Stores the path as given, with no check (the settings' override path).
    explicit BundledFFmpeg(std::filesystem::path ffmpeg);

    // The program that ships with the application: <prefix>/libexec/kolvex/ffmpeg of the running
    // executable's prefix, then the configured libexec folder relative to it. It must be an
    // executable file (links are followed). Neither the PATH nor a fixed absolute folder
    // is searched. Throws NotBundled.
    static BundledFFmpeg inBundle();
    // The same search over the given libexec folders, in order.
    static BundledFFmpeg inBundle(const std::vector<std::filesystem::path>& libexecFolders);
    // The folders inBundle() searches.
    static std::vector<std::filesystem::path> bundleFolders();

    // The override path of the settings when it names an executable file, else the bundled
    // program (NotBundled when there is none).
    static BundledFFmpeg locate(const std::optional<std::filesystem::path>& overridePath);

    // Names of the encoders the located ffmpeg was built with ("libx264", "aac", …). Empty when the
    // listing failed or said nothing; the failure is logged. What the program listed before is
    // taken from `cache` while the program is unchanged; otherwise it is asked, for at most 10
    // seconds, and its answer kept. Runs on a worker thread.
    std::set<std::string> availableEncoders(std::stop_token stop = {},
                                            const EncoderListCache& cache = EncoderListCache::shared()) const;
    // The same, always asking the program.
    std::set<std::string> listEncoders(std::stop_token stop = {}) const;

    // The encoder names found in the text of `ffmpeg -encoders`.
    static std::set<std::string> parseEncoderListing(const std::string& listing);

    bool operator==(const BundledFFmpeg&) const = default;
};

}  // namespace kolvex
