// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/DocxRelationships.h"

#include "core/engines/document/DocumentFormatError.h"
#include "core/engines/document/DocxStyles.h"

namespace kolvex::docx {

std::string partName(std::string_view source, std::string_view target) {
    if (target.starts_with('/')) return std::string(target.substr(1));
    const size_t slash = source.rfind('/');
    std::string path = (slash == std::string_view::npos ? std::string() : std::string(source.substr(0, slash + 1))) +
                       std::string(target);
    // "word/../media/x.png" is "media/x.png".
    while (true) {
        const size_t up = path.find("/../");
        if (up == std::string::npos) break;
        const size_t parent = path.rfind('/', up == 0 ? 0 : up - 1);
        path.erase(parent == std::string::npos ? 0 : parent + 1, up + 4 - (parent == std::string::npos ? 0 : parent + 1));
    }
    return path;
}

pugi::xml_document parsePart(std::string_view xml, const char* what) {
    pugi::xml_document document;
    // No parse_doctype: a DTD is skipped, never read, and no entity beyond XML's own is expanded.
    // A run's text that is only white space (a space between two styled words) is text.
    const unsigned options = (pugi::parse_default & ~pugi::parse_doctype) | pugi::parse_ws_pcdata_single;
    const pugi::xml_parse_result result = document.load_buffer(xml.data(), xml.size(), options, pugi::encoding_auto);
    if (!result) throw DocumentFormatError(std::string("the ") + what + " is not well-formed XML: " + result.description());
    return document;
}

Relationships Relationships::parse(std::string_view xml, std::string_view source) {
    Relationships relationships;
    if (xml.empty()) return relationships;
    const pugi::xml_document rels = parsePart(xml, "relationships part");
    for (const pugi::xml_node& relationship : rels.first_child().children()) {
        const std::string_view type = attributeValue(relationship, "Type");
        const std::string id(attributeValue(relationship, "Id"));
        const std::string_view target = attributeValue(relationship, "Target");
        if (type.ends_with("/hyperlink")) relationships.links[id] = std::string(target);
        else if (type.ends_with("/image")) relationships.images[id] = partName(source, target);
    }
    return relationships;
}

}  // namespace kolvex::docx
