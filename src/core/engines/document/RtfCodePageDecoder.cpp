// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/RtfCodePageDecoder.h"

#include <algorithm>

#include <unicode/ucnv.h>

#include "core/engines/document/UnicodeText.h"

namespace kolvex {

namespace {

std::string toUtf8(const std::u16string& units) {
    std::string out;
    unicode::Utf16Joiner joiner;
    for (const char16_t unit : units) joiner.push(out, unit);
    joiner.flush(out);
    return out;
}

}  // namespace

RtfCodePageDecoder::~RtfCodePageDecoder() {
    for (auto& [page, converter] : m_converters)
        if (converter) ucnv_close(converter);
}

int RtfCodePageDecoder::codePageForCharset(int charset) {
    switch (charset) {
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    default: return 0;  // ANSI, default, symbol: the document's code page
    }
}

std::string RtfCodePageDecoder::decode(std::string_view bytes, int page) {
    std::string utf8;
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char b) { return static_cast<unsigned char>(b) < 0x80; });
    UConverter* conv = ascii ? nullptr : converter(page);
    if (!conv) {
        for (char b : bytes) unicode::appendUtf8(utf8, static_cast<unsigned char>(b));
        return utf8;
    }
    std::u16string units(bytes.size() * 2 + 4, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    ucnv_reset(conv);
    const int32_t n = ucnv_toUChars(conv, reinterpret_cast<UChar*>(units.data()), static_cast<int32_t>(units.size()),
                                    bytes.data(), static_cast<int32_t>(bytes.size()), &status);
    if (U_FAILURE(status)) {
        for (char b : bytes) unicode::appendUtf8(utf8, static_cast<unsigned char>(b));
        return utf8;
    }
    units.resize(static_cast<size_t>(n));
    return toUtf8(units);
}

UConverter* RtfCodePageDecoder::converter(int page) {
    auto found = m_converters.find(page);
    if (found != m_converters.end()) return found->second;
    UConverter* result = nullptr;
    const std::string names[] = {page == 10000 ? "macintosh" : "windows-" + std::to_string(page), "cp" + std::to_string(page),
                                 "ibm-" + std::to_string(page)};
    for (const std::string& name : names) {
        UErrorCode status = U_ZERO_ERROR;
        result = ucnv_open(name.c_str(), &status);
        if (U_SUCCESS(status) && result) break;
        if (result) ucnv_close(result);
        result = nullptr;
    }
    if (!result && page != 1252) result = converter(1252);
    else m_converters[page] = result;
    return result;
}

}  // namespace kolvex
