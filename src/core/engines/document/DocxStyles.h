// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <pugixml.hpp>

#include <QTextListFormat>

// What a word-processing package's styles and numbering parts say about runs, paragraphs and
// lists, for the DOCX reader. Plain values; pure; safe from any thread.
namespace kolvex::docx {

// The name without its namespace prefix ("w:p" → "p").
std::string_view localName(const char* qualified);
// The value of the attribute with this local name ("" when absent).
std::string_view attributeValue(const pugi::xml_node& node, std::string_view name);
// The first child element with this local name.
pugi::xml_node childNamed(const pugi::xml_node& node, std::string_view name);

// How a run looks once every level of the style hierarchy has been applied.
struct RunStyle {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    bool monospaced = false;
    bool hidden = false;  // w:vanish: the reader does not see it, so no output shows it
    double pointSize = 12;
    std::string family;
    std::optional<uint32_t> colour;  // 0xRRGGBB
};

// Run properties as one level of the hierarchy states them; unset ones come from below.
struct RunProperties {
    std::optional<bool> bold;
    std::optional<bool> italic;
    std::optional<bool> underline;
    std::optional<bool> strike;
    std::optional<bool> hidden;
    std::optional<double> pointSize;
    std::optional<std::string> family;
    std::optional<std::optional<uint32_t>> colour;  // set to none: "auto"

    static RunProperties of(const pugi::xml_node& rPr);
    void applyTo(RunStyle& style) const;
};

// A list membership: which numbering instance, at which level.
struct ListReference {
    int numId = 0;
    int level = 0;
};

// What a paragraph style says of its paragraphs.
struct ParagraphStyle {
    int headingLevel = 0;  // 1…6; 0: body text
    std::optional<ListReference> list;
};

// The paragraph and character styles of styles.xml.
class StyleSheet {
public:
    StyleSheet() = default;
    explicit StyleSheet(const pugi::xml_node& styles);

    // The style a run starts from: document defaults, then the paragraph's style chain.
    RunStyle paragraphBase(std::string_view paragraphStyle) const;
    // Applies a style and the styles it is based on, the base first. Cycles and long chains stop.
    void apply(std::string_view id, RunStyle& style) const;
    // Heading level and list of a paragraph style, through its chain.
    ParagraphStyle paragraph(std::string_view paragraphStyle) const;

private:
    struct Style {
        std::string basedOn;
        RunProperties properties;
        int headingLevel = 0;
        std::optional<ListReference> list;
    };
    RunProperties m_defaults;
    std::string m_defaultParagraph;
    std::map<std::string, Style> m_styles;

    std::string_view resolve(std::string_view id) const;
};

// The numbering part: the list style of each numbering instance and level.
class Numbering {
public:
    Numbering() = default;
    explicit Numbering(const pugi::xml_node& numbering);

    // None for a level that shows no marker ("none"), or an unknown instance.
    std::optional<QTextListFormat::Style> style(const ListReference& reference) const;

private:
    std::map<int, int> m_abstractOf;                           // numId → abstractNumId
    std::map<std::pair<int, int>, std::string> m_formats;      // (abstractNumId, level) → numFmt
};

}  // namespace kolvex::docx
