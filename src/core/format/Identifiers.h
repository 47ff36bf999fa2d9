// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace kolvex {

// A string-backed identifier: equality, hashing and text are those of the raw string.
template <typename Tag>
struct StringIdentifier {
    std::string rawValue;

    StringIdentifier() = default;
    explicit StringIdentifier(std::string raw) : rawValue(std::move(raw)) {}
    StringIdentifier(const char* raw) : rawValue(raw) {}  // NOLINT: literal ids read naturally

    const std::string& description() const { return rawValue; }
    bool operator==(const StringIdentifier&) const = default;
    auto operator<=>(const StringIdentifier&) const = default;
};

template <typename Tag>
std::ostream& operator<<(std::ostream& os, const StringIdentifier<Tag>& id) {
    return os << id.rawValue;
}

struct FormatIDTag {};
struct EngineIDTag {};

// Identifier of a format: the manifest's format id ("webm", "png", "pdf").
using FormatID = StringIdentifier<FormatIDTag>;
// Identifier of a conversion engine ("image", "ffmpeg", …).
using EngineID = StringIdentifier<EngineIDTag>;

}  // namespace kolvex

template <typename Tag>
struct std::hash<kolvex::StringIdentifier<Tag>> {
    size_t operator()(const kolvex::StringIdentifier<Tag>& id) const noexcept {
        return std::hash<std::string>{}(id.rawValue);
    }
};
