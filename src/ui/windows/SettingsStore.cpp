// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/windows/SettingsStore.h"

#include "core/services/UserDefaults.h"

namespace kolvex {

SettingsStore::SettingsStore(UserDefaults& defaults, QObject* parent)
    : QObject(parent), m_defaults(defaults), m_preferences(PreferencesStore::load(defaults)) {}

SettingsStore& SettingsStore::shared() {
    static SettingsStore* store = new SettingsStore(UserDefaults::standard());  // lives for the process
    return *store;
}

void SettingsStore::setPreferences(const Preferences& value) {
    emit willChange();
    const Preferences previous = m_preferences;
    m_preferences = value;
    if (m_preferences != previous) {
        PreferencesStore::save(m_preferences, m_defaults);
        if (onChange) {
            const Preferences current = m_preferences;  // the observer may assign again
            onChange(current);
        }
    }
    emit didChange();
}

void SettingsStore::update(const std::function<void(Preferences&)>& edit) {
    Preferences copy = m_preferences;
    edit(copy);
    setPreferences(copy);
}

void SettingsStore::reset() {
    PreferencesStore::reset(m_defaults);
    setPreferences(Preferences());
}

}  // namespace kolvex
