// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/StyledText.h"

namespace kolvex {

StyledText::StyledText(std::string text, TextAttributes attributes) {
    append(text, attributes);
}

void StyledText::append(std::string_view text, const TextAttributes& attributes) {
    if (text.empty()) return;
    if (!m_runs.empty() && m_runs.back().attributes == attributes) {
        m_runs.back().text.append(text);
        return;
    }
    m_runs.push_back(TextRun{std::string(text), attributes});
}

void StyledText::append(const StyledText& other) {
    for (const TextRun& run : other.m_runs) append(run.text, run.attributes);
}

void StyledText::trimTrailingWhitespace() {
    while (!m_runs.empty()) {
        std::string& text = m_runs.back().text;
        const size_t keep = text.find_last_not_of(" \t\n");
        if (keep != std::string::npos) {
            text.erase(keep + 1);
            return;
        }
        m_runs.pop_back();
    }
}

std::string StyledText::plainText() const {
    std::string out;
    out.reserve(size());
    for (const TextRun& run : m_runs) out += run.text;
    return out;
}

size_t StyledText::size() const {
    size_t total = 0;
    for (const TextRun& run : m_runs) total += run.text.size();
    return total;
}

std::vector<std::vector<TextRun>> StyledText::paragraphs() const {
    std::vector<std::vector<TextRun>> out;
    std::vector<TextRun> current;
    bool open = false;  // something (a run or a line feed) has started the current paragraph
    for (const TextRun& run : m_runs) {
        size_t start = 0;
        while (start <= run.text.size()) {
            size_t lf = run.text.find('\n', start);
            std::string_view piece(run.text.data() + start,
                                   (lf == std::string::npos ? run.text.size() : lf) - start);
            if (!piece.empty()) {
                current.push_back(TextRun{std::string(piece), run.attributes});
                open = true;
            }
            if (lf == std::string::npos) break;
            out.push_back(std::move(current));
            current.clear();
            open = false;
            start = lf + 1;
        }
    }
    if (open) out.push_back(std::move(current));
    return out;
}

}  // namespace kolvex
