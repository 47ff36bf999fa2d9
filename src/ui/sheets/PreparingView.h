// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>

#include <QPushButton>
#include <QWidget>

namespace kolvex {

// What a sheet's window shows while the sheet reads its file: the file's name, a busy bar and
// Cancel (Escape), which stops the reading. GUI thread only.
class PreparingView : public QWidget {
    Q_OBJECT

public:
    PreparingView(const std::string& filename, std::function<void()> onCancel, QWidget* parent = nullptr);

    QPushButton* cancelButton() const { return m_cancel; }

private:
    QPushButton* m_cancel = nullptr;
};

}  // namespace kolvex
