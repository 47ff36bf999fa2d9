// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/RtfReader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "core/engines/document/DocumentFormatError.h"
#include "core/engines/document/RtfCodePageDecoder.h"
#include "core/engines/document/RtfDestinations.h"
#include "core/engines/document/RtfFontTable.h"
#include "core/engines/document/RtfSymbols.h"
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
    bool hidden = false;  // \v: text the reader does not see, left out of every output
    int colour = 0;  // an index into the colour table; 0: the default colour
    int font = -1;  // -1: the document's default font
    int halfPoints = 24;
    int unicodeSkip = 1;
    int field = -1;  // the field whose instruction or result this group is part of
    std::optional<std::string> link;
};

class Parser {
public:
    explicit Parser(std::string_view bytes) : m_s(bytes) {}

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
    RtfFontTable m_fonts;
    std::vector<std::optional<uint32_t>> m_colours{std::nullopt};  // entry 0 until the table says otherwise
    uint32_t m_colourEntry = 0;
    bool m_colourEntrySet = false;
    std::vector<std::string> m_fieldInstructions;
    RtfCodePageDecoder m_decoder;
    int m_pendingSkip = 0;
    unicode::Utf16Joiner m_units;  // \u values, which may be halves of a surrogate pair
    bool m_ignorableNext = false;  // "\*" seen: an unknown destination word is skipped
    bool m_inTable = false;        // "\intbl" since the last "\pard"
    std::vector<RtfPicture> m_pictures;
    RtfPicture m_picture;  // the one being read

    GroupState& state() { return m_stack.back(); }

    void openGroup() {
        flushBytes();
        m_pendingSkip = 0;
        m_ignorableNext = false;
        if (m_stack.size() >= RtfReader::kMaxDepth) throw DocumentDepthError(fmt::format("nests its groups deeper than Kolvex reads ({} levels)", RtfReader::kMaxDepth));
        m_stack.push_back(m_stack.empty() ? GroupState{} : m_stack.back());
    }

    void closeGroup() {
        flushBytes();
        flushSurrogate();
        m_pendingSkip = 0;
        m_ignorableNext = false;
        if (m_stack.empty()) return;
        if (state().destination == Destination::fontTable) m_fonts.finishEntry();
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
            m_fonts.begin();
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
            if (s.field >= 0) s.link = rtf_destinations::hyperlinkTarget(m_fieldInstructions[static_cast<size_t>(s.field)]);
            return;
        }
        if (ignorable || rtf_destinations::isSkipped(word)) {
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
        } else if (word == "v") {
            flushBytes();
            s.hidden = on();
        } else if (word == "cf") {
            flushBytes();
            s.colour = static_cast<int>(std::clamp<long>(parameter.value_or(0), 0, 1 << 16));
        } else if (word == "plain") {
            flushBytes();
            s.bold = s.italic = s.underline = s.strike = s.hidden = false;
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
        } else if (const std::optional<std::string_view> text = rtf_symbols::textOf(word)) {
            literal(std::string(*text));
        }
        // Every other word changes nothing the styled text keeps.
    }

    void fontTableWord(std::string_view word, std::optional<long> parameter, bool ignorable) {
        if (ignorable || rtf_destinations::isSkipped(word) || word == "panose" || word == "falt") {
            state().destination = Destination::skip;
            return;
        }
        m_fonts.word(word, parameter);
    }

    int currentCodePage() {
        if (m_stack.empty()) return m_documentCodePage;
        const int font = state().font >= 0 ? state().font : m_defaultFont;
        const RtfFont* found = m_fonts.find(font);
        if (found && found->codePage > 0) return found->codePage;
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
            m_fonts.nameByte(byte);
            return;
        }
        flushSurrogate();
        const int page = currentCodePage();
        if (!m_bytes.empty() && page != m_bytesCodePage) flushBytes();
        m_bytesCodePage = page;
        m_bytes += static_cast<char>(byte);
    }

    void flushBytes() {
        if (m_bytes.empty()) return;
        const std::string utf8 = m_decoder.decode(m_bytes, m_bytesCodePage);
        m_bytes.clear();
        output(utf8);
    }

    void unicodeUnit(char16_t unit) {
        std::string utf8;
        m_units.push(utf8, unit);
        output(utf8);
    }

    void flushSurrogate() {
        std::string utf8;
        m_units.flush(utf8);
        output(utf8);
    }

    void output(const std::string& utf8) {
        if (utf8.empty() || m_stack.empty()) return;
        GroupState& s = state();
        switch (s.destination) {
        case Destination::text: {
            // Hidden text goes, with its paragraph marks; table structure and the places of
            // pictures (matched to them in order) stay.
            if (s.hidden && utf8 != kCellEnd && utf8 != kRowEnd && utf8 != kPicture) break;
            TextAttributes attributes;
            const int fontIndex = s.font >= 0 ? s.font : m_defaultFont;
            const RtfFont* font = m_fonts.find(fontIndex);
            TextFont f = TextFont::system(s.halfPoints / 2.0);
            if (font && font->monospaced) f.design = TextFont::Design::monospaced;
            else if (font && font->name != "Helvetica") f.family = font->name;
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
