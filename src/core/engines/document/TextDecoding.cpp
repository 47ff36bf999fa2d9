// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/TextDecoding.h"

#include <algorithm>
#include <memory>

#include <unicode/ucnv.h>
#include <unicode/ucsdet.h>

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
    static const char* const kNonLatin[] = {"windows-1251", "KOI8-R",  "ISO-8859-5",  "windows-1253", "ISO-8859-7", "windows-1255",
                                            "ISO-8859-8",   "ISO-8859-8-I", "windows-1256", "ISO-8859-6", "Shift_JIS",  "EUC-JP",
                                            "EUC-KR",       "GB18030", "Big5"};
    for (const char* candidate : kNonLatin)
        if (std::string_view(name) == candidate) return candidate;
    return nullptr;
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
    if (const char* legacy = confidentLegacyEncoding(bytes))
        if (std::optional<std::string> text = convert(bytes, legacy)) return text;
    return convert(bytes, "windows-1252");
}

}  // namespace kolvex::text_decoding
