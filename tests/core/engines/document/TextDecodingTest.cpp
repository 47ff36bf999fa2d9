// SPDX-License-Identifier: GPL-3.0-or-later
// Short texts in a legacy encoding (a line or two of Windows-1251 Cyrillic or EUC-KR Korean, too
// little for the detector to be sure of) read in their own script, while short Windows-1252
// texts stay as they were.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unicode/ucnv.h>

#include "core/engines/document/TextDecoding.h"

namespace kolvex {
namespace {

// `utf8` in `encoding`, by ICU.
std::string encoded(const std::string& utf8, const char* encoding) {
    std::string out(utf8.size() * 4 + 16, '\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = ucnv_convert(encoding, "UTF-8", out.data(), static_cast<int32_t>(out.size()), utf8.data(),
                                        static_cast<int32_t>(utf8.size()), &status);
    EXPECT_TRUE(U_SUCCESS(status)) << encoding;
    out.resize(static_cast<size_t>(length));
    return out;
}

TEST(TextDecoding, ShortLegacyTextsReadInTheirOwnScript) {
    const struct {
        const char* encoding;
        std::vector<std::string> texts;
    } samples[] = {
        {"windows-1251", {"Привет", "Привет, мир!", "Добрый день", "Спасибо за письмо.\n", "Счёт 42"}},
        {"EUC-KR", {"안녕하세요", "감사합니다", "한국어 문서", "오늘 날씨가 좋네요.\n"}},
        {"windows-1252", {"café", "naïve façade", "Müller", "Grüße aus Köln", "déjà vu\n", "plain words"}},
    };
    for (const auto& sample : samples) {
        for (const std::string& text : sample.texts) {
            SCOPED_TRACE(std::string(sample.encoding) + ": " + text);
            EXPECT_EQ(text_decoding::anyToUtf8(encoded(text, sample.encoding)), text);
        }
    }
}

}  // namespace
}  // namespace kolvex
