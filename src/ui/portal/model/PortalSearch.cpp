// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/model/PortalSearch.h"

#include <algorithm>

#include <QString>
#include <QTextBoundaryFinder>

namespace kolvex {

bool PortalSearch::takes(const std::string& text) const {
    const QString typed = QString::fromStdString(text);
    if (typed.isEmpty()) return false;
    if (typed.front().isLetterOrNumber()) return true;
    return m_showingList && std::all_of(typed.begin(), typed.end(), [](QChar c) { return c.isPrint(); });
}

void PortalSearch::type(const std::string& text) {
    m_query = m_showingList ? m_query + text : text;
    m_highlight = 0;
    m_showingList = true;
}

void PortalSearch::deleteCharacter() {
    if (!m_showingList) return;
    QString query = QString::fromStdString(m_query);
    // One character as the user sees it, never half of one.
    QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, query);
    boundaries.toEnd();
    const qsizetype cut = boundaries.toPreviousBoundary();
    query.truncate(std::max<qsizetype>(cut, 0));
    if (query.isEmpty()) {
        end();
        return;
    }
    m_query = query.toStdString();
    m_highlight = 0;
}

void PortalSearch::end() {
    m_showingList = false;
    m_query.clear();
    m_highlight = 0;
}

void PortalSearch::moveHighlight(int delta, int rows) {
    if (rows <= 0) return;
    m_highlight = (((m_highlight + delta) % rows) + rows) % rows;
}

std::vector<RingTarget> PortalSearch::filter(const std::vector<RingTarget>& targets) const {
    if (m_query.empty()) return targets;
    const QString query = QString::fromStdString(m_query).toLower();
    std::vector<RingTarget> rows;
    for (const auto& t : targets) {
        if (QString::fromStdString(t.label).toLower().contains(query)) rows.push_back(t);
    }
    return rows;
}

}  // namespace kolvex
