// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kolvex {

// A random identifier; its text form is upper-case, as job ids and probe names expect.
class Uuid {
public:
    static Uuid random();
    std::string toString() const;

    bool operator==(const Uuid&) const = default;
    auto operator<=>(const Uuid&) const = default;

private:
    std::array<uint8_t, 16> m_bytes{};
};

}  // namespace kolvex

template <>
struct std::hash<kolvex::Uuid> {
    size_t operator()(const kolvex::Uuid& id) const noexcept { return std::hash<std::string>{}(id.toString()); }
};
