#include "core/engines/document/RtfReader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include "core/engines/document/DocumentFormatError.h"
#include "core/engines/document/RtfMarkup.h"
#include "core/engines/document/UnicodeText.h"

namespace kolvex {

namespace {

using rtf_markup::kCellEnd;
using rtf_markup::kCellParagraph;
using rtf_markup::kMaxPictureHex;
using rtf_markup::kPicture;
using rtf_markup::kRowEnd;
using rtf_markup::RtfPicture;

enum class Destination { text, skip, fontTable, colourTable, picture, fieldInstruction };

struct GroupState {
    Destination destination = Destination::text;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    int colour = 0;  // an index into the colour table; 0: the default colour
    int font = -1;  // -1: the document's default font
    int halfPoints = 24;
    int unicodeSkip = 1;
    int field = -1;  // the field whose instruction or result this group is part of
    std::optional<std::string> link;
};

struct FontEntry {
    bool monospaced = false;
    int codePage = 0;  // 0: the document's
    std::string name;
};

int codePageForCharset(int charset) {
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

bool looksMonospaced(const std::string& name) {
    static const char* const kMarks[] = {"Courier", "Mono", "Menlo", "Monaco", "Consolas", "Code", "Fixed"};
    return std::any_of(std::begin(kMarks), std::end(kMarks), [&](const char* mark) { return name.find(mark) != std::string::npos; });
}

const std::set<std::string_view>& skippedDestinations() {
    static const std::set<std::string_view> names = {
        "annotation", "atnauthor", "atnid",   "author",    "bkmkend",  "bkmkstart", "colorschememapping",
        "comment",    "datastore", "doccomm", "filetbl",   "fldtype",  "footer",    "footerf",            "footerl",
        "footerr",    "footnote",  "generator", "header",  "headerf",  "headerl",   "headerr",            "info",
        "keywords",   "latentstyles", "listoverridetable", "listtable", "nonshppict", "object", "operator", "pgdsctbl",
        "private",   "revtbl",  "rsidtbl",   "shp",      "shpinst",   "stylesheet",         "subject",
        "tc",         "tcn",       "template", "themedata", "title",   "xe",        "xmlnstbl",           "objdata",
    };
    return names;
}

class Parser {
public:
    explicit Parser(std::string_view bytes) : m_s(bytes) {}

    ~Parser() {
        for (auto& [page, converter] : m_converters)
            if (converter) ucnv_close(converter);
    }

    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    StyledText run() {
        size_t start = 0;
        while (start < m_s.size() && (m_s[start] == ' ' || m_s[start] == '\r' || m_s[start] == '\n' || m_s[start] == '\t')) ++start;
        if (m_s.substr(start, 5) != "{\\rtf") throw DocumentFormatError("not an RTF document");
        m_i = start;
        while (m_i < m_s.size()) {
            const char c = m_s[m_i];
            if (c == '{') {
                ++m_i;
                openGroup();
            } else if (c == '}') {
                ++m_i;
                closeGroup();
                if (m_stack.empty()) break;  // the document's group has ended
            } else if (c == '\\') {
                ++m_i;
                control();
            } else if (c == '\r' || c == '\n') {
                ++m_i;
            } else {
                ++m_i;
                textByte(static_cast<unsigned char>(c));
            }
        }
        flushBytes();
        flushSurrogate();
        return std::move(m_out);
    }

private:
    std::string_view m_s;
    size_t m_i = 0;
    std::vector<GroupState> m_stack;
    StyledText m_out;
    std::string m_bytes;  // 8-bit text not yet decoded
    int m_bytesCodePage = 1252;
    int m_documentCodePage = 1252;
    int m_defaultFont = -1;
    std::map<int, FontEntry> m_fonts;
    int m_fontEntry = -1;  // the font table entry being read
    std::vector<std::optional<uint32_t>> m_colours{std::nullopt};  // entry 0 until the table says otherwise
    uint32_t m_colourEntry = 0;
    bool m_colourEntrySet = false;
    std::vector<std::string> m_fieldInstructions;
    std::map<int, UConverter*> m_converters;
    int m_pendingSkip = 0;
    char16_t m_highSurrogate = 0;
    bool m_ignorableNext = false;  // "\*" seen: an unknown destination word is skipped
    bool m_inTable = false;        // "\intbl" since the last "\pard"
    std::vector<RtfPicture> m_pictures;
    RtfPicture m_picture;  // the one being read

    GroupState& state() { return m_stack.back(); }

    void openGroup() {
        flushBytes();
        m_pendingSkip = 0;
        m_ignorableNext = false;
        if (m_stack.size() >= RtfReader::kMaxDepth) throw DocumentFormatError("RTF groups nested too deeply");
        m_stack.push_back(m_stack.empty() ? GroupState{} : m_stack.back());
    }

    void closeGroup() {
        flushBytes();
        flushSurrogate();
        m_pendingSkip = 0;
        m_ignorableNext = false;
        if (m_stack.empty()) return;
        if (state().destination == Destination::fontTable) finishFontEntry();
        const bool picture = state().destination == Destination::picture && (m_stack.size() < 2 || m_stack[m_stack.size() - 2].destination != Destination::picture);
        m_stack.pop_back();
        if (picture) {
            // The picture stands where its group was, in the text around it.
            m_pictures.push_back(std::move(m_picture));
            m_picture = RtfPicture{};
            output(std::string(kPicture));
        }
    }

public:
    std::vector<RtfPicture> takePictures() { return std::move(m_pictures); }

private:

    bool skipping() const { return m_stack.empty() || m_stack.back().destination == Destination::skip; }

    void control() {
        if (m_i >= m_s.size()) return;
        const char c = m_s[m_i];
        if (std::isalpha(static_cast<unsigned char>(c))) {
            controlWord();
            return;
        }
        ++m_i;
        switch (c) {
        case '\'': {
            if (m_i + 2 > m_s.size()) {
                m_i = m_s.size();  // a truncated escape ends the data
                return;
            }
            unsigned value = 0;
            auto [ptr, ec] = std::from_chars(m_s.data() + m_i, m_s.data() + m_i + 2, value, 16);
            const bool valid = ec == std::errc() && ptr == m_s.data() + m_i + 2;
            m_i += 2;
            if (!valid) return;
            if (m_pendingSkip > 0) {
                --m_pendingSkip;
                return;
            }
            if (!skipping()) textByte(static_cast<unsigned char>(value));
            return;
        }
        case '*':
            m_ignorableNext = true;
            return;
        case '\\':
        case '{':
        case '}':
            literal(std::string(1, c));
            return;
        case '~':
            literal("\u00A0");
            return;
        case '_':
            literal("\u2011");
            return;
        case '\r':
        case '\n':
            literal("\n");
            return;
        default:
            return;  // \- (optional hyphen), \: and the like show nothing
        }
    }

    // Text that a control symbol or word stands for; it counts as one character for \uc skipping.
    void literal(const std::string& utf8) {
        if (m_pendingSkip > 0) {
            --m_pendingSkip;
            return;
        }
        if (skipping()) return;
        flushBytes();
        flushSurrogate();
        output(utf8);
    }

    void controlWord() {
        const size_t begin = m_i;
        while (m_i < m_s.size() && std::isalpha(static_cast<unsigned char>(m_s[m_i])) && m_i - begin < 32) ++m_i;
        const std::string_view word = m_s.substr(begin, m_i - begin);
        std::optional<long> parameter;
        if (m_i < m_s.size() && (m_s[m_i] == '-' || std::isdigit(static_cast<unsigned char>(m_s[m_i])))) {
            const size_t numberBegin = m_i;
            ++m_i;
            while (m_i < m_s.size() && std::isdigit(static_cast<unsigned char>(m_s[m_i])) && m_i - numberBegin < 11) ++m_i;
            long value = 0;
            auto [ptr, ec] = std::from_chars(m_s.data() + numberBegin, m_s.data() + m_i, value);
            if (ec == std::errc() && ptr == m_s.data() + m_i) parameter = value;
        }
        if (m_i < m_s.size() && m_s[m_i] == ' ') ++m_i;  // the delimiting space belongs to the word

        const bool ignorable = m_ignorableNext;
        m_ignorableNext = false;

        if (word == "bin") {
            const long length = parameter.value_or(0);
            if (length < 0 || static_cast<size_t>(length) > m_s.size() - m_i) throw DocumentFormatError("RTF binary data runs past the end");
            m_i += static_cast<size_t>(length);
            if (m_pendingSkip > 0) --m_pendingSkip;
            return;
        }
        if (m_pendingSkip > 0) {
            --m_pendingSkip;
            return;
        }
        if (skipping()) return;
        if (m_stack.empty()) return;

        GroupState& s = state();
        if (s.destination == Destination::fontTable) {
            fontTableWord(word, parameter, ignorable);
            return;
        }
        if (word == "u") {
            long value = parameter.value_or(0);
            if (value < 0) value += 65536;
            flushBytes();
            unicodeUnit(static_cast<char16_t>(value & 0xFFFF));
            m_pendingSkip = s.unicodeSkip;
            return;
        }
        if (s.destination == Destination::colourTable) {
            const long value = std::clamp<long>(parameter.value_or(0), 0, 255);
            const int shift = word == "red" ? 16 : word == "green" ? 8 : word == "blue" ? 0 : -1;
            if (shift >= 0) {
                m_colourEntry = (m_colourEntry & ~(0xFFu << shift)) | (static_cast<uint32_t>(value) << shift);
                m_colourEntrySet = true;
            }
            return;
        }
        if (s.destination == Destination::picture) {
            // Groups inside a picture (its properties, its id) are not its data.
            if (ignorable || word == "picprop" || word == "blipuid") s.destination = Destination::skip;
            else if (word == "pngblip" || word == "jpegblip") m_picture.supported = true;
            else if (word == "picwgoal") m_picture.widthTwips = parameter.value_or(0);
            else if (word == "pichgoal") m_picture.heightTwips = parameter.value_or(0);
            return;
        }
        if (word == "pict") {
            flushBytes();
            s.destination = Destination::picture;
            m_picture = RtfPicture{};
            return;
        }
        if (word == "shppict") return;  // the picture inside is the one to show (its "nonshppict" twin is skipped)
        if (word == "colortbl") {
            flushBytes();
            s.destination = Destination::colourTable;
            m_colours.clear();
            m_colourEntry = 0;
            m_colourEntrySet = false;
            return;
        }
        if (word == "fonttbl") {
            flushBytes();
            s.destination = Destination::fontTable;
            m_fontEntry = -1;
            return;
        }
        if (word == "field") {
            m_fieldInstructions.emplace_back();
            s.field = static_cast<int>(m_fieldInstructions.size()) - 1;
            s.link.reset();
            return;
        }
        if (word == "fldinst") {
            flushBytes();
            s.destination = s.field >= 0 ? Destination::fieldInstruction : Destination::skip;
            return;
        }
        if (word == "fldrslt") {
            flushBytes();
            s.destination = Destination::text;
            if (s.field >= 0) s.link = hyperlinkTarget(m_fieldInstructions[static_cast<size_t>(s.field)]);
            return;
        }
        if (ignorable || skippedDestinations().contains(word)) {
            flushBytes();
            s.destination = Destination::skip;
            return;
        }
        if (s.destination == Destination::fieldInstruction) return;  // formatting inside an instruction

        const auto on = [&] { return parameter.value_or(1) != 0; };
        if (word == "b") {
            flushBytes();
            s.bold = on();
        } else if (word == "i") {
            flushBytes();
            s.italic = on();
        } else if (word == "ul" || word == "uldb" || word == "ulth" || word == "uld" || word == "ulw") {
            flushBytes();
            s.underline = on();
        } else if (word == "ulnone") {
            flushBytes();
            s.underline = false;
        } else if (word == "strike" || word == "striked") {
            flushBytes();
            s.strike = on();
        } else if (word == "cf") {
            flushBytes();
            s.colour = static_cast<int>(std::clamp<long>(parameter.value_or(0), 0, 1 << 16));
        } else if (word == "plain") {
            flushBytes();
            s.bold = s.italic = s.underline = s.strike = false;
            s.colour = 0;
            s.halfPoints = 24;
            s.font = -1;
        } else if (word == "f") {
            flushBytes();
            s.font = static_cast<int>(parameter.value_or(-1));
        } else if (word == "fs") {
            flushBytes();
            s.halfPoints = static_cast<int>(std::clamp<long>(parameter.value_or(24), 2, 3276));
        } else if (word == "uc") {
            s.unicodeSkip = static_cast<int>(std::clamp<long>(parameter.value_or(1), 0, 16));
        } else if (word == "ansicpg") {
            if (parameter && *parameter > 0 && *parameter < 100000) m_documentCodePage = static_cast<int>(*parameter);
        } else if (word == "ansi") {
            m_documentCodePage = 1252;
        } else if (word == "mac") {
            m_documentCodePage = 10000;
        } else if (word == "pc") {
            m_documentCodePage = 437;
        } else if (word == "pca") {
            m_documentCodePage = 850;
        } else if (word == "deff") {
            m_defaultFont = static_cast<int>(parameter.value_or(-1));
        } else if (word == "intbl") {
            m_inTable = true;
        } else if (word == "pard") {
            m_inTable = false;
        } else if (word == "par") {
            literal(m_inTable ? std::string(kCellParagraph) : std::string("\n"));
        } else if (word == "cell") {
            literal(std::string(kCellEnd));
        } else if (word == "row") {
            literal(std::string(kRowEnd));
        } else if (word == "line" || word == "sect" || word == "nestrow") {
            literal("\n");
        } else if (word == "page" || word == "pagebb") {
            literal("\f");  // the styled text's page break
        } else if (word == "tab" || word == "nestcell") {
            literal("\t");
        } else if (word == "emdash") {
            literal("\u2014");
        } else if (word == "endash") {
            literal("\u2013");
        } else if (word == "bullet") {
            literal("\u2022");
        } else if (word == "lquote") {
            literal("\u2018");
        } else if (word == "rquote") {
            literal("\u2019");
        } else if (word == "ldblquote") {
            literal("\u201C");
        } else if (word == "rdblquote") {
            literal("\u201D");
        } else if (word == "emspace") {
            literal("\u2003");
        } else if (word == "enspace") {
            literal("\u2002");
        }
        // Every other word changes nothing the styled text keeps.
    }

    void fontTableWord(std::string_view word, std::optional<long> parameter, bool ignorable) {
        if (ignorable || skippedDestinations().contains(word) || word == "panose" || word == "falt") {
            state().destination = Destination::skip;
            return;
        }
        if (word == "f") {
            finishFontEntry();
            m_fontEntry = static_cast<int>(parameter.value_or(-1));
            m_fonts[m_fontEntry] = FontEntry{};
        } else if (m_fontEntry >= 0 || m_fonts.contains(m_fontEntry)) {
            FontEntry& entry = m_fonts[m_fontEntry];
            if (word == "fmodern") entry.monospaced = true;
            else if (word == "fprq" && parameter.value_or(0) == 1) entry.monospaced = true;
            else if (word == "fcharset") entry.codePage = codePageForCharset(static_cast<int>(parameter.value_or(0)));
            else if (word == "cpg" && parameter.value_or(0) > 0) entry.codePage = static_cast<int>(*parameter);
        }
    }

    void finishFontEntry() {
        auto found = m_fonts.find(m_fontEntry);
        if (found == m_fonts.end()) return;
        std::string& name = found->second.name;
        if (!name.empty() && name.back() == ';') name.pop_back();
        if (looksMonospaced(name)) found->second.monospaced = true;
    }

    static std::optional<std::string> hyperlinkTarget(const std::string& instruction) {
        const size_t keyword = instruction.find("HYPERLINK");
        if (keyword == std::string::npos) return std::nullopt;
        size_t p = keyword + 9;
        while (p < instruction.size() && instruction[p] == ' ') ++p;
        // Switches such as \l "anchor" may come first; take the first quoted or bare argument.
        while (p < instruction.size() && instruction[p] == '\\') {
            p += 2;
            while (p < instruction.size() && instruction[p] == ' ') ++p;
            if (p < instruction.size() && instruction[p] == '"') break;
        }
        if (p >= instruction.size()) return std::nullopt;
        std::string target;
        if (instruction[p] == '"') {
            const size_t close = instruction.find('"', p + 1);
            target = instruction.substr(p + 1, close == std::string::npos ? std::string::npos : close - p - 1);
        } else {
            const size_t end = instruction.find(' ', p);
            target = instruction.substr(p, end == std::string::npos ? std::string::npos : end - p);
        }
        if (target.empty()) return std::nullopt;
        return target;
    }

    int currentCodePage() {
        if (m_stack.empty()) return m_documentCodePage;
        const int font = state().font >= 0 ? state().font : m_defaultFont;
        auto found = m_fonts.find(font);
        if (found != m_fonts.end() && found->second.codePage > 0) return found->second.codePage;
        return m_documentCodePage;
    }

    void textByte(unsigned char byte) {
        if (m_pendingSkip > 0) {
            --m_pendingSkip;
            return;
        }
        if (skipping()) return;
        if (state().destination == Destination::picture) {
            if (std::isxdigit(byte) && m_picture.hex.size() < kMaxPictureHex) m_picture.hex += static_cast<char>(byte);
            return;
        }
        if (state().destination == Destination::colourTable) {
            if (byte == ';') {
                m_colours.push_back(m_colourEntrySet ? std::optional<uint32_t>(m_colourEntry) : std::nullopt);
                m_colourEntry = 0;
                m_colourEntrySet = false;
            }
            return;
        }
        if (state().destination == Destination::fontTable) {
            if (m_fontEntry >= 0 || m_fonts.contains(m_fontEntry)) {
                std::string& name = m_fonts[m_fontEntry].name;
                if (name.size() < 256) name += static_cast<char>(byte);
            }
            return;
        }
        flushSurrogate();
        const int page = currentCodePage();
        if (!m_bytes.empty() && page != m_bytesCodePage) flushBytes();
        m_bytesCodePage = page;
        m_bytes += static_cast<char>(byte);
    }

    UConverter* converter(int page) {
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

    void flushBytes() {
        if (m_bytes.empty()) return;
        std::string utf8;
        const bool ascii = std::all_of(m_bytes.begin(), m_bytes.end(), [](char b) { return static_cast<unsigned char>(b) < 0x80; });
        UConverter* conv = ascii ? nullptr : converter(m_bytesCodePage);
        if (!conv) {
            for (char b : m_bytes) unicode::appendUtf8(utf8, static_cast<unsigned char>(b));
        } else {
            std::u16string units(m_bytes.size() * 2 + 4, u'\0');
            UErrorCode status = U_ZERO_ERROR;
            ucnv_reset(conv);
            const int32_t n = ucnv_toUChars(conv, reinterpret_cast<UChar*>(units.data()), static_cast<int32_t>(units.size()),
                                            m_bytes.data(), static_cast<int32_t>(m_bytes.size()), &status);
            if (U_FAILURE(status)) {
                for (char b : m_bytes) unicode::appendUtf8(utf8, static_cast<unsigned char>(b));
            } else {
                units.resize(static_cast<size_t>(n));
                utf8 = toUtf8(units);
            }
        }
        m_bytes.clear();
        output(utf8);
    }

    static std::string toUtf8(const std::u16string& units) {
        std::string out;
        for (size_t k = 0; k < units.size(); ++k) {
            char32_t c = units[k];
            if (c >= 0xD800 && c <= 0xDBFF && k + 1 < units.size() && units[k + 1] >= 0xDC00 && units[k + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (units[k + 1] - 0xDC00);
                ++k;
            }
            unicode::appendUtf8(out, c);
        }
        return out;
    }

    void unicodeUnit(char16_t unit) {
        if (m_highSurrogate != 0) {
            if (unit >= 0xDC00 && unit <= 0xDFFF) {
                std::string utf8;
                unicode::appendUtf8(utf8, 0x10000 + ((static_cast<char32_t>(m_highSurrogate) - 0xD800) << 10) + (unit - 0xDC00));
                m_highSurrogate = 0;
                output(utf8);
                return;
            }
            flushSurrogate();
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            m_highSurrogate = unit;
            return;
        }
        std::string utf8;
        unicode::appendUtf8(utf8, unit);  // a lone low surrogate becomes U+FFFD
        output(utf8);
    }

    void flushSurrogate() {
        if (m_highSurrogate == 0) return;
        m_highSurrogate = 0;
        output("\uFFFD");
    }

    void output(const std::string& utf8) {
        if (utf8.empty() || m_stack.empty()) return;
        GroupState& s = state();
        switch (s.destination) {
        case Destination::text: {
            TextAttributes attributes;
            const int fontIndex = s.font >= 0 ? s.font : m_defaultFont;
            auto font = m_fonts.find(fontIndex);
            TextFont f = TextFont::system(s.halfPoints / 2.0);
            if (font != m_fonts.end() && font->second.monospaced) f.design = TextFont::Design::monospaced;
            else if (font != m_fonts.end() && font->second.name != "Helvetica") f.family = font->second.name;
            f.bold = s.bold;
            f.italic = s.italic;
            attributes.font = f;
            attributes.link = s.link;
            attributes.underline = s.underline;
            attributes.strike = s.strike;
            if (s.colour > 0 && static_cast<size_t>(s.colour) < m_colours.size()) attributes.colour = m_colours[static_cast<size_t>(s.colour)];
            m_out.append(utf8, attributes);
            break;
        }
        case Destination::fieldInstruction:
            if (s.field >= 0) {
                std::string& instruction = m_fieldInstructions[static_cast<size_t>(s.field)];
                if (instruction.size() < 4096) instruction += utf8;
            }
            break;
        case Destination::fontTable:
        case Destination::colourTable:
        case Destination::picture:
        case Destination::skip:
            break;
        }
    }
};

}  // namespace

StyledText RtfReader::read(std::string_view bytes) {
    StyledText marked = Parser(bytes).run();
    StyledText out;
    for (const TextRun& run : marked.runs()) {
        std::string text = run.text;
        for (const auto& [marker, plain] :
             {std::pair{kCellEnd, "\t"}, std::pair{kRowEnd, "\n"}, std::pair{kCellParagraph, "\n"}, std::pair{kPicture, ""}})
            for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at)) text.replace(at, marker.size(), plain);
        out.append(text, run.attributes);
    }
    return out;
}

std::unique_ptr<RichDocument> RtfReader::readDocument(std::string_view bytes) {
    Parser parser(bytes);
    const StyledText marked = parser.run();
    return rtf_markup::buildDocument(marked, parser.takePictures());
}

}  // namespace kolvex
