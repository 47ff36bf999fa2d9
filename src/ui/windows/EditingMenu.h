// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include <QKeySequence>

class QWidget;

namespace kolvex {

// The editing and close shortcuts of the application's windows. A tray application shows no
// menu bar, so the menu serves only through its shortcuts: `install` puts them on a window,
// where each sends its action to the focused widget (or closes the window). GUI thread only.
class EditingMenu {
public:
    struct Shortcut {
        std::string title;
        std::string action;  // the slot of the focused widget ("undo", "copy"…) or "close"
        QKeySequence key;
        bool operator==(const Shortcut&) const = default;
    };

    // Undo, Redo, Cut, Copy, Paste, Select All.
    static std::vector<Shortcut> shortcuts();
    // Close: Ctrl+W and Escape.
    static std::vector<Shortcut> windowShortcuts();
    // Adds the shortcuts to `window` as window-wide actions. A window whose content answers
    // Escape itself (a sheet's Cancel) leaves Escape out.
    static void install(QWidget* window, bool escapeCloses = true);
};

}  // namespace kolvex
