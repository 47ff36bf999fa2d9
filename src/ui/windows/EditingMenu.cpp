// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/windows/EditingMenu.h"

#include <QAction>
#include <QApplication>
#include <QWidget>

namespace kolvex {

std::vector<EditingMenu::Shortcut> EditingMenu::shortcuts() {
    return {
        {"Undo", "undo", QKeySequence(Qt::CTRL | Qt::Key_Z)},
        {"Redo", "redo", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
        {"Cut", "cut", QKeySequence(Qt::CTRL | Qt::Key_X)},
        {"Copy", "copy", QKeySequence(Qt::CTRL | Qt::Key_C)},
        {"Paste", "paste", QKeySequence(Qt::CTRL | Qt::Key_V)},
        {"Select All", "selectAll", QKeySequence(Qt::CTRL | Qt::Key_A)},
    };
}

std::vector<EditingMenu::Shortcut> EditingMenu::windowShortcuts() {
    return {{"Close", "close", QKeySequence(Qt::CTRL | Qt::Key_W)}, {"Close", "close", QKeySequence(Qt::Key_Escape)}};
}

void EditingMenu::install(QWidget* window, bool escapeCloses) {
    for (const auto& item : shortcuts()) {
        auto* action = new QAction(QString::fromStdString(item.title), window);
        action->setShortcut(item.key);
        action->setShortcutContext(Qt::WindowShortcut);
        const QByteArray slot = QByteArray::fromStdString(item.action);
        QObject::connect(action, &QAction::triggered, window, [slot] {
            // Text widgets handle these keys themselves; this reaches any other focused widget
            // that has the slot.
            QWidget* focus = QApplication::focusWidget();
            if (focus && focus->metaObject()->indexOfMethod(slot + "()") >= 0)
                QMetaObject::invokeMethod(focus, slot.constData());
        });
        window->addAction(action);
    }
    for (const auto& item : windowShortcuts()) {
        if (!escapeCloses && item.key == QKeySequence(Qt::Key_Escape)) continue;
        auto* action = new QAction(QString::fromStdString(item.title), window);
        action->setShortcut(item.key);
        action->setShortcutContext(Qt::WindowShortcut);
        QObject::connect(action, &QAction::triggered, window, [window] { window->close(); });
        window->addAction(action);
    }
}

}  // namespace kolvex
