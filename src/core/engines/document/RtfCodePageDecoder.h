// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <string>
#include <string_view>

struct UConverter;

namespace kolvex {

// Turns RTF's 8-bit text (\'hh escapes and bare bytes) in a Windows or Mac code page into UTF-8
// through ICU. Keeps each converter it opens for the next run of text; one per reader, used from
// one thread.
class RtfCodePageDecoder {
public:
    RtfCodePageDecoder() = default;
    ~RtfCodePageDecoder();
    RtfCodePageDecoder(const RtfCodePageDecoder&) = delete;
    RtfCodePageDecoder& operator=(const RtfCodePageDecoder&) = delete;

    // The code page a font's \fcharset stands for; 0 where the document's own applies.
    static int codePageForCharset(int charset);

    // `bytes` read in code page `page` (1252 where ICU lacks it); where ICU cannot decode them,
    // each byte becomes the Latin-1 character of the same value.
    std::string decode(std::string_view bytes, int page);

private:
    UConverter* converter(int page);

    std::map<int, UConverter*> m_converters;
};

}  // namespace kolvex
