#include "core/engines/document/TextWriters.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include <fmt/format.h>

#include "core/engines/document/UnicodeText.h"

namespace kolvex::text_writers {

namespace {

constexpr std::string_view kViewport = R"(<meta name="viewport" content="width=device-width, initial-scale=1">)";

bool isNewlineScalar(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

std::string_view trimNewlines(std::string_view text) {
    const auto all = unicode::scalars(text);
    size_t begin = 0;
    size_t end = text.size();
    // Walk scalars from the front.
    size_t offset = 0;
    for (char32_t c : all) {
        if (!isNewlineScalar(c)) break;
        std::string encoded;
        unicode::appendUtf8(encoded, c);
        offset += encoded.size();
    }
    begin = offset;
    for (auto it = all.rbegin(); it != all.rend() && end > begin; ++it) {
        if (!isNewlineScalar(*it)) break;
        std::string encoded;
        unicode::appendUtf8(encoded, *it);
        end -= encoded.size();
    }
    return text.substr(begin, end - begin);
}

std::string formatSize(double points) {
    // Whole sizes without a fraction; others with at most two decimals. fmt is locale-free.
    if (std::abs(points - std::round(points)) < 0.005) return fmt::format("{}", static_cast<long>(std::lround(points)));
    std::string s = fmt::format("{:.2f}", points);
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

void appendRtfText(std::string& out, std::string_view text) {
    for (char32_t c : unicode::scalars(text)) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '{': out += "\\{"; break;
        case '}': out += "\\}"; break;
        case '\t': out += "\\tab "; break;
        case '\n': out += "\\par\n"; break;
        default:
            if (c < 0x20) break;  // carriage returns and other controls have no RTF text form
            if (c < 0x80) {
                out += static_cast<char>(c);
            } else if (c < 0x10000) {
                out += fmt::format("\\u{}?", static_cast<int16_t>(static_cast<uint16_t>(c)));
            } else {
                const char32_t v = c - 0x10000;
                out += fmt::format("\\u{}?\\u{}?", static_cast<int16_t>(static_cast<uint16_t>(0xD800 + (v >> 10))),
                                   static_cast<int16_t>(static_cast<uint16_t>(0xDC00 + (v & 0x3FF))));
            }
        }
    }
}

void appendHtmlEscaped(std::string& out, std::string_view text, bool attribute = false) {
    for (char32_t c : unicode::scalars(text)) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += attribute ? "&quot;" : "\""; break;
        default:
            if (c < 0x20 && c != '\t') break;
            unicode::appendUtf8(out, c);
        }
    }
}

}  // namespace

std::string rtf(const StyledText& text) {
    std::string out =
        "{\\rtf1\\ansi\\ansicpg1252\\uc1\\deff0\n"
        "{\\fonttbl{\\f0\\fswiss\\fcharset0 Helvetica;}{\\f1\\fmodern\\fcharset0 Courier;}}\n"
        "\\pard\\plain\\f0\\fs24\n";
    for (const TextRun& run : text.runs()) {
        const TextFont font = run.attributes.font.value_or(TextFont::system());
        std::string group = fmt::format("{{\\f{}\\fs{}", font.isMonospaced() ? 1 : 0, std::max(2L, std::lround(font.pointSize * 2)));
        if (font.bold) group += "\\b";
        if (font.italic) group += "\\i";
        group += ' ';
        appendRtfText(group, run.text);
        group += '}';
        if (run.attributes.link) {
            std::string url;
            for (char ch : *run.attributes.link) {
                if (ch == '"') url += "%22";
                else url += ch;
            }
            std::string escapedUrl;
            appendRtfText(escapedUrl, url);
            out += "{\\field{\\*\\fldinst{HYPERLINK \"" + escapedUrl + "\"}}{\\fldrslt " + group + "}}";
        } else {
            out += group;
        }
    }
    out += "\n}\n";
    return out;
}

std::string html(const StyledText& text, std::string_view title) {
    std::string out =
        "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>";
    appendHtmlEscaped(out, title);
    out +=
        "</title>\n<style>\n"
        "p {margin: 0; white-space: pre-wrap; font-family: sans-serif; font-size: 12pt}\n"
        "</style>\n</head>\n<body>";
    for (const std::vector<TextRun>& paragraph : text.paragraphs()) {
        out += "<p>";
        if (paragraph.empty()) out += "<br>";
        for (const TextRun& run : paragraph) {
            std::string close;
            if (run.attributes.link) {
                out += "<a href=\"";
                appendHtmlEscaped(out, *run.attributes.link, true);
                out += "\">";
                close = "</a>";
            }
            if (const auto& font = run.attributes.font) {
                const bool styled = font->isMonospaced() || std::abs(font->pointSize - 12) > 0.005;
                if (styled) {
                    out += "<span style=\"";
                    if (font->isMonospaced()) out += "font-family: monospace; ";
                    out += "font-size: " + formatSize(font->pointSize) + "pt\">";
                    close = "</span>" + close;
                }
                if (font->bold) {
                    out += "<b>";
                    close = "</b>" + close;
                }
                if (font->italic) {
                    out += "<i>";
                    close = "</i>" + close;
                }
            }
            appendHtmlEscaped(out, run.text);
            out += close;
        }
        out += "</p>";
    }
    // No white space between the paragraphs and the body's end: it would read as text.
    out += "</body>\n</html>\n";
    return out;
}

std::string markdown(const StyledText& text) {
    std::string out;
    for (const TextRun& run : text.runs()) {
        const std::string& piece = run.text;
        if (piece.empty()) continue;
        const auto& font = run.attributes.font;
        if (!font || (!font->bold && !font->italic)) {
            out += piece;
            continue;
        }
        const std::string_view mark = font->bold ? "**" : "*";
        out += mark;
        out += trimNewlines(piece);
        out += mark;
        // "\r\n" is one character that is not a line feed.
        if (piece.back() == '\n' && !(piece.size() >= 2 && piece[piece.size() - 2] == '\r')) out += '\n';
    }
    return out;
}

std::string insertViewport(std::string page, bool ignoreCase) {
    if (page.find(R"(name="viewport")") != std::string::npos) return page;
    size_t at = std::string::npos;
    if (ignoreCase) {
        std::string lower = page;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        at = lower.find("<head>");
    } else {
        at = page.find("<head>");
    }
    if (at == std::string::npos) return page;
    page.replace(at, 6, "<head>\n" + std::string(kViewport));
    return page;
}

}  // namespace kolvex::text_writers
