// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sheets/PreparingView.h"

#include <QHBoxLayout>
#include <QProgressBar>
#include <QShortcut>
#include <QVBoxLayout>

#include "ui/sheets/SheetKit.h"

namespace kolvex {

PreparingView::PreparingView(const std::string& filename, std::function<void()> onCancel, QWidget* parent)
    : QWidget(parent) {
    auto* column = sheetkit::column(this, 360, 14);
    column->addWidget(sheetkit::title("Reading " + QString::fromStdString(filename) + "\u2026", 320));
    auto* busy = new QProgressBar;
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    column->addWidget(busy);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_cancel = new QPushButton("Cancel");
    connect(m_cancel, &QPushButton::clicked, this, [onCancel = std::move(onCancel)] {
        if (onCancel) onCancel();
    });
    buttons->addWidget(m_cancel);
    column->addLayout(buttons);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, m_cancel, &QPushButton::click);
}

}  // namespace kolvex
