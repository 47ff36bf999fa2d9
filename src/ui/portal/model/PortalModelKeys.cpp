// SPDX-License-Identifier: GPL-3.0-or-later
// The Portal model's keyboard path and its commits: Return, a drop, the arrows, Tab and the
// format search.
#include "ui/portal/model/PortalModel.h"

#include <algorithm>

#include "core/services/Log.h"

namespace kolvex {

// ---------------------------------------------------------------------------------------------
// Keyboard path and commit

bool PortalModel::commit() {
    // Only a choice made while browsing starts anything: a second Return or drop while a run
    // or its result is shown, or while a sheet is pending, does nothing.
    if (!phase().is(Phase::Kind::browsing)) return false;
    const auto target = selectedTarget();
    if (!target) return false;
    if (!m_payload || m_payload->isEmpty()) return false;  // a drag whose files never came
    if (m_selectedIndex) {
        const int n = m_layout.count;
        publish(m_commitAngle, n < 1 ? 0.0 : std::numbers::pi / 2 - *m_selectedIndex * 2 * std::numbers::pi / n,
                Field::commitAngle);
    }
    m_flow.commit(*target, *m_payload);
    return true;
}

bool PortalModel::commitDrop(const std::vector<std::filesystem::path>& files) {
    if (!phase().is(Phase::Kind::browsing) || !m_payload) return false;
    if (!files.empty() && files != m_payload->urls) {
        const auto chosen = selectedTarget();
        if (!chosen) return false;
        Log::interaction().info("DROP carries other files than the drag; the ring is built for them");
        DragPayload dropped(files);
        dropped.sourceWindow = m_payload->sourceWindow;  // the same drag, from the same window
        setPayload(dropped);
        rebuildRing();
        loadThumbnail(dropped);
        std::optional<int> index;
        for (size_t i = 0; i < m_targets.size(); ++i) {
            if (m_targets[i].id == chosen->id) index = static_cast<int>(i);
        }
        setSelectedIndex(index);
        if (!index) return false;
    }
    return commit();
}

void PortalModel::commitFromList() {
    const auto rows = filteredTargets();
    const int row = m_search.highlight();
    if (row < 0 || row >= static_cast<int>(rows.size())) return;
    const RingTarget chosen = rows[static_cast<size_t>(row)];
    for (size_t i = 0; i < m_targets.size(); ++i) {
        if (m_targets[i].id == chosen.id) {
            setSelectedIndex(static_cast<int>(i));
            break;
        }
    }
    endFormatSearch();
    commit();
}

void PortalModel::selectFirstTarget() {
    if (!m_targets.empty()) setSelectedIndex(0);
}

void PortalModel::cycleMode() {
    if (!phase().is(Phase::Kind::browsing)) return;
    apply(m_mode == PortalMode::convert ? PortalMode::tools : PortalMode::convert);
    selectFirstTarget();
}

void PortalModel::moveSelection(int delta) {
    if (!phase().is(Phase::Kind::browsing)) return;
    if (!m_search.isShowingList()) {
        const int n = static_cast<int>(m_targets.size());
        if (n == 0) return;
        const int current = m_selectedIndex.value_or(0);
        setSelectedIndex((((current + delta) % n) + n) % n);
    } else {
        m_search.moveHighlight(delta, static_cast<int>(filteredTargets().size()));
        announce(Field::listHighlight);
    }
}

void PortalModel::publishSearch() {
    announce(Field::formatQuery);
    announce(Field::listHighlight);
    announce(Field::isShowingFormatList);
}

void PortalModel::beginFormatSearch(const std::string& text) {
    if (!phase().is(Phase::Kind::browsing)) return;
    m_search.type(text);
    publishSearch();
}

void PortalModel::deleteSearchCharacter() {
    if (!m_search.isShowingList()) return;
    m_search.deleteCharacter();
    publishSearch();
}

void PortalModel::endFormatSearch() {
    m_search.end();
    publishSearch();
}

void PortalModel::dismissByKeyboard() {
    if (m_search.isShowingList()) {
        endFormatSearch();
        return;
    }
    if (phase().is(Phase::Kind::browsing)) {
        setRevealed(false);
        if (onFinished) onFinished();
        return;
    }
    cancelShownConversion();
}

std::vector<RingTarget> PortalModel::filteredTargets() const { return m_search.filter(m_targets); }

bool PortalModel::nothingToOffer() const {
    return m_payload && m_targets.empty() && phase().is(Phase::Kind::browsing);
}

std::string PortalModel::nothingHeadline() const {
    if (m_payload && m_provider->categoryCount(m_payload->urls) > 1) return "Pick one kind of file";
    return "Nothing to convert";
}

std::string PortalModel::nothingDetail() const {
    if (!m_payload) return "";
    if (m_provider->categoryCount(m_payload->urls) < 2) return m_payload->label();
    return "These are different kinds — drag videos with videos, images with images";
}

}  // namespace kolvex
