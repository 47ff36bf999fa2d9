// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

namespace kolvex::testing {

// Lines of right-to-left and mixed text, each as it was written (logical order): ligatures
// (lam-alef, the word Allah), a Latin clause inside an Arabic line and the other way round,
// numbers, and Hebrew.
inline const std::vector<std::string>& writtenRightToLeftLines() {
    static const std::vector<std::string> lines{
        "لا سلام للاختبار الله",
        "Hello world مرحبا بالعالم and more",
        "مرحبا بالعالم Hello world نص عربي",
        "العدد 123 هنا والسلام",
        "שלום עולם זה טקסט",
        "The word שלום means peace",
    };
    return lines;
}

// The lines of `text` without empty ones, each trimmed.
inline std::vector<std::string> nonEmptyLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        line.erase(0, line.find_first_not_of(" \t\f\r"));
        line.erase(line.find_last_not_of(" \t\f\r") + 1);
        if (!line.empty()) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

}  // namespace kolvex::testing
