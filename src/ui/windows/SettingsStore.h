// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include <QObject>

#include "core/services/Preferences.h"

namespace kolvex {

class UserDefaults;

// The one live copy of the user's preferences in the interface. Every assignment that changes
// the value saves the whole record to the defaults store and then calls `onChange`, both before
// the assignment returns. GUI thread only (creating `shared()` is safe from any thread).
class SettingsStore : public QObject {
    Q_OBJECT

public:
    // Loads the preferences once from `defaults`, which must outlive the store.
    explicit SettingsStore(UserDefaults& defaults, QObject* parent = nullptr);

    // The process's store over the standard defaults, created on first use.
    static SettingsStore& shared();

    const Preferences& preferences() const { return m_preferences; }
    // Saves and notifies when `value` differs from the current preferences; otherwise only
    // `willChange` is emitted.
    void setPreferences(const Preferences& value);
    // Changes one field in place through `edit`, with the same rule.
    void update(const std::function<void(Preferences&)>& edit);
    // Removes the stored record, then assigns the defaults (saved again only when they differ
    // from what was held).
    void reset();

    UserDefaults& defaults() const { return m_defaults; }

    // The single observer, called with the new value after it was saved.
    std::function<void(const Preferences&)> onChange;

signals:
    // Emitted before every assignment, changed or not: views redraw from it.
    void willChange();
    // Emitted after every assignment, changed or not, once the new value is in place.
    void didChange();

private:
    UserDefaults& m_defaults;
    Preferences m_preferences;
};

}  // namespace kolvex
