// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/PdfTextDocument.h"

#include <algorithm>
#include <vector>

#include "core/engines/document/DocumentFormatError.h"
#include "core/engines/document/OOXMLWriter.h"
#include "core/engines/document/RichDocument.h"
#include "core/engines/document/StyledText.h"
#include "core/engines/document/TextWriters.h"
#include "core/engines/document/UnicodeText.h"
#include "core/format/ConversionError.h"
#include "core/services/PathUtils.h"
#include "core/services/StagedOutput.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSentenceEnds[] = {".", "!", "?", ":", ";", "\u201D", "\"", ")", "]"};
constexpr std::string_view kBullets[] = {"\u2022", "\u2023", "\u25E6", "-", "\u2013", "\u2014", "*", "\u00B7"};
constexpr std::string_view kRomanNumerals = "ivxlcIVXLC";

template <size_t N>
bool isOneOf(std::string_view character, const std::string_view (&set)[N]) {
    return std::find(std::begin(set), std::end(set), character) != std::end(set);
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (;;) {
        const size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos) {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, lf - start));
        start = lf + 1;
    }
}

// The paragraph being built, with the two facts about it that the rules ask on every line.
struct Paragraph {
    std::string text;
    size_t characters = 0;
    bool doubleSpace = false;

    bool empty() const { return text.empty(); }
    void start(std::string_view t) {
        text.assign(t);
        characters = unicode::characterCount(t);
        doubleSpace = t.find("  ") != std::string_view::npos;
    }
};

}  // namespace

bool PdfTextDocument::startsNewBlock(std::string_view line) {
    const std::string_view s = unicode::trimSpacesAndTabs(line);
    if (s.empty()) return true;
    const std::string_view first = unicode::firstCharacter(s);
    if (isOneOf(first, kBullets)) return true;
    if (!unicode::isNumber(first) && unicode::isLowercase(first)) return false;

    // The first six characters.
    size_t prefixBytes = 0;
    {
        unicode::GraphemeWalker walker(s);
        std::string_view character;
        for (int i = 0; i < 6 && walker.next(character); ++i) prefixBytes += character.size();
    }
    const std::string_view p = s.substr(0, prefixBytes);
    if (p.find(". ") == std::string_view::npos && p.find(") ") == std::string_view::npos) return false;
    const std::string_view marker = p.substr(0, p.find_first_of(".)"));
    if (marker.empty()) return true;
    unicode::GraphemeWalker walker(marker);
    std::string_view character;
    while (walker.next(character)) {
        const bool roman = character.size() == 1 && kRomanNumerals.find(character[0]) != std::string_view::npos;
        if (!roman && !unicode::isNumber(character)) return false;
    }
    return true;
}

std::string PdfTextDocument::reflow(std::string_view input) {
    std::string text(input);
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
    const std::vector<std::string_view> lines = splitLines(text);

    std::vector<size_t> lengths;
    lengths.reserve(lines.size());
    for (std::string_view line : lines) {
        const size_t n = unicode::characterCount(line);
        if (n > 0) lengths.push_back(n);
    }
    if (lengths.empty()) return std::string(input);
    std::sort(lengths.begin(), lengths.end());
    const size_t p90 = lengths[static_cast<size_t>(0.9 * static_cast<double>(lengths.size()))];
    const size_t threshold = std::max<size_t>(static_cast<size_t>(static_cast<double>(p90) * 0.82), 24);

    std::vector<std::string> paragraphs;
    Paragraph current;
    auto flush = [&] {
        const std::string_view trimmed = unicode::trimSpacesAndTabs(current.text);
        if (!trimmed.empty()) paragraphs.emplace_back(trimmed);
        current = Paragraph{};
    };

    for (std::string_view line : lines) {
        const std::string_view t = unicode::trimSpacesAndTabs(line);
        if (t.empty()) {
            flush();
            continue;
        }
        if (current.empty()) {
            current.start(t);
            continue;
        }
        const std::string_view trimmedCurrent = unicode::trimSpacesAndTabs(current.text);
        const bool newParagraph = trimmedCurrent.empty() || isOneOf(unicode::lastCharacter(trimmedCurrent), kSentenceEnds) ||
                                  current.characters < threshold || current.doubleSpace ||
                                  line.find("  ") != std::string_view::npos || startsNewBlock(t);
        if (newParagraph) {
            flush();
            current.start(t);
            continue;
        }
        if (unicode::lastCharacter(current.text) == "-" && unicode::isLowercase(unicode::firstCharacter(t))) {
            // A word broken at the line end is mended.
            current.text.pop_back();
            current.text.append(t);
            current.characters = current.characters - 1 + unicode::characterCount(t);
        } else {
            current.text += ' ';
            current.text.append(t);
            current.characters += 1 + unicode::characterCount(t);
        }
        current.doubleSpace = current.doubleSpace || t.find("  ") != std::string_view::npos;
    }
    flush();

    std::string out;
    for (size_t i = 0; i < paragraphs.size(); ++i) {
        if (i > 0) out += "\n\n";
        out += paragraphs[i];
    }
    return out;
}

fs::path PdfTextDocument::write(const ConversionJob& job, const std::string& pagesText, const ProgressCallback&, std::stop_token stop) {
    const std::string reflowed = reflow(pagesText);
    const std::string& target = job.to.id.rawValue;
    if (target == "txt") {
        return StagedOutput::writeAtomically(job.destination, reflowed);
    }
    TextAttributes attributes;
    attributes.font = TextFont::system(11);
    std::unique_ptr<RichDocument> document;
    try {
        document = richDocument(StyledText(reflowed, attributes));
    } catch (const DocumentLimitError& limit) {
        throw ConversionError::unsupportedCombination(limit.what(), job.to.label);
    }

    if (target == "md") return StagedOutput::writeAtomically(job.destination, text_writers::markdown(*document));
    if (target == "docx") return OOXMLWriter::write(*document, job.destination, std::move(stop));
    if (target == "html") {
        const std::string page = text_writers::html(*document, paths::stem(job.destination));
        return StagedOutput::writeAtomically(job.destination, text_writers::insertViewport(page, true));
    }
    if (target == "rtf") return StagedOutput::writeAtomically(job.destination, text_writers::rtf(*document));
    throw ConversionError::unsupportedCombination(job.from.label, job.to.label);
}

}  // namespace kolvex
