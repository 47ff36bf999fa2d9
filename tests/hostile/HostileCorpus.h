// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kolvex::testing {

// What a file of the corpus is, and therefore what a conversion of it must end in.
enum class Expectation {
    succeeds,  // a sound file: must convert
    fails,     // not what its name says (text, empty, a pixel bomb): must fail cleanly
    either,    // damaged: a clean error or a correct output
};

struct CorpusFile {
    std::filesystem::path path;
    std::string target;  // the format id it is converted to
    Expectation expectation = Expectation::either;
};

// Makes the hostile corpus in `folder` at test time: sound seeds made with ffmpeg's lavfi sources
// and literal text, then truncated, corrupted, emptied and disguised variants, a pixel bomb and
// sound files under awkward names. Only formats whose engine is present are made. Throws
// std::runtime_error when ffmpeg cannot make a seed.
std::vector<CorpusFile> makeHostileCorpus(const std::filesystem::path& folder, bool withFFmpeg, bool withDocuments);

// The sound seeds by kind ("png", "jpg", "mp4", "wav", "mp3", "pdf", "txt", "zip"), made in `folder`.
std::map<std::string, std::filesystem::path> makeSeeds(const std::filesystem::path& folder, bool withFFmpeg);

// A PNG whose header declares `width` × `height` pixels, with a tiny valid-looking body.
std::string pixelBombPng(uint32_t width, uint32_t height);

// Every item below a folder with a fingerprint of its content (files) — to tell what appeared,
// vanished or changed between two moments.
struct FolderSnapshot {
    struct Item {
        bool isDirectory = false;
        uintmax_t size = 0;
        uint64_t contentHash = 0;
        bool operator==(const Item&) const = default;
    };
    std::map<std::filesystem::path, Item> items;

    static FolderSnapshot of(const std::filesystem::path& folder);
};

// Whether a file is a well-formed output of the format id, by its leading bytes and size; why not.
std::optional<std::string> outputProblem(const std::filesystem::path& file, const std::string& formatID);

}  // namespace kolvex::testing
