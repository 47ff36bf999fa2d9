// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/SymbolFonts.h"

#include <array>
#include <charconv>
#include <string>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "core/services/PathUtils.h"

namespace kolvex::symbol_fonts {

namespace {

// Adobe's Symbol encoding, 0x20 to 0x7E: ASCII signs where they agree, Greek for the letters.
constexpr std::u32string_view kSymbolLow =
    U" !∀#∃%&∋()∗+,−./0123456789:;<=>?≅ΑΒΧΔΕΦΓΗΙϑΚΛΜΝΟΠΘΡΣΤΥςΩΞΨΖ[∴]⊥_‾αβχδεφγηιϕκλμνοπθρστυϖωξψζ{|}∼";

struct Mapped {
    unsigned code;
    char32_t character;
};

// And above 0xA0: arrows, relations, sets, logic (the parts of large brackets left out).
constexpr std::array kSymbolHigh{
    Mapped{0xA0, U'€'}, Mapped{0xA1, U'ϒ'}, Mapped{0xA2, U'′'}, Mapped{0xA3, U'≤'}, Mapped{0xA4, U'⁄'}, Mapped{0xA5, U'∞'}, Mapped{0xA6, U'ƒ'}, Mapped{0xA7, U'♣'}, Mapped{0xA8, U'♦'}, Mapped{0xA9, U'♥'}, Mapped{0xAA, U'♠'}, Mapped{0xAB, U'↔'}, Mapped{0xAC, U'←'}, Mapped{0xAD, U'↑'}, Mapped{0xAE, U'→'}, Mapped{0xAF, U'↓'}, Mapped{0xB0, U'°'}, Mapped{0xB1, U'±'}, Mapped{0xB2, U'″'}, Mapped{0xB3, U'≥'}, Mapped{0xB4, U'×'}, Mapped{0xB5, U'∝'}, Mapped{0xB6, U'∂'}, Mapped{0xB7, U'•'}, Mapped{0xB8, U'÷'}, Mapped{0xB9, U'≠'}, Mapped{0xBA, U'≡'}, Mapped{0xBB, U'≈'}, Mapped{0xBC, U'…'}, Mapped{0xBF, U'↵'}, Mapped{0xC0, U'ℵ'}, Mapped{0xC1, U'ℑ'}, Mapped{0xC2, U'ℜ'}, Mapped{0xC3, U'℘'}, Mapped{0xC4, U'⊗'}, Mapped{0xC5, U'⊕'}, Mapped{0xC6, U'∅'}, Mapped{0xC7, U'∩'}, Mapped{0xC8, U'∪'}, Mapped{0xC9, U'⊃'}, Mapped{0xCA, U'⊇'}, Mapped{0xCB, U'⊄'}, Mapped{0xCC, U'⊂'}, Mapped{0xCD, U'⊆'}, Mapped{0xCE, U'∈'}, Mapped{0xCF, U'∉'}, Mapped{0xD0, U'∠'}, Mapped{0xD1, U'∇'}, Mapped{0xD2, U'®'}, Mapped{0xD3, U'©'}, Mapped{0xD4, U'™'}, Mapped{0xD5, U'∏'}, Mapped{0xD6, U'√'}, Mapped{0xD7, U'⋅'}, Mapped{0xD8, U'¬'}, Mapped{0xD9, U'∧'}, Mapped{0xDA, U'∨'}, Mapped{0xDB, U'⇔'}, Mapped{0xDC, U'⇐'}, Mapped{0xDD, U'⇑'}, Mapped{0xDE, U'⇒'}, Mapped{0xDF, U'⇓'}, Mapped{0xE0, U'◊'}, Mapped{0xE1, U'〈'}, Mapped{0xE2, U'®'}, Mapped{0xE3, U'©'}, Mapped{0xE4, U'™'}, Mapped{0xE5, U'∑'}, Mapped{0xF1, U'〉'}, Mapped{0xF2, U'∫'}, Mapped{0xF3, U'⌠'}, Mapped{0xF5, U'⌡'},
};

// Wingdings' ticks, crosses, boxes, bullets and pointers: what documents use it for.
constexpr std::array kWingdings{
    Mapped{0x46, U'☞'}, Mapped{0x4A, U'☺'}, Mapped{0x4B, U'😐'}, Mapped{0x4C, U'☹'}, Mapped{0x6C, U'●'},
    Mapped{0x6E, U'■'}, Mapped{0x6F, U'□'}, Mapped{0x71, U'❑'}, Mapped{0x75, U'◆'}, Mapped{0x76, U'❖'},
    Mapped{0x9F, U'•'}, Mapped{0xA7, U'▪'}, Mapped{0xA8, U'◻'}, Mapped{0xD8, U'➢'}, Mapped{0xE0, U'→'},
    Mapped{0xE8, U'➔'}, Mapped{0xEF, U'⇦'}, Mapped{0xF0, U'⇨'}, Mapped{0xFB, U'✗'}, Mapped{0xFC, U'✓'},
    Mapped{0xFD, U'☒'}, Mapped{0xFE, U'☑'},
};

}  // namespace

std::optional<char32_t> unicodeOf(std::string_view font, unsigned code) {
    if (code >= 0xF000 && code <= 0xF0FF) code -= 0xF000;
    if (code > 0xFF) return std::nullopt;
    const std::string name = paths::asciiLower(std::string(font));
    if (name == "symbol") {
        if (code >= 0x20 && code < 0x20 + kSymbolLow.size()) return kSymbolLow[code - 0x20];
        for (const Mapped& mapped : kSymbolHigh)
            if (mapped.code == code) return mapped.character;
        return std::nullopt;
    }
    if (name == "wingdings") {
        for (const Mapped& mapped : kWingdings)
            if (mapped.code == code) return mapped.character;
    }
    return std::nullopt;
}

std::optional<char32_t> unicodeOf(std::string_view font, std::string_view hexCode) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(hexCode.data(), hexCode.data() + hexCode.size(), value, 16);
    if (error != std::errc() || end != hexCode.data() + hexCode.size()) return std::nullopt;
    return unicodeOf(font, value);
}

std::string leftOutNote(int count, const std::set<std::string>& fonts) {
    const std::string from = fonts.empty() ? std::string() : fmt::format(" (from {})", fmt::join(fonts, ", "));
    return count == 1 ? fmt::format("A symbol{} could not be read and was left out.", from)
                      : fmt::format("{} symbols{} could not be read and were left out.", count, from);
}

}  // namespace kolvex::symbol_fonts
