// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/OutputNaming.h"

#include <algorithm>
#include <memory>
#include <vector>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include "core/format/ConversionError.h"
#include "core/services/PathUtils.h"
#include "core/services/Utf8.h"

namespace kolvex {

namespace {

// Names that are not UTF-8 (Linux allows any bytes) are left as they are, byte for byte.
std::string composed(std::string_view text) {
    if (!isValidUtf8(text)) return std::string(text);
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) return std::string(text);
    icu::UnicodeString source = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    icu::UnicodeString result = nfc->normalize(source, status);
    if (U_FAILURE(status)) return std::string(text);
    std::string out;
    result.toUTF8String(out);
    return out;
}

std::string lowerCased(std::string_view text) {
    if (!isValidUtf8(text)) return paths::asciiLower(std::string(text));
    icu::UnicodeString value = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    value.toLower(icu::Locale::getRoot());
    std::string out;
    value.toUTF8String(out);
    return out;
}

// Byte offsets of every character (grapheme cluster) boundary of a UTF-8 text, 0 and size
// included. Text that is not UTF-8 has a boundary after every byte.
std::vector<std::size_t> characterBoundaries(std::string_view text) {
    std::vector<std::size_t> offsets;
    if (!isValidUtf8(text)) {
        for (std::size_t i = 0; i <= text.size(); ++i) offsets.push_back(i);
        return offsets;
    }
    // Creating a break iterator is costly; each thread keeps its own.
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) it.reset();
        return it;
    }();
    icu::UnicodeString value = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    if (!iterator) {
        // Fall back to code point boundaries: still never inside a character's bytes.
        for (std::size_t i = 0; i < text.size(); ++i) {
            if ((static_cast<uint8_t>(text[i]) & 0xC0) != 0x80) offsets.push_back(i);
        }
        offsets.push_back(text.size());
        return offsets;
    }
    iterator->setText(value);
    // Map UTF-16 boundaries back to UTF-8 byte offsets.
    std::size_t byteOffset = 0;
    int32_t unitOffset = 0;
    for (int32_t boundary = iterator->first(); boundary != icu::BreakIterator::DONE; boundary = iterator->next()) {
        while (unitOffset < boundary) {
            UChar32 c = value.char32At(unitOffset);
            byteOffset += static_cast<std::size_t>(U8_LENGTH(c));
            unitOffset += U16_LENGTH(c);
        }
        offsets.push_back(byteOffset);
    }
    iterator->setText(icu::UnicodeString());
    return offsets;
}

}  // namespace

const std::set<std::string>& OutputNaming::compoundExtensions() {
    static const std::set<std::string> extensions{"tar.gz",  "tar.bz2",  "tar.xz", "tar.zst",
                                                  "tar.lz", "tar.lzma", "tar.z"};
    return extensions;
}

std::string OutputNaming::stem(std::string_view name) {
    const std::string n = composed(name);
    const std::string lower = lowerCased(n);
    for (const std::string& extension : compoundExtensions()) {
        const std::string tail = "." + extension;
        if (lower.size() < tail.size() || lower.compare(lower.size() - tail.size(), tail.size(), tail) != 0) continue;
        const auto boundaries = characterBoundaries(n);
        const auto characters = static_cast<long>(boundaries.size()) - 1;
        const long keep = characters - static_cast<long>(tail.size());
        if (keep >= 1) return n.substr(0, boundaries[static_cast<std::size_t>(keep)]);
    }
    // The last extension, where a leading dot starts none.
    const auto dot = n.rfind('.');
    if (dot == std::string::npos || dot == 0) return n;
    std::string result = n.substr(0, dot);
    return result.empty() ? n : result;
}

std::string OutputNaming::filename(std::string_view stem, std::optional<int> suffix, std::string_view extension) {
    return filename(stem, "", suffix, extension);
}

