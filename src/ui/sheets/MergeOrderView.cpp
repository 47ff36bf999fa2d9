// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sheets/MergeOrderView.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "ui/sheets/SheetKit.h"

namespace kolvex {

namespace {

// Reports the new order after the user drags rows within the list.
class OrderList : public QListWidget {
public:
    std::function<void()> onReordered;

protected:
    void dropEvent(QDropEvent* event) override {
        QListWidget::dropEvent(event);
        if (onReordered) onReordered();
    }
};

}  // namespace

MergeOrderView::MergeOrderView(std::vector<std::filesystem::path> files, std::string label,
                               std::function<void(std::vector<std::filesystem::path>)> onApply,
                               std::function<void()> onCancel, QWidget* parent)
    : QWidget(parent), m_order(std::move(files)), m_onApply(std::move(onApply)), m_onCancel(std::move(onCancel)) {
    auto* column = sheetkit::column(this, 460, 14);
    auto* header = new QVBoxLayout;
    header->setSpacing(3);
    header->addWidget(sheetkit::label("Order for " + QString::fromStdString(label), 14, QFont::DemiBold));
    auto* hint = sheetkit::label("They are joined top to bottom. Drag to reorder, or use the arrows.", 11,
                                 QFont::Normal, true);
    hint->setWordWrap(true);
    header->addWidget(hint);
    column->addLayout(header);

    auto* list = new OrderList;
    list->onReordered = [this] { takeOrderFromList(); };
    m_list = list;
    m_list->setFixedHeight(190);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setDragDropMode(QAbstractItemView::InternalMove);
    m_list->setDefaultDropAction(Qt::MoveAction);
    m_list->setTextElideMode(Qt::ElideMiddle);
    // Selection, not the current row: focus alone makes a row current without choosing it.
    connect(m_list, &QListWidget::itemSelectionChanged, this, [this] {
        if (m_refreshing) return;
        const auto items = m_list->selectedItems();
        if (items.isEmpty()) {
            m_order.selection.reset();
        } else {
            const auto row = static_cast<size_t>(items.front()->data(Qt::UserRole).toInt());
            if (row < m_order.files.size()) m_order.selection = m_order.files[row];
        }
        refresh();
    });
    column->addWidget(m_list);

    auto* footer = new QHBoxLayout;
    footer->setSpacing(8);
    m_up = new QPushButton("\u2191");
    m_down = new QPushButton("\u2193");
    connect(m_up, &QPushButton::clicked, this, [this] { moveSelection(-1); });
    connect(m_down, &QPushButton::clicked, this, [this] { moveSelection(1); });
    footer->addWidget(m_up);
    footer->addWidget(m_down);
    footer->addStretch(1);
    m_cancel = new QPushButton("Cancel");
    m_merge = new QPushButton(QString::fromStdString(m_order.applyTitle()));
    for (auto* b : {m_up, m_down, m_cancel}) b->setAutoDefault(false);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_onCancel) m_onCancel();
    });
    connect(m_merge, &QPushButton::clicked, this, [this] {
        if (m_onApply) m_onApply(m_order.files);
    });
    footer->addWidget(m_cancel);
    footer->addWidget(m_merge);
    column->addLayout(footer);
    sheetkit::bindKeys(this, m_cancel, m_merge);
    refresh();
}

void MergeOrderView::selectRow(int row) {
    m_list->setCurrentRow(row);
}

void MergeOrderView::moveSelection(int offset) {
    m_order.move(offset);
    refresh();
}

void MergeOrderView::moveRows(const std::vector<size_t>& from, size_t to) {
    m_order.moveRows(from, to);
    refresh();
}

void MergeOrderView::takeOrderFromList() {
    // The list moved its items; each carries its position in the order it was built from, so
    // names that are not valid text survive the round trip.
    std::vector<std::filesystem::path> files;
    std::vector<bool> seen(m_order.files.size(), false);
    for (int i = 0; i < m_list->count(); ++i) {
        const auto row = static_cast<size_t>(m_list->item(i)->data(Qt::UserRole).toInt());
        if (row >= m_order.files.size() || seen[row]) break;
        seen[row] = true;
        files.push_back(m_order.files[row]);
    }
    if (files.size() == m_order.files.size()) m_order.files = std::move(files);  // never lose or invent a file
    refresh();
}

void MergeOrderView::refresh() {
    m_refreshing = true;
    m_list->clear();
    for (size_t i = 0; i < m_order.files.size(); ++i) {
        const auto& file = m_order.files[i];
        auto* item = new QListWidgetItem(
            QString("%1   %2").arg(i + 1, 2).arg(QString::fromStdString(file.filename().string())));
        item->setData(Qt::UserRole, static_cast<int>(i));
        m_list->addItem(item);
    }
    if (const auto position = m_order.index(m_order.selection)) m_list->setCurrentRow(static_cast<int>(*position));
    m_refreshing = false;
    m_up->setEnabled(m_order.canMove(-1));
    m_down->setEnabled(m_order.canMove(1));
    m_merge->setText(QString::fromStdString(m_order.applyTitle()));
}

}  // namespace kolvex
