// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/MarkdownReader.h"

#include <cctype>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <unicode/utf8.h>

#include <fmt/format.h>

#include "core/engines/document/DocumentFormatError.h"
#include "core/engines/document/MarkdownSyntax.h"
#include "core/engines/document/UnicodeText.h"

namespace kolvex {

namespace {

// One piece of the inline list: literal text, a code span, or a run of * or _ delimiters.
struct Item {
    enum class Kind { text, code, delimiter };
    Kind kind = Kind::text;
    std::string text;
    // Delimiter runs only.
    char delimiter = 0;
    int count = 0;
    int originalCount = 0;
    bool canOpen = false;
    bool canClose = false;
    int prev = -1;  // neighbours in the delimiter stack
    int next = -1;
    bool inStack = false;
};

struct Bracket {
    int item;
    bool image;
    bool active = true;
};

struct LinkRange {
    int opener;
    int closer;
    std::optional<std::string> url;  // none: an image, whose alt text stays plain
};

class InlineParser {
public:
    explicit InlineParser(std::string_view text) : m_s(text) {}

    StyledText run() {
        scan();
        if (m_items.size() > 2 * MarkdownReader::kMaxMarkup + 1)
            throw DocumentLimitError(fmt::format("Markdown with more than {} emphasis, code and link marks", MarkdownReader::kMaxMarkup));
        flushText();
        processEmphasis(-1);
        return emit();
    }

private:
    std::string_view m_s;
    size_t m_i = 0;
    std::string m_buffer;
    std::vector<Item> m_items;
    std::vector<Bracket> m_brackets;
    std::vector<LinkRange> m_links;
    std::vector<std::tuple<int, int, bool>> m_emphasis;  // opener, closer, strong
    int m_lastDelimiter = -1;
    std::map<size_t, size_t> m_noCloserFrom;  // backtick run length → position after which none closes

    void flushText() {
        if (m_buffer.empty()) return;
        Item item;
        item.text = std::move(m_buffer);
        m_buffer.clear();
        m_items.push_back(std::move(item));
    }

    char32_t scalarBefore(size_t pos) const {
        if (pos == 0) return U'\n';
        auto prev = static_cast<int32_t>(pos);
        UChar32 c;
        U8_PREV(reinterpret_cast<const uint8_t*>(m_s.data()), 0, prev, c);
        return c < 0 ? 0xFFFD : static_cast<char32_t>(c);
    }

    char32_t scalarAt(size_t pos) const {
        if (pos >= m_s.size()) return U'\n';
        return unicode::firstScalar(m_s.substr(pos));
    }

    void scan() {
        while (m_i < m_s.size()) {
            // Every markup piece adds an item, and text adds one between two of them.
            if (m_items.size() > 2 * MarkdownReader::kMaxMarkup + 1) return;
            const char c = m_s[m_i];
            switch (c) {
            case '\\':
                if (m_i + 1 < m_s.size() && markdown_syntax::isAsciiPunctuation(m_s[m_i + 1])) {
                    m_buffer += m_s[m_i + 1];
                    m_i += 2;
                } else if (m_i + 1 < m_s.size() && m_s[m_i + 1] == '\n') {
                    ++m_i;  // a hard line break: the backslash goes, the line feed stays
                } else {
                    m_buffer += '\\';
                    ++m_i;
                }
                break;
            case '`':
                scanBackticks();
                break;
            case '*':
            case '_':
                scanDelimiterRun(c);
                break;
            case '!':
                if (m_i + 1 < m_s.size() && m_s[m_i + 1] == '[') {
                    openBracket(true);
                } else {
                    m_buffer += c;
                    ++m_i;
                }
                break;
            case '[':
                openBracket(false);
                break;
            case ']':
                closeBracket();
                break;
            case '<':
                if (!scanAutolink()) {
                    m_buffer += c;
                    ++m_i;
                }
                break;
            case '&':
                if (!scanEntity()) {
                    m_buffer += c;
                    ++m_i;
                }
                break;
            default:
                m_buffer += c;
                ++m_i;
            }
        }
    }

    void scanBackticks() {
        size_t run = 0;
        while (m_i + run < m_s.size() && m_s[m_i + run] == '`') ++run;
        const size_t contentStart = m_i + run;
        size_t closer = std::string_view::npos;
        auto known = m_noCloserFrom.find(run);
        if (known == m_noCloserFrom.end() || contentStart < known->second) {
            for (size_t j = contentStart; j < m_s.size();) {
                if (m_s[j] != '`') {
                    ++j;
                    continue;
                }
                size_t other = 0;
                while (j + other < m_s.size() && m_s[j + other] == '`') ++other;
                if (other == run) {
                    closer = j;
                    break;
                }
                j += other;
            }
            if (closer == std::string_view::npos) m_noCloserFrom[run] = contentStart;
        }
        if (closer == std::string_view::npos) {
            m_buffer.append(run, '`');
            m_i += run;
            return;
        }
        std::string content(m_s.substr(contentStart, closer - contentStart));
        for (char& ch : content)
            if (ch == '\n') ch = ' ';
        if (content.size() >= 2 && content.front() == ' ' && content.back() == ' ' &&
            content.find_first_not_of(' ') != std::string::npos)
            content = content.substr(1, content.size() - 2);
        flushText();
        Item item;
        item.kind = Item::Kind::code;
        item.text = std::move(content);
        m_items.push_back(std::move(item));
        m_i = closer + run;
    }

