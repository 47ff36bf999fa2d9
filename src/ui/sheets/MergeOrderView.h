// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <QListWidget>
#include <QPushButton>
#include <QWidget>

#include "ui/sheets/MediaSheetModels.h"

namespace kolvex {

// The merge tool's sheet: the dropped files as a numbered list, reordered by dragging rows or
// by moving the selected row with two arrows; Merge hands the order back. GUI thread only.
class MergeOrderView : public QWidget {
    Q_OBJECT

public:
    MergeOrderView(std::vector<std::filesystem::path> files, std::string label,
                   std::function<void(std::vector<std::filesystem::path>)> onApply, std::function<void()> onCancel,
                   QWidget* parent = nullptr);

    void selectRow(int row);
    void moveSelection(int offset);
    // As a row drag does: the rows at `from` moved before position `to`.
    void moveRows(const std::vector<size_t>& from, size_t to);

    const MergeOrder& order() const { return m_order; }
    QListWidget* list() const { return m_list; }
    QPushButton* upButton() const { return m_up; }
    QPushButton* downButton() const { return m_down; }
    QPushButton* mergeButton() const { return m_merge; }
    QPushButton* cancelButton() const { return m_cancel; }

private:
    void refresh();
    void takeOrderFromList();

    MergeOrder m_order;
    std::function<void(std::vector<std::filesystem::path>)> m_onApply;
    std::function<void()> m_onCancel;
    bool m_refreshing = false;

    QListWidget* m_list = nullptr;
    QPushButton* m_up = nullptr;
    QPushButton* m_down = nullptr;
    QPushButton* m_merge = nullptr;
    QPushButton* m_cancel = nullptr;
};

}  // namespace kolvex
