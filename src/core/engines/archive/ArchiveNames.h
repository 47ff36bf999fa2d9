// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kolvex {

// File names as each written format can carry them. On Linux a name is bytes, and archives made
// elsewhere hold names in Latin-1, Shift-JIS and the like. A tar keeps such bytes as they are; a
// ZIP keeps them too, but must not mark them as UTF-8 (readers then refuse or skip the entry);
// a 7-Zip archive stores names as UTF-16, where bytes that are not UTF-8 all become U+FFFD and
// two names that differ only there become one.
struct ArchiveNames {
    // `name` with every byte that does not begin a valid UTF-8 sequence written as "%XX" (two
    // upper-case hex digits); a valid name is returned unchanged.
    static std::string escaped(std::string_view name);

    // Renames every item below `folder` whose own name is not UTF-8 to its escaped form, with
    // " 2", " 3"… before the extension when that name is taken. Deepest items first, so renaming
    // a folder never strands its contents. Returns the new names (last components), in the order
    // they were renamed. A link whose target is not UTF-8 is given the escaped target, so it
    // still leads to the renamed item (unless that one had to be numbered). Throws
    // std::filesystem::filesystem_error when a rename fails.
    static std::vector<std::string> escapeNonUtf8(const std::filesystem::path& folder);

    // bsdtar marks every name beyond ASCII as UTF-8 in a ZIP it writes under a UTF-8 locale,
    // valid or not. Clears that mark, in the central directory and the local header, on every
    // entry whose name is not UTF-8, so its bytes are read as the legacy names they are. Returns
    // how many entries it changed. Throws std::system_error when the file cannot be read or
    // written, std::runtime_error when it is not a ZIP this writer makes sense of.
    static int clearFalseUtf8Marks(const std::filesystem::path& zip);
    // How many entries of a ZIP carry that false mark (bsdtar cannot unpack them); 0 also for
    // anything that is no ZIP or cannot be read. Never writes.
    static int countFalseUtf8Marks(const std::filesystem::path& zip) noexcept;

private:
    static int falseUtf8Marks(const std::filesystem::path& zip, bool clear);
};

}  // namespace kolvex