    void scanDelimiterRun(char c) {
        size_t run = 0;
        while (m_i + run < m_s.size() && m_s[m_i + run] == c) ++run;
        const char32_t before = scalarBefore(m_i);
        const char32_t after = scalarAt(m_i + run);
        const bool leftFlanking = !markdown_syntax::isMarkdownWhitespace(after) &&
                                  (!markdown_syntax::isMarkdownPunctuation(after) || markdown_syntax::isMarkdownWhitespace(before) || markdown_syntax::isMarkdownPunctuation(before));
        const bool rightFlanking = !markdown_syntax::isMarkdownWhitespace(before) &&
                                   (!markdown_syntax::isMarkdownPunctuation(before) || markdown_syntax::isMarkdownWhitespace(after) || markdown_syntax::isMarkdownPunctuation(after));
        flushText();
        Item item;
        item.kind = Item::Kind::delimiter;
        item.delimiter = c;
        item.count = item.originalCount = static_cast<int>(std::min<size_t>(run, 1u << 20));
        if (c == '*') {
            item.canOpen = leftFlanking;
            item.canClose = rightFlanking;
        } else {
            item.canOpen = leftFlanking && (!rightFlanking || markdown_syntax::isMarkdownPunctuation(before));
            item.canClose = rightFlanking && (!leftFlanking || markdown_syntax::isMarkdownPunctuation(after));
        }
        if (run > static_cast<size_t>(item.count)) {
            // An absurdly long run: the excess is plain text.
            m_buffer.append(run - static_cast<size_t>(item.count), c);
        }
        const int index = static_cast<int>(m_items.size());
        item.prev = m_lastDelimiter;
        item.inStack = true;
        m_items.push_back(std::move(item));
        if (m_lastDelimiter >= 0) m_items[static_cast<size_t>(m_lastDelimiter)].next = index;
        m_lastDelimiter = index;
        m_i += run;
        flushText();
    }

    void openBracket(bool image) {
        flushText();
        Item item;
        item.text = image ? "![" : "[";
        m_brackets.push_back(Bracket{static_cast<int>(m_items.size()), image});
        m_items.push_back(std::move(item));
        m_i += image ? 2 : 1;
    }

    void closeBracket() {
        if (m_brackets.empty()) {
            m_buffer += ']';
            ++m_i;
            return;
        }
        const Bracket bracket = m_brackets.back();
        if (!bracket.active) {
            m_brackets.pop_back();
            m_buffer += ']';
            ++m_i;
            return;
        }
        size_t end = 0;
        std::optional<std::string> destination = markdown_syntax::inlineDestination(m_s, m_i + 1, end);
        if (!destination) {
            m_brackets.pop_back();
            m_buffer += ']';
            ++m_i;
            return;
        }
        flushText();
        const int closer = static_cast<int>(m_items.size());
        m_items.push_back(Item{});
        processEmphasis(bracket.item);
        m_items[static_cast<size_t>(bracket.item)].text.clear();
        m_links.push_back(LinkRange{bracket.item, closer, bracket.image ? std::nullopt : destination});
        m_brackets.pop_back();
        if (!bracket.image)
            for (Bracket& earlier : m_brackets)
                if (!earlier.image) earlier.active = false;  // no links inside links
        m_i = end;
    }

    bool scanAutolink() {
        const std::optional<markdown_syntax::Autolink> link = markdown_syntax::autolinkAt(m_s, m_i);
        if (!link) return false;
        addAutolink(link->text, link->url, link->end);
        return true;
    }

    void addAutolink(const std::string& text, const std::string& url, size_t end) {
        flushText();
        const int opener = static_cast<int>(m_items.size());
        m_items.push_back(Item{});
        Item body;
        body.text = text;
        m_items.push_back(std::move(body));
        const int closer = static_cast<int>(m_items.size());
        m_items.push_back(Item{});
        m_links.push_back(LinkRange{opener, closer, url});
        m_i = end;
    }

    bool scanEntity() {
        size_t end = 0;
        const std::optional<char32_t> character = markdown_syntax::entityAt(m_s, m_i, end);
        if (!character) return false;
        unicode::appendUtf8(m_buffer, *character);
        m_i = end;
        return true;
    }

