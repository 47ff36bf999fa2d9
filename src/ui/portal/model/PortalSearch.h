// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "core/format/RingTarget.h"

namespace kolvex {

// The keyboard search over the ring's labels: the query typed so far, whether its list is
// open, and the row highlighted in it. A plain value; the model publishes its changes.
class PortalSearch {
public:
    bool isShowingList() const { return m_showingList; }
    const std::string& query() const { return m_query; }
    int highlight() const { return m_highlight; }

    // Whether a key's text goes to the search: a letter or digit opens the list; once it is
    // open, any printable text adds to the query — a space ("extract audio"), a hyphen, a dot.
    bool takes(const std::string& text) const;
    // Typed text: opens the list with it, or adds it to the open list's query. The first row
    // is highlighted.
    void type(const std::string& text);
    // Backspace: takes away the query's last character as the user sees it; an empty query
    // closes the list. Nothing when the list is closed.
    void deleteCharacter();
    // Closes the list, empties the query, highlights the first row.
    void end();
    // Moves the highlight over `rows` rows, wrapping around; nothing without rows.
    void moveHighlight(int delta, int rows);
    // The targets whose label holds the query, ignoring case, in ring order; all of them for
    // an empty query.
    std::vector<RingTarget> filter(const std::vector<RingTarget>& targets) const;

private:
    bool m_showingList = false;
    std::string m_query;
    int m_highlight = 0;
};

}  // namespace kolvex
