// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/PortalAccessible.h"

#include "ui/portal/PortalView.h"

namespace kolvex {

namespace {

// One chip of the ring. It reads the ring live, so it stays right as the ring changes; a chip
// beyond the current ring is no longer valid.
class ChipAccessible final : public QAccessibleInterface {
public:
    ChipAccessible(PortalAccessible* parent, int index) : m_parent(parent), m_index(index) {}

    bool isValid() const override { return m_parent->view() && m_index < m_parent->childCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_parent->window(); }
    QAccessibleInterface* parent() const override { return m_parent; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }
    QList<std::pair<QAccessibleInterface*, QAccessible::Relation>> relations(
        QAccessible::Relation = QAccessible::AllRelations) const override {
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}
    QAccessible::Role role() const override { return QAccessible::RadioButton; }

    QString text(QAccessible::Text t) const override {
        const auto target = this->target();
        if (!target) return {};
        switch (t) {
        case QAccessible::Name: return QString::fromStdString(target->label);
        case QAccessible::Description:
            return target->kind == RingTarget::Kind::tool ? QStringLiteral("Tool") : QStringLiteral("Format");
        default: return {};
        }
    }

    QAccessible::State state() const override {
        QAccessible::State s;
        s.selectable = true;
        s.checkable = true;
        const PortalView* view = m_parent->view();
        const auto selected = view ? view->model().selectedIndex() : std::nullopt;
        s.selected = s.checked = selected && *selected == m_index;
        s.invisible = !view || !view->isVisible() || !view->model().phase().is(PortalPhase::Kind::browsing);
        return s;
    }

    QRect rect() const override {
        const PortalView* view = m_parent->view();
        if (!view) return {};
        const QRectF local = view->chipRect(m_index);
        return QRect(view->mapToGlobal(local.topLeft().toPoint()), local.size().toSize());
    }

private:
    std::optional<RingTarget> target() const {
        const PortalView* view = m_parent->view();
        if (!view) return std::nullopt;
        const auto& targets = view->model().targets();
        if (m_index >= static_cast<int>(targets.size())) return std::nullopt;
        return targets[static_cast<std::size_t>(m_index)];
    }

    PortalAccessible* m_parent;
    int m_index;
};

}  // namespace

PortalAccessible::PortalAccessible(PortalView* view) : QAccessibleWidget(view, QAccessible::Grouping) {}

PortalAccessible::~PortalAccessible() {
    for (QAccessible::Id id : m_chips) QAccessible::deleteAccessibleInterface(id);
}

PortalView* PortalAccessible::view() const { return qobject_cast<PortalView*>(object()); }

int PortalAccessible::childCount() const {
    const PortalView* v = view();
    return v ? static_cast<int>(v->model().targets().size()) : 0;
}

QAccessibleInterface* PortalAccessible::child(int index) const {
    if (index < 0 || index >= childCount()) return nullptr;
    while (static_cast<int>(m_chips.size()) <= index) {
        auto* chip = new ChipAccessible(const_cast<PortalAccessible*>(this), static_cast<int>(m_chips.size()));
        m_chips.push_back(QAccessible::registerAccessibleInterface(chip));
    }
    return QAccessible::accessibleInterface(m_chips[static_cast<std::size_t>(index)]);
}

int PortalAccessible::indexOfChild(const QAccessibleInterface* child) const {
    for (std::size_t i = 0; i < m_chips.size(); ++i) {
        if (QAccessible::accessibleInterface(m_chips[i]) == child) {
            return static_cast<int>(i) < childCount() ? static_cast<int>(i) : -1;
        }
    }
    return -1;
}

QAccessibleInterface* PortalAccessible::childAt(int x, int y) const {
    for (int i = 0; i < childCount(); ++i) {
        QAccessibleInterface* chip = child(i);
        if (chip && chip->rect().contains(x, y)) return chip;
    }
    return nullptr;
}

QAccessibleInterface* PortalAccessible::factory(const QString& className, QObject* object) {
    if (className == QLatin1String("kolvex::PortalView") && object && object->isWidgetType()) {
        return new PortalAccessible(static_cast<PortalView*>(object));
    }
    return nullptr;
}

}  // namespace kolvex