std::string OutputNaming::filename(std::string_view stem, std::string_view label, std::optional<int> suffix,
                                   std::string_view extension) {
    std::string tail(label);
    if (suffix) tail += " " + std::to_string(*suffix);
    if (!extension.empty()) {
        tail += ".";
        tail += extension;
    }
    std::string kept(stem);
    if (kept.size() + tail.size() > maxFilenameBytes) {
        const auto boundaries = characterBoundaries(kept);
        std::size_t cut = 0;
        for (std::size_t boundary : boundaries) {
            if (boundary + tail.size() <= maxFilenameBytes) cut = boundary;
        }
        kept.resize(cut);
    }
    if (kept.empty()) kept = "file";
    std::string name = kept + tail;
    // "." and ".." name folders, never an output file.
    if (name == "." || name == "..") name = "file";
    return name;
}

std::string OutputNaming::cleanExtension(std::string_view extension) {
    while (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
    while (!extension.empty() && extension.back() == '.') extension.remove_suffix(1);
    return lowerCased(extension);
}

std::filesystem::path OutputNaming::destination(const std::filesystem::path& source, std::string_view extension,
                                                const std::optional<std::filesystem::path>& directory,
                                                const Exists& exists) {
    const std::filesystem::path folder = directory ? *directory : paths::deletingLastComponent(source);
    const std::string cleaned = cleanExtension(extension);
    const std::string base = stem(paths::lastComponent(source));
    const std::filesystem::path plain = folder / filename(base, std::nullopt, cleaned);
    if (!exists(plain)) return plain;
    for (int suffix = 2; suffix <= maxCollisionAttempts; ++suffix) {
        std::filesystem::path candidate = folder / filename(base, suffix, cleaned);
        if (!exists(candidate)) return candidate;
    }
    throw ConversionError::outputNameUnavailable(plain);
}

std::vector<std::filesystem::path> OutputNaming::partNames(const std::filesystem::path& destination, int count,
                                                           const Exists& exists) {
    const std::filesystem::path folder = paths::deletingLastComponent(destination);
    const std::string extension = paths::extension(destination);
    const std::string base = paths::stem(destination);
    const auto named = [&](std::optional<int> suffix) {
        std::vector<std::filesystem::path> names;
        // A long name loses characters of its stem, never the part label that tells parts apart.
        for (int number = 1; number <= count; ++number)
            names.push_back(folder / filename(base, " part " + std::to_string(number), suffix, extension));
        return names;
    };
    for (int suffix = 1; suffix <= maxCollisionAttempts; ++suffix) {
        auto names = named(suffix == 1 ? std::nullopt : std::optional(suffix));
        if (std::none_of(names.begin(), names.end(), exists)) return names;
    }
    throw ConversionError::outputNameUnavailable(named(std::nullopt).front());
}

std::vector<std::filesystem::path> OutputNaming::successors(const std::filesystem::path& taken, bool withExtension,
                                                            const Exists& exists) {
    const std::filesystem::path folder = paths::deletingLastComponent(taken);
    const std::string name = paths::lastComponent(taken);
    std::string base = name;
    std::string extension;
    if (withExtension) {
        const std::string cut = stem(name);
        if (cut.size() < name.size() && name.compare(0, cut.size(), cut) == 0 && name[cut.size()] == '.') {
            base = cut;
            extension = name.substr(cut.size() + 1);
        }
    }
    int first = 2;
    // "photo 2" was numbered when "photo" is there as well: go on from its number.
    const auto blank = base.rfind(' ');
    if (blank != std::string::npos && blank > 0 && blank + 1 < base.size() && base[blank + 1] != '0' &&
        base.size() - blank - 1 <= 3 && base.find_first_not_of("0123456789", blank + 1) == std::string::npos) {
        const int number = std::stoi(base.substr(blank + 1));
        const std::string plainStem = base.substr(0, blank);
        if (number >= 2 && exists(folder / filename(plainStem, std::nullopt, extension))) {
            base = plainStem;
            first = number + 1;
        }
    }
    std::vector<std::filesystem::path> names;
    for (int suffix = first; suffix <= maxCollisionAttempts; ++suffix) {
        std::filesystem::path candidate = folder / filename(base, suffix, extension);
        if (candidate != taken) names.push_back(std::move(candidate));
    }
    return names;
}

}  // namespace kolvex
