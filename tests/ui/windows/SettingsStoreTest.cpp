// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QSignalSpy>

#include "core/services/Preferences.h"
#include "core/services/UserDefaults.h"
#include "ui/windows/SettingsStore.h"

namespace kolvex {
namespace {

struct Observed {
    int saves = 0;  // assignments that reached the observer
    std::vector<Preferences> values;
};

// A store whose observer records what it is told, and checks the record was already saved.
struct Fixture {
    InMemoryUserDefaults defaults;
    SettingsStore store{defaults};
    Observed observed;

    Fixture() {
        store.onChange = [this](const Preferences& value) {
            observed.values.push_back(value);
            EXPECT_EQ(store.preferences(), value);
            EXPECT_EQ(PreferencesStore::load(defaults), value) << "saved before the observer runs";
        };
    }
};

TEST(SettingsStore, SavesAndNotifiesOnlyRealChanges) {
    Fixture f;
    QSignalSpy willChange(&f.store, &SettingsStore::willChange);

    f.store.setPreferences(f.store.preferences());
    EXPECT_TRUE(f.observed.values.empty());
    EXPECT_FALSE(f.defaults.value(PreferencesStore::kKey)) << "an equal value writes nothing";
    EXPECT_EQ(willChange.count(), 1) << "observers still hear of the assignment";

    f.store.update([](Preferences& p) { p.imageQuality = 0.5; });
    f.store.update([](Preferences& p) { p.imageQuality = 0.85; });
    ASSERT_EQ(f.observed.values.size(), 2u);
    EXPECT_EQ(f.observed.values[0].imageQuality, 0.5);
    EXPECT_EQ(f.observed.values[1], Preferences());
}

TEST(SettingsStore, ResetStoresTheDefaultsOnceAndOnlyWhenTheyDiffer) {
    Fixture f;
    PreferencesStore::save(Preferences(), f.defaults);
    f.store.reset();
    EXPECT_FALSE(f.defaults.value(PreferencesStore::kKey)) << "on the defaults: the record goes, nobody is told";
    EXPECT_TRUE(f.observed.values.empty());

    f.store.update([](Preferences& p) { p.triggerModifier = "control"; });
    f.observed.values.clear();
    f.store.reset();
    ASSERT_EQ(f.observed.values.size(), 1u);
    EXPECT_EQ(f.observed.values[0], Preferences());
    ASSERT_TRUE(f.defaults.value(PreferencesStore::kKey));
    EXPECT_EQ(PreferencesStore::load(f.defaults), Preferences());
}

TEST(SettingsStore, UndecodableRecordGivesDefaultsAndStaysUntilTheFirstChange) {
    InMemoryUserDefaults defaults;
    const auto garbage = DefaultsData::fromText("{not json");
    defaults.set(PreferencesStore::kKey, garbage);
    SettingsStore store(defaults);
    EXPECT_EQ(store.preferences(), Preferences());
    EXPECT_EQ(defaults.data(PreferencesStore::kKey), garbage);
    store.update([](Preferences& p) { p.debugLogging = true; });
    EXPECT_TRUE(PreferencesStore::load(defaults).debugLogging);
}

TEST(SettingsStore, LoadsOnceAtCreation) {
    InMemoryUserDefaults defaults;
    Preferences stored;
    stored.appearance = Preferences::Appearance::dark;
    PreferencesStore::save(stored, defaults);
    SettingsStore store(defaults);
    EXPECT_EQ(store.preferences().appearance, Preferences::Appearance::dark);
    PreferencesStore::save(Preferences(), defaults);
    EXPECT_EQ(store.preferences().appearance, Preferences::Appearance::dark) << "later writes by others are not seen";
}

}  // namespace
}  // namespace kolvex
