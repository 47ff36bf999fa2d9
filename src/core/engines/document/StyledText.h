// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kolvex {

// A font as a run carries it: what the writers need to know, nothing more.
struct TextFont {
    enum class Design { regular, monospaced };

    Design design = Design::regular;
    double pointSize = 12;
    bool bold = false;
    bool italic = false;
    std::string family;  // a named family from the source ("Times New Roman"); empty: the system's

    static TextFont system(double pointSize = 12) { return TextFont{Design::regular, pointSize}; }
    static TextFont monospacedSystem(double pointSize) { return TextFont{Design::monospaced, pointSize}; }
    bool isMonospaced() const { return design == Design::monospaced; }
    bool operator==(const TextFont&) const = default;
};

// Meaning that inline Markdown gives a run. The Markdown reader also gives such runs the font
// that shows it (bold, italic, monospaced), which is what the writers use.
enum InlineIntent : uint8_t {
    kIntentNone = 0,
    kIntentEmphasis = 1,
    kIntentStrong = 2,
    kIntentCode = 4,
};

// The attributes of one run.
struct TextAttributes {
    std::optional<TextFont> font;  // none: the reader gave no font (Markdown), writers use the default
    std::optional<std::string> link;
    uint8_t intent = kIntentNone;
    bool underline = false;
    bool strike = false;
    std::optional<uint32_t> colour;  // 0xRRGGBB; none: the text's default colour

    bool bold() const { return font && font->bold; }
    bool italic() const { return font && font->italic; }
    bool operator==(const TextAttributes&) const = default;
};

// One stretch of text with one set of attributes. Line feeds inside the text end paragraphs.
struct TextRun {
    std::string text;  // UTF-8
    TextAttributes attributes;

    bool operator==(const TextRun&) const = default;
};

// Flat styled text, as the text-only readers (plain text, Markdown, CSV, RTF's text, a PDF's text
// layer) produce it before it becomes a rich document: UTF-8 text in runs of equal attributes,
// paragraphs separated by line feeds. Appending keeps runs maximal. A plain value; no thread
// affinity.
class StyledText {
public:
    StyledText() = default;
    StyledText(std::string text, TextAttributes attributes);

    // Appends text; merges with the last run when the attributes are equal. Empty text adds nothing.
    void append(std::string_view text, const TextAttributes& attributes);
    void append(const StyledText& other);

    // Removes spaces, tabs and line feeds at the end of the text.
    void trimTrailingWhitespace();

    const std::vector<TextRun>& runs() const { return m_runs; }
    // Every run's characters, in order.
    std::string plainText() const;
    bool empty() const { return m_runs.empty(); }
    // Byte length of the plain text.
    size_t size() const;

    // The runs split at line feeds: one entry per paragraph, each a list of runs without line feeds
    // (possibly empty). A trailing line feed ends the last paragraph without starting another.
    std::vector<std::vector<TextRun>> paragraphs() const;

    bool operator==(const StyledText&) const = default;

private:
    std::vector<TextRun> m_runs;
};

}  // namespace kolvex
