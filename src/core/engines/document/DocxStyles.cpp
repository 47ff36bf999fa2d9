// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/DocxStyles.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <vector>

namespace kolvex::docx {

namespace {

// "w:val" absent or anything but a false word means on.
bool toggleValue(const pugi::xml_node& property) {
    for (const pugi::xml_attribute& attribute : property.attributes()) {
        if (localName(attribute.name()) != "val") continue;
        const std::string_view value = attribute.value();
        return !(value == "0" || value == "false" || value == "off" || value == "none");
    }
    return true;
}

int intValue(std::string_view text, int fallback = 0) {
    int value = fallback;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() ? value : fallback;
}

std::optional<uint32_t> hexColour(std::string_view text) {
    if (text.size() != 6) return std::nullopt;
    uint32_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<ListReference> listReference(const pugi::xml_node& pPr) {
    const pugi::xml_node numPr = childNamed(pPr, "numPr");
    if (!numPr) return std::nullopt;
    const pugi::xml_node numId = childNamed(numPr, "numId");
    if (!numId) return std::nullopt;
    ListReference reference;
    reference.numId = intValue(attributeValue(numId, "val"));
    reference.level = std::clamp(intValue(attributeValue(childNamed(numPr, "ilvl"), "val")), 0, 8);
    return reference;
}

// "Heading 2" / "heading 2" / "Heading2" → 2; "Title" → 1.
int headingLevelOfName(std::string_view name) {
    std::string lower;
    for (char c : name)
        if (c != ' ') lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "title") return 1;
    if (lower.size() == 8 && lower.starts_with("heading") && lower[7] >= '1' && lower[7] <= '9') return std::min(lower[7] - '0', 6);
    return 0;
}

}  // namespace

std::string_view localName(const char* qualified) {
    std::string_view name(qualified);
    const size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

std::string_view attributeValue(const pugi::xml_node& node, std::string_view name) {
    for (const pugi::xml_attribute& attribute : node.attributes())
        if (localName(attribute.name()) == name) return attribute.value();
    return {};
}

pugi::xml_node childNamed(const pugi::xml_node& node, std::string_view name) {
    for (const pugi::xml_node& child : node.children())
        if (localName(child.name()) == name) return child;
    return {};
}

RunProperties RunProperties::of(const pugi::xml_node& rPr) {
    RunProperties p;
    for (const pugi::xml_node& property : rPr.children()) {
        const std::string_view name = localName(property.name());
        if (name == "b") p.bold = toggleValue(property);
        else if (name == "i") p.italic = toggleValue(property);
        else if (name == "u") p.underline = toggleValue(property);
        else if (name == "strike" || name == "dstrike") p.strike = toggleValue(property);
        else if (name == "vanish") p.hidden = toggleValue(property);
        else if (name == "sz") {
            const int halfPoints = intValue(attributeValue(property, "val"));
            if (halfPoints >= 2 && halfPoints <= 3276) p.pointSize = halfPoints / 2.0;
        } else if (name == "rFonts") {
            std::string_view family = attributeValue(property, "ascii");
            if (family.empty()) family = attributeValue(property, "hAnsi");
            if (!family.empty()) p.family = std::string(family);
        } else if (name == "color") {
            const std::string_view value = attributeValue(property, "val");
            p.colour = value == "auto" ? std::optional<uint32_t>() : hexColour(value);
        }
    }
    return p;
}

void RunProperties::applyTo(RunStyle& style) const {
    static const char* const kMonospaced[] = {"Courier", "Mono", "Menlo", "Monaco", "Consolas", "Code", "Fixed"};
    if (bold) style.bold = *bold;
    if (italic) style.italic = *italic;
    if (underline) style.underline = *underline;
    if (strike) style.strike = *strike;
    if (hidden) style.hidden = *hidden;
    if (pointSize) style.pointSize = *pointSize;
    if (colour) style.colour = *colour;
    if (family) {
        style.family = *family;
        style.monospaced = std::any_of(std::begin(kMonospaced), std::end(kMonospaced),
                                       [&](const char* mark) { return family->find(mark) != std::string::npos; });
    }
}

StyleSheet::StyleSheet(const pugi::xml_node& styles) {
    for (const pugi::xml_node& child : styles.children()) {
        const std::string_view name = localName(child.name());
        if (name == "docDefaults") {
            if (pugi::xml_node rPr = childNamed(childNamed(child, "rPrDefault"), "rPr")) m_defaults = RunProperties::of(rPr);
        } else if (name == "style") {
            const std::string_view type = attributeValue(child, "type");
            if (type != "paragraph" && type != "character") continue;
            Style style;
            style.basedOn = std::string(attributeValue(childNamed(child, "basedOn"), "val"));
            if (pugi::xml_node rPr = childNamed(child, "rPr")) style.properties = RunProperties::of(rPr);
            const std::string id(attributeValue(child, "styleId"));
            if (type == "paragraph") {
                const pugi::xml_node pPr = childNamed(child, "pPr");
                style.headingLevel = headingLevelOfName(attributeValue(childNamed(child, "name"), "val"));
                if (!style.headingLevel) style.headingLevel = headingLevelOfName(id);
                if (const pugi::xml_node outline = childNamed(pPr, "outlineLvl"); outline && !style.headingLevel) {
                    const int level = intValue(attributeValue(outline, "val"), 9);
                    if (level < 6) style.headingLevel = level + 1;
                }
                style.list = listReference(pPr);
                const std::string_view isDefault = attributeValue(child, "default");
                if (isDefault == "1" || isDefault == "true") m_defaultParagraph = id;
            }
            m_styles[id] = std::move(style);
        }
    }
}

std::string_view StyleSheet::resolve(std::string_view id) const {
    return id.empty() ? std::string_view(m_defaultParagraph) : id;
}

RunStyle StyleSheet::paragraphBase(std::string_view paragraphStyle) const {
    RunStyle style;
    m_defaults.applyTo(style);
    apply(resolve(paragraphStyle), style);
    return style;
}

void StyleSheet::apply(std::string_view id, RunStyle& style) const {
    std::vector<const RunProperties*> chain;
    std::string current(id);
    for (int depth = 0; depth < 32 && !current.empty(); ++depth) {
        auto found = m_styles.find(current);
        if (found == m_styles.end()) break;
        chain.push_back(&found->second.properties);
        current = found->second.basedOn;
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) (*it)->applyTo(style);
}

ParagraphStyle StyleSheet::paragraph(std::string_view paragraphStyle) const {
    ParagraphStyle out;
    std::string current(resolve(paragraphStyle));
    // The nearest style in the chain that says something wins.
    for (int depth = 0; depth < 32 && !current.empty(); ++depth) {
        auto found = m_styles.find(current);
        if (found == m_styles.end()) break;
        if (!out.headingLevel) out.headingLevel = found->second.headingLevel;
        if (!out.list) out.list = found->second.list;
        current = found->second.basedOn;
    }
    return out;
}

Numbering::Numbering(const pugi::xml_node& numbering) {
    for (const pugi::xml_node& child : numbering.children()) {
        const std::string_view name = localName(child.name());
        if (name == "abstractNum") {
            const int id = intValue(attributeValue(child, "abstractNumId"), -1);
            for (const pugi::xml_node& level : child.children()) {
                if (localName(level.name()) != "lvl") continue;
                const int ilvl = intValue(attributeValue(level, "ilvl"));
                m_formats[{id, ilvl}] = std::string(attributeValue(childNamed(level, "numFmt"), "val"));
            }
        } else if (name == "num") {
            m_abstractOf[intValue(attributeValue(child, "numId"), -1)] = intValue(attributeValue(childNamed(child, "abstractNumId"), "val"), -1);
        }
    }
}

std::optional<QTextListFormat::Style> Numbering::style(const ListReference& reference) const {
    // numId 0 means "no list" (it removes a list a style gave).
    if (reference.numId == 0) return std::nullopt;
    auto abstract = m_abstractOf.find(reference.numId);
    std::string format;
    if (abstract != m_abstractOf.end()) {
        auto found = m_formats.find({abstract->second, reference.level});
        if (found != m_formats.end()) format = found->second;
    }
    if (format == "none") return std::nullopt;
    if (format == "bullet" || format.empty()) {
        static const QTextListFormat::Style kBullets[] = {QTextListFormat::ListDisc, QTextListFormat::ListCircle, QTextListFormat::ListSquare};
        return kBullets[reference.level % 3];
    }
    if (format == "lowerLetter") return QTextListFormat::ListLowerAlpha;
    if (format == "upperLetter") return QTextListFormat::ListUpperAlpha;
    if (format == "lowerRoman") return QTextListFormat::ListLowerRoman;
    if (format == "upperRoman") return QTextListFormat::ListUpperRoman;
    return QTextListFormat::ListDecimal;
}

}  // namespace kolvex::docx