    void removeDelimiter(int index) {
        Item& d = m_items[static_cast<size_t>(index)];
        if (!d.inStack) return;
        if (d.prev >= 0) m_items[static_cast<size_t>(d.prev)].next = d.next;
        if (d.next >= 0) m_items[static_cast<size_t>(d.next)].prev = d.prev;
        if (m_lastDelimiter == index) m_lastDelimiter = d.prev;
        d.inStack = false;
        d.prev = d.next = -1;
    }

    // Matches emphasis among the delimiters after item `bottom`, then drops them from the stack.
    void processEmphasis(int bottom) {
        int first = m_lastDelimiter;
        while (first >= 0 && m_items[static_cast<size_t>(first)].prev > bottom) first = m_items[static_cast<size_t>(first)].prev;
        if (first <= bottom) return;

        std::map<std::tuple<char, bool, int>, int> openersBottom;
        int current = first;
        while (current >= 0) {
            Item& closer = m_items[static_cast<size_t>(current)];
            if (!closer.canClose) {
                current = closer.next;
                continue;
            }
            const auto key = std::make_tuple(closer.delimiter, closer.canOpen, closer.originalCount % 3);
            auto floorIt = openersBottom.find(key);
            const int floor = floorIt == openersBottom.end() ? bottom : std::max(bottom, floorIt->second);
            int opener = closer.prev;
            bool found = false;
            while (opener > floor) {
                const Item& o = m_items[static_cast<size_t>(opener)];
                if (o.delimiter == closer.delimiter && o.canOpen) {
                    const bool oddMatch = (o.canClose || closer.canOpen) && (o.originalCount + closer.originalCount) % 3 == 0 &&
                                          !(o.originalCount % 3 == 0 && closer.originalCount % 3 == 0);
                    if (!oddMatch) {
                        found = true;
                        break;
                    }
                }
                opener = o.prev;
            }
            if (found) {
                Item& o = m_items[static_cast<size_t>(opener)];
                const bool strong = o.count >= 2 && closer.count >= 2;
                const int used = strong ? 2 : 1;
                o.count -= used;
                closer.count -= used;
                m_emphasis.emplace_back(opener, current, strong);
                for (int between = o.next; between >= 0 && between != current;) {
                    const int after = m_items[static_cast<size_t>(between)].next;
                    removeDelimiter(between);
                    between = after;
                }
                if (o.count == 0) removeDelimiter(opener);
                if (closer.count == 0) {
                    const int after = closer.next;
                    removeDelimiter(current);
                    current = after;
                }
            } else {
                openersBottom[key] = closer.prev;
                const int after = closer.next;
                if (!closer.canOpen) removeDelimiter(current);
                current = after;
            }
        }
        while (m_lastDelimiter > bottom) removeDelimiter(m_lastDelimiter);
    }

    StyledText emit() const {
        const size_t n = m_items.size();
        std::vector<int> emphasis(n + 1, 0);
        std::vector<int> strong(n + 1, 0);
        for (const auto& [opener, closer, isStrong] : m_emphasis) {
            auto& diff = isStrong ? strong : emphasis;
            ++diff[static_cast<size_t>(opener) + 1];
            --diff[static_cast<size_t>(closer)];
        }
        // Links never nest, but an image may sit inside a link: the innermost range wins.
        std::vector<const LinkRange*> linkAt(n, nullptr);
        for (const LinkRange& link : m_links)
            for (int k = link.opener + 1; k < link.closer; ++k)
                if (!linkAt[static_cast<size_t>(k)] || linkAt[static_cast<size_t>(k)]->opener < link.opener) linkAt[static_cast<size_t>(k)] = &link;

        StyledText out;
        int em = 0;
        int st = 0;
        for (size_t k = 0; k < n; ++k) {
            em += emphasis[k];
            st += strong[k];
            const Item& item = m_items[k];
            TextAttributes attributes;
            if (em > 0) attributes.intent |= kIntentEmphasis;
            if (st > 0) attributes.intent |= kIntentStrong;
            if (item.kind == Item::Kind::code) attributes.intent |= kIntentCode;
            if (linkAt[k] && linkAt[k]->url) attributes.link = linkAt[k]->url;
            if (attributes.intent != kIntentNone) {
                // The look that carries the meaning to every writer.
                TextFont font = (attributes.intent & kIntentCode) ? TextFont::monospacedSystem(12) : TextFont::system();
                font.bold = (attributes.intent & kIntentStrong) != 0;
                font.italic = (attributes.intent & kIntentEmphasis) != 0;
                attributes.font = font;
            }
            if (item.kind == Item::Kind::delimiter)
                out.append(std::string(static_cast<size_t>(item.count), item.delimiter), attributes);
            else
                out.append(item.text, attributes);
        }
        return out;
    }
};

}  // namespace

StyledText MarkdownReader::parseInline(std::string_view text) {
    return InlineParser(text).run();
}

}  // namespace kolvex
