// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vector>

#include <QAccessibleWidget>

namespace kolvex {

class PortalView;

// What assistive technology is told of the Portal: the view as a whole says what it shows,
// and each chip of the ring is a child of its own with its name (the format or tool) and
// whether it is the chosen one. Created by Qt's accessibility through `factory`. GUI thread.
class PortalAccessible final : public QAccessibleWidget {
public:
    explicit PortalAccessible(PortalView* view);
    ~PortalAccessible() override;

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;

    PortalView* view() const;

    // Installed once by the Portal view.
    static QAccessibleInterface* factory(const QString& className, QObject* object);

private:
    mutable std::vector<QAccessible::Id> m_chips;  // made on first use, kept for the view's life
};

}  // namespace kolvex
