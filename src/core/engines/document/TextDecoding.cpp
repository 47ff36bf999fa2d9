// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/TextDecoding.h"

#include <algorithm>
#include <memory>

#include <set>
#include <vector>

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucsdet.h>
#include <unicode/uscript.h>
#include <unicode/utf8.h>

#include "core/engines/document/UnicodeText.h"
#include "core/services/Utf8.h"

namespace kolvex::text_decoding {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::optional<std::string> convert(std::string_view bytes, const char* encoding) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, decltype(&ucnv_close)> from(ucnv_open(encoding, &status), &ucnv_close);
    if (U_FAILURE(status)) return std::nullopt;
    std::unique_ptr<UConverter, decltype(&ucnv_close)> to(ucnv_open("UTF-8", &status), &ucnv_close);
    if (U_FAILURE(status)) return std::nullopt;
    // Stop on a truncated sequence; anything else undecodable becomes U+FFFD (ICU's default).
    std::string out(bytes.size() * 3 + 16, '\0');
    char* target = out.data();
    const char* source = bytes.data();
    ucnv_convertEx(to.get(), from.get(), &target, out.data() + out.size(), &source, bytes.data() + bytes.size(), nullptr, nullptr,
                   nullptr, nullptr, true, true, &status);
    if (U_FAILURE(status)) return std::nullopt;
    out.resize(static_cast<size_t>(target - out.data()));
    return out;
}

// The legacy encodings of scripts other than Latin that the detector may name.
// Tried in this order on a short text: a text of one that also decodes in a later one (Korean
// bytes read as Chinese) reads as the first.
const char* const kNonLatin[] = {"windows-1251", "KOI8-R", "ISO-8859-5", "EUC-KR",     "Shift_JIS",  "EUC-JP",
                                 "GB18030",      "Big5",   "windows-1253", "ISO-8859-7", "windows-1255", "ISO-8859-8",
                                 "ISO-8859-8-I", "windows-1256", "ISO-8859-6"};

// A legacy encoding the detector names with confidence, when it is not a Latin one (which
// Windows-1252 covers, and which the detector tells apart poorly on short texts).
const char* confidentLegacyEncoding(std::string_view bytes) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UCharsetDetector, decltype(&ucsdet_close)> detector(ucsdet_open(&status), &ucsdet_close);
    if (U_FAILURE(status)) return nullptr;
    ucsdet_setText(detector.get(), bytes.data(), static_cast<int32_t>(std::min<size_t>(bytes.size(), 1 << 20)), &status);
    const UCharsetMatch* match = ucsdet_detect(detector.get(), &status);
    if (U_FAILURE(status) || !match) return nullptr;
    const int32_t confidence = ucsdet_getConfidence(match, &status);
    const char* name = ucsdet_getName(match, &status);
    if (U_FAILURE(status) || !name || confidence < 50) return nullptr;
    for (const char* candidate : kNonLatin)
        if (std::string_view(name) == candidate) return candidate;
    return nullptr;
}

// How unlike written text a decoding reads: characters that decode to nothing or to controls,
// signs stuck to letters ("Ñ÷¸ò"), words that mix scripts ("Mьller", Hangul beside Han) or change
// to capitals inside ("пПХБЕР"), and Latin words made mostly of accented letters, which is what
// another script's letters look like read as Windows-1252 ("Ïðèâåò").
int oddness(const std::string& text) {
    int odd = 0;
    std::set<int> scripts;
    int ascii = 0;
    int accented = 0;
    int letters = 0;
    bool lowerSeen = false;
    bool signBefore = false;  // a sign beyond ASCII stuck to the word
    const auto endWord = [&] {
        if (scripts.size() > 1) ++odd;
        if (scripts.size() == 1 && *scripts.begin() == USCRIPT_LATIN && accented >= 2 && accented > ascii) ++odd;
        if (signBefore && letters > 0) ++odd;
        scripts.clear();
        ascii = accented = letters = 0;
        lowerSeen = signBefore = false;
    };
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0 || c == 0xFFFD || (c >= 0x80 && c < 0xA0) || (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f')) {
            odd += 3;
            endWord();
            continue;
        }
        if (!u_isalpha(c)) {
            const bool sign = c >= 0xA0 && !u_isspace(c) && !u_ispunct(c);
            if (sign) {
                signBefore = true;  // counted with the word on either side
                if (letters > 0) ++odd;
                continue;
            }
            endWord();
            continue;
        }
        UErrorCode status = U_ZERO_ERROR;
        const UScriptCode script = uscript_getScript(c, &status);
        if (U_SUCCESS(status) && script != USCRIPT_COMMON && script != USCRIPT_INHERITED) scripts.insert(script);
        if (u_isupper(c) && lowerSeen) ++odd;
        lowerSeen = lowerSeen || u_islower(c);
        (c < 0x80 ? ascii : accented) += 1;
        ++letters;
    }
    endWord();
    return odd;
}

// A text too short for the detector to be sure of: the first legacy encoding, in the order of
// kNonLatin, whose decoding reads more like text than Windows-1252's (which a Latin text keeps
// whenever it reads as text at all).
std::optional<std::string> likeliestDecoding(std::string_view bytes) {
    std::optional<std::string> best = convert(bytes, "windows-1252");
    if (!best) return std::nullopt;
    int bestOddness = oddness(*best);
    for (const char* encoding : kNonLatin) {
        if (bestOddness == 0) break;
        std::optional<std::string> text = convert(bytes, encoding);
        if (!text) continue;
        const int odd = oddness(*text);
        if (odd < bestOddness) {
            best = std::move(text);
            bestOddness = odd;
        }
    }
    return best;
}

}  // namespace

std::optional<std::string> utf8WithoutBom(std::string_view bytes) {
    if (!isValidUtf8(bytes)) return std::nullopt;
    if (bytes.starts_with(kUtf8Bom)) bytes.remove_prefix(kUtf8Bom.size());
    return std::string(bytes);
}

std::optional<std::string> anyToUtf8(std::string_view bytes) {
    // UTF-32 first: its little-endian mark begins like UTF-16's.
    if (bytes.starts_with(std::string_view("\xFF\xFE\0\0", 4))) return convert(bytes.substr(4), "UTF-32LE");
    if (bytes.starts_with(std::string_view("\0\0\xFE\xFF", 4))) return convert(bytes.substr(4), "UTF-32BE");
    if (bytes.starts_with("\xFF\xFE")) return convert(bytes.substr(2), "UTF-16LE");
    if (bytes.starts_with("\xFE\xFF")) return convert(bytes.substr(2), "UTF-16BE");
    if (std::optional<std::string> utf8 = utf8WithoutBom(bytes)) return utf8;
    std::optional<std::string> likeliest = likeliestDecoding(bytes);
    // The detector's sure guess, unless it reads less like text than the likeliest decoding (on
    // a short text it can be sure and wrong: Hebrew for a Russian greeting).
    if (const char* legacy = confidentLegacyEncoding(bytes))
        if (std::optional<std::string> text = convert(bytes, legacy); text && (!likeliest || oddness(*text) <= oddness(*likeliest)))
            return text;
    return likeliest;
}

}  // namespace kolvex::text_decoding
