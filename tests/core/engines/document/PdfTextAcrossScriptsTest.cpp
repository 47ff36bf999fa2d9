// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <QString>

#include "DocumentTestSupport.h"
#include "core/engines/document/DocumentEngine.h"
#include "core/engines/document/OOXMLWriter.h"
#include "core/engines/document/RichDocument.h"
#include "core/engines/pdf/PopplerDocument.h"
#include "support/TempDir.h"

// Every character of a document's PDF reads back, in every script, through pdftotext and through
// our own PDF reader: whole Unicode blocks laid out as one document each, and a paragraph of each
// script that shapes (conjuncts, vowel signs, right-to-left), of emoji sequences and of
// characters beyond the Basic Multilingual Plane, from every source format.

namespace kolvex {
namespace {

using testing::documentJob;
using testing::TempDir;

std::u32string range(char32_t first, char32_t last, size_t perLine = 40) {
    std::u32string text;
    for (char32_t c = first; c <= last; ++c) {
        text.push_back(c);
        if ((c - first) % perLine == perLine - 1) text.push_back(U'\n');
    }
    return text;
}

struct Corpus {
    const char* name;
    std::u32string text;  // lines separated by "\n"
};

std::vector<Corpus> corpora() {
    std::u32string kana = range(0x3041, 0x3096) + U"\n" + range(0x309D, 0x309F) + U"\n" + range(0x30A1, 0x30FA) + U"\n" + range(0x30FC, 0x30FF);
    return {
        {"CJK Unified Ideographs", range(0x4E00, 0x9FFF)},
        {"CJK Extension A", range(0x3400, 0x4DBF)},
        {"Hangul syllables", range(0xAC00, 0xD7A3)},
        {"Kana", kana},
        {"Devanagari", U"हिन्दी भारत की राजभाषा है। क्षत्रिय, विद्यार्थी और श्रृंखला जैसे शब्दों में संयुक्ताक्षर होते हैं।\n"
                       U"प्रत्येक व्यक्ति को शिक्षा का अधिकार है; द्वार, स्त्री, ज्ञान, कृष्ण।"},
        {"Bengali", U"বাংলা ভাষা দক্ষিণ এশিয়ার একটি ইন্দো-আর্য ভাষা। ক্ষমা, স্ত্রী, জ্ঞান, রাষ্ট্র ও কৌতূহল।\n"
                    U"প্রত্যেক মানুষের শিক্ষার অধিকার রয়েছে।"},
        {"Tamil", U"தமிழ் ஒரு செம்மொழி ஆகும். கொண்டு, கோவில், பௌர்ணமி, ஸ்ரீ, க்ஷேத்திரம்.\n"
                  U"ஒவ்வொருவருக்கும் கல்வி பெறும் உரிமை உண்டு."},
        {"Thai", U"ภาษาไทยเป็นภาษาราชการของประเทศไทย น้ำใจ ที่นี่ ผู้ใหญ่ กำลัง เครื่องดื่ม\n"
                 U"ทุกคนมีสิทธิในการศึกษา"},
        {"Arabic", U"اللغة العربية من أكثر اللغات انتشاراً في العالم. لا إله، السلام عليكم، مدرسة.\n"
                   U"لكل شخص الحق في التعلم."},
        {"Hebrew", U"עברית היא שפה שמית. שָׁלוֹם עֲלֵיכֶם, ספר, ירושלים.\n"
                   U"לכל אדם הזכות לחינוך."},
        {"Emoji", U"😀 👍 👍🏽 👋🏿 🧑🏻‍💻 👩🏾‍🔬 👨‍👩‍👧‍👦 🏳️‍🌈 🏴‍☠️ ❤️ ☺️ 🇯🇵 🇫🇷 1️⃣ #️⃣ 🎉 🐈‍⬛\n"
                  U"Emoji in text: ok 👌🏼 and 🤝 done.\n"
                  U"Alone and in sequences: 🏴 and 🏴‍☠️, 👨 and 👨‍👩‍👧‍👦, ❤️ and ❤️‍🔥."},
        {"Beyond the BMP", U"𠮷野家 𩸽 𠀋 𪚲 𝄞 𝐀𝐁𝐂 🀄 𐌰𐌱 𓀀"},
    };
}

std::string utf8(const std::u32string& text) { return QString::fromStdU32String(text).toStdString(); }

// The text without whitespace and line breaks, and without the bidirectional embedding marks
// that pdftotext puts around right-to-left runs.
std::u32string withoutWhitespace(const std::string& text) {
    std::u32string out;
    for (const char32_t c : QString::fromStdString(text).toStdU32String())
        if (!QChar::isSpace(c) && !(c >= 0x202A && c <= 0x202E)) out.push_back(c);
    return out;
}

// The first place two texts differ and the characters of each that the other lacks.
std::string difference(const std::u32string& expected, const std::u32string& actual) {
    const auto [e, a] = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
    std::map<char32_t, int> counts;
    for (const char32_t c : expected) ++counts[c];
    for (const char32_t c : actual) --counts[c];
    std::u32string missing, extra;
    for (const auto& [c, n] : counts) {
        if (n > 0 && missing.size() < 40) missing.push_back(c);
        if (n < 0 && extra.size() < 40) extra.push_back(c);
    }
    const auto context = [](const std::u32string& text, std::u32string::const_iterator at) {
        const auto from = at - std::min<ptrdiff_t>(at - text.begin(), 8);
        return utf8(std::u32string(from, at + std::min<ptrdiff_t>(text.end() - at, 8)));
    };
    return "first difference at " + std::to_string(e - expected.begin()) + ": expected \"" + context(expected, e) + "\", read \"" +
           context(actual, a) + "\"; missing " + utf8(missing) + " ; not written " + utf8(extra) + " ; lengths " +
           std::to_string(expected.size()) + "/" + std::to_string(actual.size());
}

std::string htmlEscaped(const std::string& line) {
    std::string out;
    for (const char c : line) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else out += c;
    }
    return out;
}

std::string rtfOf(const std::u32string& text) {
    std::string rtf = R"({\rtf1\ansi\uc1 )";
    for (const QChar unit : QString::fromStdU32String(text)) {
        if (unit == QLatin1Char('\n')) rtf += "\\par\n";
        else if (unit.unicode() < 0x80) rtf += static_cast<char>(unit.unicode());
        else rtf += "\\u" + std::to_string(static_cast<int16_t>(unit.unicode())) + "?";
    }
    return rtf + "}";
}

// The source file of `text` in `format`.
// HTML paragraphs are left to right unless they say otherwise (as in a browser), and a
// right-to-left paragraph laid out left to right shows its closing full stop first: the
// right-to-left samples say so, as a Hebrew or Arabic page does.
std::filesystem::path writeSource(const TempDir& dir, const std::string& stem, const std::string& format, const std::u32string& text,
                                  bool rightToLeft) {
    const std::string lines = utf8(text);
    if (format == "docx") {
        const auto path = dir / (stem + ".docx");
        OOXMLWriter::write(*richDocument(StyledText(lines, testing::plainAttributes())), path);
        return path;
    }
    if (format == "rtf") return dir.write(stem + ".rtf", rtfOf(text));
    if (format == "html") {
        std::string html = "<html><head><meta charset=\"utf-8\"></head><body>";
        size_t from = 0;
        while (from <= lines.size()) {
            const size_t end = std::min(lines.find('\n', from), lines.size());
            html += std::string(rightToLeft ? "<p dir=\"rtl\">" : "<p>") + htmlEscaped(lines.substr(from, end - from)) + "</p>";
            from = end + 1;
        }
        return dir.write(stem + ".html", html + "</body></html>");
    }
    return dir.write(stem + "." + format, lines);
}

TEST(PdfTextAcrossScripts, EveryCharacterReadsBackFromEverySource) {
    if (!std::filesystem::exists("/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc")) GTEST_SKIP() << "the Noto fonts are not installed";
    if (!std::filesystem::exists("/usr/bin/pdftotext")) GTEST_SKIP() << "poppler-utils are not installed";
    TempDir dir;
    const DocumentEngine engine;
    const std::vector<Corpus> all = corpora();
    int index = 0;
    for (const Corpus& corpus : all) {
        const std::u32string expected = withoutWhitespace(utf8(corpus.text));
        for (const std::string format : {"txt", "md", "html", "rtf", "docx"}) {
            SCOPED_TRACE(std::string(corpus.name) + " from " + format);
            if (format == "docx" && !std::filesystem::exists(OOXMLWriter::tarPath())) continue;
            const std::string stem = "corpus" + std::to_string(index++);
            const bool rightToLeft = std::string_view(corpus.name) == "Arabic" || std::string_view(corpus.name) == "Hebrew";
            const auto source = writeSource(dir, stem, format, corpus.text, rightToLeft);
            const auto pdf = dir / (stem + ".pdf");
            engine.convert(documentJob(source, pdf, format, "pdf"), {}, {});
            const std::u32string extracted = withoutWhitespace(testing::pdfText(pdf).value_or(""));
            EXPECT_TRUE(extracted == expected) << "pdftotext: " << difference(expected, extracted);
            const PopplerDocument document = PopplerDocument::load(pdf);
            std::string ours;
            for (int page = 0; page < document.pageCount(); ++page) ours += document.pageText(page) + "\n";
            const std::u32string read = withoutWhitespace(ours);
            EXPECT_TRUE(read == expected) << "our reader: " << difference(expected, read);
        }
    }
}

// The same in lists and tables (which Qt draws itself), in bold and italic (which Qt may draw
// twice over, or slanted, where a font has no such face) and next to links. Right-to-left text
// has a page of its own: on a page that is mostly left to right, pdftotext gives a right-to-left
// line's words in the order they stand on the page, whoever wrote the PDF.
TEST(PdfTextAcrossScripts, ReadsBackInListsTablesAndStyledRuns) {
    if (!std::filesystem::exists("/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc")) GTEST_SKIP() << "the Noto fonts are not installed";
    if (!std::filesystem::exists("/usr/bin/pdftotext")) GTEST_SKIP() << "poppler-utils are not installed";
    const std::vector<Corpus> all = corpora();
    TempDir dir;
    for (const bool rightToLeft : {false, true}) {
        SCOPED_TRACE(rightToLeft ? "right to left" : "left to right");
        std::string html = "<html><head><meta charset=\"utf-8\"></head><body><ul>";
        std::u32string expected;
        int index = 0;
        for (const Corpus& corpus : all) {
            const bool isRightToLeft = std::string_view(corpus.name) == "Arabic" || std::string_view(corpus.name) == "Hebrew";
            if (corpus.text.size() > 2000 || isRightToLeft != rightToLeft) continue;
            const std::string text = htmlEscaped(utf8(corpus.text));
            const std::string li = rightToLeft ? "<li dir=\"rtl\">" : "<li>";
            switch (index++ % 4) {
            case 0: html += li + text + "</li>"; break;
            case 1: html += li + "<b>" + text + "</b></li>"; break;
            case 2: html += li + "<i>" + text + "</i></li><li><a href=\"https://example.org/\">link</a></li>"; break;
            default: html += li + "<table><tr><td" + (rightToLeft ? " dir=\"rtl\"" : "") + ">" + text + "</td></tr></table></li>"; break;
            }
            expected += withoutWhitespace(utf8(corpus.text));
            if (index % 4 == 3) expected += U"link";
        }
        html += "</ul></body></html>";
        const auto pdf = dir / (rightToLeft ? "rtl.pdf" : "ltr.pdf");
        DocumentEngine().convert(documentJob(dir.write("styled.html", html), pdf, "html", "pdf"), {}, {});
        std::u32string extracted;
        for (const char32_t c : withoutWhitespace(testing::pdfText(pdf).value_or("")))
            if (c != U'\u2022') extracted.push_back(c);  // the list's bullets
        EXPECT_TRUE(extracted == expected) << "pdftotext: " << difference(expected, extracted);
    }
}

}  // namespace
}  // namespace kolvex
