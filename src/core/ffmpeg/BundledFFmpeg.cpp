// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/BundledFFmpeg.h"

#include <chrono>
#include <exception>
#include <string_view>

#include <unistd.h>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "core/services/Log.h"
#include "core/services/ProcessRunner.h"

// Where the install puts the programs, relative to the installed executable's folder.
#ifndef KOLVEX_BIN_TO_LIBEXEC
#define KOLVEX_BIN_TO_LIBEXEC "../libexec/kolvex"
#endif

namespace kolvex {

namespace fs = std::filesystem;

namespace {

bool isExecutableFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

std::vector<std::string_view> splitAt(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(separator, start), text.size());
        if (end > start) pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

// A letter or number in the Unicode sense, "_" or "-", for every character.
bool isEncoderName(std::string_view piece) {
    int32_t characters = 0;
    for (int32_t i = 0; i < static_cast<int32_t>(piece.size());) {
        UChar32 c;
        U8_NEXT(piece.data(), i, static_cast<int32_t>(piece.size()), c);
        if (c < 0) return false;
        if (!(u_isalnum(c) || c == '_' || c == '-')) return false;
        ++characters;
    }
    return characters >= 2;
}

int32_t characterCount(std::string_view text) {
    int32_t count = 0;
    for (int32_t i = 0; i < static_cast<int32_t>(text.size());) {
        UChar32 c;
        U8_NEXT(text.data(), i, static_cast<int32_t>(text.size()), c);
        ++count;
    }
    return count;
}

}  // namespace

BundledFFmpeg::BundledFFmpeg(fs::path ffmpegPath) : ffmpeg(std::move(ffmpegPath)) {}

std::vector<fs::path> BundledFFmpeg::bundleFolders() {
    std::vector<fs::path> folders;
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (error) return folders;
    folders.push_back(executable.parent_path().parent_path() / "libexec" / "kolvex");
    const fs::path configured = (executable.parent_path() / KOLVEX_BIN_TO_LIBEXEC).lexically_normal();
    if (configured != folders.front()) folders.push_back(configured);
    return folders;
}

BundledFFmpeg BundledFFmpeg::inBundle() { return inBundle(bundleFolders()); }

BundledFFmpeg BundledFFmpeg::inBundle(const std::vector<fs::path>& libexecFolders) {
    for (const auto& folder : libexecFolders) {
        if (isExecutableFile(folder / "ffmpeg")) return BundledFFmpeg(folder / "ffmpeg");
    }
    throw NotBundled();
}

BundledFFmpeg BundledFFmpeg::locate(const std::optional<fs::path>& overridePath) {
    if (overridePath && overridePath->is_absolute() && isExecutableFile(*overridePath)) return BundledFFmpeg(*overridePath);
    return inBundle();
}

std::set<std::string> BundledFFmpeg::availableEncoders(std::stop_token stop, const EncoderListCache& cache) const {
    if (auto known = cache.load(ffmpeg)) return std::move(*known);
    std::set<std::string> names = listEncoders(std::move(stop));
    cache.store(ffmpeg, names);
    return names;
}

std::set<std::string> BundledFFmpeg::listEncoders(std::stop_token stop) const {
    try {
        const auto result = ProcessRunner().run(ffmpeg, {"-hide_banner", "-loglevel", "quiet", "-encoders"},
                                                std::chrono::seconds(10), nullptr, nullptr, stop);
        // The exit status is not examined: whatever was listed is usable.
        return parseEncoderListing(result.standardOutput());
    } catch (const std::exception& error) {
        Log::engine().error("Could not enumerate FFmpeg encoders: {}", error.what());
        return {};
    }
}

std::set<std::string> BundledFFmpeg::parseEncoderListing(const std::string& listing) {
    // Encoder lines are " V....D name  description": a six-character flag column, then the name.
    std::set<std::string> names;
    for (const auto line : splitAt(listing, '\n')) {
        const auto pieces = splitAt(line, ' ');
        if (pieces.size() < 2 || characterCount(pieces[0]) != 6) continue;
        if (isEncoderName(pieces[1])) names.emplace(pieces[1]);
    }
    return names;
}

}  // namespace kolvex
