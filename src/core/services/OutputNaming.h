// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kolvex {

// What an output file is called: the source's stem, an optional number, the target's
// extension, within the file-name byte limit. Stateless; any thread.
struct OutputNaming {
    // Largest output name in UTF-8 bytes.
    static constexpr std::size_t maxFilenameBytes = 255;
    // Highest number tried for a free name (" 2" … " 999").
    static constexpr int maxCollisionAttempts = 999;

    // Extensions removed whole from a name: "tar.gz", "tar.bz2", "tar.xz", …
    static const std::set<std::string>& compoundExtensions();

    // The name without its extension, in composed (NFC) form. A compound extension goes whole
    // ("Backup.TAR.GZ" → "Backup"); a leading dot starts no extension (".hidden" stays).
    static std::string stem(std::string_view name);

    // stem + " <suffix>" + "." + extension, the stem shortened by whole characters until the
    // name fits in maxFilenameBytes; an empty stem becomes "file".
    static std::string filename(std::string_view stem, std::optional<int> suffix, std::string_view extension);
    // The same with `label` (" part 2") after the stem, kept whole like the number and extension.
    static std::string filename(std::string_view stem, std::string_view label, std::optional<int> suffix,
                                std::string_view extension);

    // The extension without leading or trailing dots, lower-cased (".JPG" → "jpg").
    static std::string cleanExtension(std::string_view extension);

    using Exists = std::function<bool(const std::filesystem::path&)>;

    // The first name not taken in `directory` (else the source's own folder): the plain name,
    // then numbers 2 … 999. Throws ConversionError::outputNameUnavailable with the plain name.
    static std::filesystem::path destination(const std::filesystem::path& source, std::string_view extension,
                                             const std::optional<std::filesystem::path>& directory,
                                             const Exists& exists);

    // The names of a split's `count` parts beside `destination`, "<stem> part 1.<ext>" …: one
    // set, every part plain or every part with the same number (" part 1 2", " part 2 2" …), the
    // first of those sets whose names are all free, so that the parts stay together in a
    // listing. Throws ConversionError::outputNameUnavailable with the first part's plain name.
    static std::vector<std::filesystem::path> partNames(const std::filesystem::path& destination, int count,
                                                        const Exists& exists);

    // The names to try, in order, when `taken` was free when chosen but another writer took it
    // first: the numbers after its own (" 3" … after "photo 2.jpg", when "photo.jpg" is there
    // too, as when the number was given to step round it), else " 2" … after the whole stem; up
    // to maxCollisionAttempts. A folder's name (`withExtension` false) is numbered whole.
    static std::vector<std::filesystem::path> successors(const std::filesystem::path& taken, bool withExtension,
                                                         const Exists& exists);
};

}  // namespace kolvex
