// SPDX-License-Identifier: GPL-3.0-or-later
#include "interaction/DragData.h"

#include <cstdint>

namespace kolvex::drag_data {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

std::vector<std::string_view> splitLines(std::string_view data) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start <= data.size()) {
        std::size_t end = data.find('\n', start);
        if (end == std::string_view::npos) end = data.size();
        std::string_view line = data.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Every other line (0, 2, 4, …) holds a URL; the lines between are titles.
std::vector<std::filesystem::path> filesFromUrlTitlePairs(std::string_view text) {
    std::vector<std::filesystem::path> files;
    const auto lines = splitLines(text);
    for (std::size_t i = 0; i < lines.size(); i += 2) {
        if (auto path = pathFromFileUri(trimmed(lines[i]))) files.push_back(std::move(*path));
    }
    return files;
}

}  // namespace

std::optional<std::filesystem::path> pathFromFileUri(std::string_view uri) {
    if (!startsWithNoCase(uri, "file:")) return std::nullopt;
    std::string_view rest = uri.substr(5);
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        if (slash == std::string_view::npos) return std::nullopt;
        const std::string_view host = rest.substr(0, slash);
        if (!host.empty() && !(host.size() == 9 && startsWithNoCase(host, "localhost"))) return std::nullopt;
        rest.remove_prefix(slash);
    }
    if (rest.empty() || rest.front() != '/') return std::nullopt;

    std::string decoded;
    decoded.reserve(rest.size());
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const char c = rest[i];
        if (c == '%' && i + 2 < rest.size() && hexValue(rest[i + 1]) >= 0 && hexValue(rest[i + 2]) >= 0) {
            decoded += static_cast<char>(hexValue(rest[i + 1]) * 16 + hexValue(rest[i + 2]));
            i += 2;
        } else {
            decoded += c;
        }
    }
    // A NUL would silently cut the name short in every system call.
    if (decoded.find('\0') != std::string::npos) return std::nullopt;
    return std::filesystem::path(decoded);
}

std::vector<std::filesystem::path> filesFromUriList(std::string_view data) {
    std::vector<std::filesystem::path> files;
    for (std::string_view line : splitLines(data)) {
        if (line.empty() || line.front() == '#') continue;
        // Some sources end the list with a NUL.
        while (!line.empty() && line.back() == '\0') line.remove_suffix(1);
        if (auto path = pathFromFileUri(line)) files.push_back(std::move(*path));
    }
    return files;
}

std::vector<std::filesystem::path> filesFromMozUrl(std::string_view data) {
    bool bigEndian = false;
    if (data.size() >= 2) {
        const auto b0 = static_cast<unsigned char>(data[0]);
        const auto b1 = static_cast<unsigned char>(data[1]);
        if (b0 == 0xFE && b1 == 0xFF) {
            bigEndian = true;
            data.remove_prefix(2);
        } else if (b0 == 0xFF && b1 == 0xFE) {
            data.remove_prefix(2);
        }
    }
    return filesFromUrlTitlePairs(utf8FromUtf16(data, bigEndian));
}

std::vector<std::filesystem::path> filesFromNetscapeUrl(std::string_view data) { return filesFromUrlTitlePairs(data); }

std::vector<std::filesystem::path> filesFromPlainText(std::string_view data) {
    std::vector<std::filesystem::path> files;
    for (std::string_view line : splitLines(data)) {
        if (auto path = pathFromFileUri(trimmed(line))) files.push_back(std::move(*path));
    }
    return files;
}

std::vector<std::filesystem::path> filesFrom(std::string_view mimeType, std::string_view data) {
    if (mimeType == kUriList) return filesFromUriList(data);
    if (mimeType == kMozUrl) return filesFromMozUrl(data);
    if (mimeType == kNetscapeUrl) return filesFromNetscapeUrl(data);
    if (mimeType == kPlainText) return filesFromPlainText(data);
    return {};
}

std::string utf8FromUtf16(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size());
    const std::size_t units = bytes.size() / 2;
    auto unitAt = [&](std::size_t i) -> std::uint32_t {
        const auto a = static_cast<unsigned char>(bytes[2 * i]);
        const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t u = unitAt(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const std::uint32_t low = unitAt(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

}  // namespace kolvex::drag_data
