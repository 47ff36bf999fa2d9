// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>

namespace kolvex {

// The encoder names ffmpeg programs listed, kept in the user's cache folder so that a program is
// asked once, and again only after it changed. An entry holds the program's path, size and
// modification time; a program that differs in any of them is listed afresh. The file keeps the
// last few programs (the bundled one and an override, say). A cache that cannot be read or
// written only costs a listing. Any thread, any number of processes: the file is replaced whole.
class EncoderListCache {
public:
    // The cache file in `folder` (made when first written).
    explicit EncoderListCache(std::filesystem::path folder);

    // $XDG_CACHE_HOME/kolvex when that is an absolute path, else ~/.cache/kolvex.
    static std::filesystem::path defaultFolder(
        const std::function<const char*(const char*)>& environment = nullptr);
    // The cache in defaultFolder().
    static const EncoderListCache& shared();

    // What `program` listed when it was last asked, when it is the same program still.
    std::optional<std::set<std::string>> load(const std::filesystem::path& program) const;
    // Remembers what `program` lists now; an empty list is not kept. Never throws.
    void store(const std::filesystem::path& program, const std::set<std::string>& names) const;

    // What an entry is kept under: the program's path, size and modification time in nanoseconds,
    // read through links. None when the program cannot be read.
    static std::optional<std::string> keyOf(const std::filesystem::path& program);

    const std::filesystem::path& file() const { return m_file; }

    // How many programs the file remembers.
    static constexpr size_t kEntries = 4;

private:
    std::filesystem::path m_file;
};

}  // namespace kolvex
