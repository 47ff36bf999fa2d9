// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <string>
#include <string_view>

#include <pugixml.hpp>

// The relationships of one part of a word-processing package, for the DOCX reader: each part
// (the body, the footnotes, the endnotes) names its links and pictures in a relationships part of
// its own, and the same id means different things in two of them. Plain values; pure; safe from
// any thread.
namespace kolvex::docx {

struct Relationships {
    std::map<std::string, std::string> links;   // id → URL
    std::map<std::string, std::string> images;  // id → part name ("word/media/image1.png")

    // The relationships part `xml` of the part `source` ("word/footnotes.xml"); none for an empty
    // text. Targets are resolved against the source's folder. Throws DocumentFormatError when the
    // XML is not well-formed.
    static Relationships parse(std::string_view xml, std::string_view source);
};

// The part that `target`, as a relationship of `source` names it, points at: relative to the
// source's folder ("../media/x.png" from "word/document.xml" is "media/x.png"), or absolute.
std::string partName(std::string_view source, std::string_view target);

// A package part parsed without a DTD, so that no entity beyond XML's own is expanded. Throws
// DocumentFormatError naming `what` when the XML is not well-formed.
pugi::xml_document parsePart(std::string_view xml, const char* what);

}  // namespace kolvex::docx
