// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>

#include "core/services/Preferences.h"
#include "core/services/UserDefaults.h"
#include "ui/windows/SettingsStore.h"
#include "ui/windows/SettingsView.h"
#include "support/FakeFileChooser.h"

namespace kolvex {
namespace {

struct Fixture {
    InMemoryUserDefaults defaults;
    SettingsStore store{defaults};
    std::shared_ptr<testing::FakeFileChooser> chooser = std::make_shared<testing::FakeFileChooser>();
    int changes = 0;
    SettingsView view{store, chooser};

    Fixture() {
        store.onChange = [this](const Preferences&) { ++changes; };
    }
};

TEST(SettingsView, HasFourTabsInOrder) {
    Fixture f;
    ASSERT_EQ(f.view.tabs()->count(), 4);
    const char* titles[] = {"General", "Conversion", "Appearance", "Advanced"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(f.view.tabs()->tabText(i).toStdString(), titles[i]);
    EXPECT_EQ(f.view.tabs()->currentIndex(), 0);
    EXPECT_EQ(f.view.size(), QSize(480, 340));
    EXPECT_EQ(f.view.outputLocation()->itemText(2).toStdString(), "A specific folder");
    EXPECT_EQ(f.view.parallelLimit()->itemText(0).toStdString(), "Decide automatically");
    EXPECT_EQ(SettingsView::countLabel(1), "1 file");
    EXPECT_EQ(SettingsView::countLabel(8), "8 files");
    EXPECT_EQ(f.view.logCaption()->text().toStdString(), "Logs go to the system journal as org.kolvex.Kolvex (journalctl -t org.kolvex.Kolvex).");
}

TEST(SettingsView, CustomFolderRowFollowsTheLocation) {
    Fixture f;
    EXPECT_TRUE(f.view.customFolderRow()->isHidden());
    f.view.outputLocation()->activated(2);
    EXPECT_EQ(f.store.preferences().outputLocation, Preferences::OutputLocation::custom);
    EXPECT_FALSE(f.view.customFolderRow()->isHidden());
    EXPECT_EQ(f.view.customFolderText()->text().toStdString(), "No folder chosen");

    f.view.chooseOutputFolder();
    ASSERT_EQ(f.chooser->requests.size(), 1u);
    EXPECT_EQ(f.chooser->requests[0].mode, FileChooser::Mode::chooseFolder);
    f.chooser->answer({});
    EXPECT_FALSE(f.store.preferences().customOutputPath) << "a cancelled chooser changes nothing";
    f.view.chooseOutputFolder();
    f.view.chooseOutputFolder();
    EXPECT_EQ(f.chooser->shownCount(), 1u) << "the newer chooser replaces the one still up";
    f.chooser->answer({"/srv/out"});
    EXPECT_EQ(f.store.preferences().customOutputPath, "/srv/out");

    f.view.outputLocation()->activated(0);
    EXPECT_TRUE(f.view.customFolderRow()->isHidden());
    EXPECT_EQ(f.store.preferences().customOutputPath, "/srv/out") << "the path is kept";
}

TEST(SettingsView, UnknownTriggerShowsShiftUntilARowIsChosen) {
    InMemoryUserDefaults defaults;
    Preferences stored;
    stored.triggerModifier = "hyper";
    PreferencesStore::save(stored, defaults);
    SettingsStore store(defaults);
    int changes = 0;
    store.onChange = [&](const Preferences&) { ++changes; };
    SettingsView view(store);
    EXPECT_EQ(view.trigger()->currentIndex(), 0);
    view.trigger()->activated(0);
    EXPECT_EQ(store.preferences().triggerModifier, "shift");
    EXPECT_EQ(changes, 1);
    view.trigger()->activated(3);
    EXPECT_EQ(store.preferences().triggerModifier, "control");
}

TEST(SettingsView, PickingTheSelectedChoiceWritesNothing) {
    Fixture f;
    f.view.conflictBehaviour()->activated(0);
    f.view.audioBitrate()->activated(2);
    EXPECT_EQ(f.changes, 0);
    EXPECT_FALSE(f.defaults.value(PreferencesStore::kKey));
}

TEST(SettingsView, ValuesOutsideTheChoicesStayStored) {
    InMemoryUserDefaults defaults;
    Preferences stored;
    stored.audioBitrate = 100000;
    stored.parallelLimit = 3;
    PreferencesStore::save(stored, defaults);
    SettingsStore store(defaults);
    SettingsView view(store);
    EXPECT_EQ(view.audioBitrate()->currentIndex(), -1);
    EXPECT_EQ(view.parallelLimit()->currentIndex(), -1);
    view.debugLogs()->setChecked(true);
    EXPECT_EQ(store.preferences().audioBitrate, 100000);
    EXPECT_EQ(store.preferences().parallelLimit, 3);
}

TEST(SettingsView, QualitySliderEditsTheFieldAndItsPercentage) {
    Fixture f;
    EXPECT_EQ(f.view.imageQualityText()->text().toStdString(), "85%");
    f.view.imageQuality()->setValue(570);
    EXPECT_DOUBLE_EQ(f.store.preferences().imageQuality, 0.57);
    EXPECT_EQ(f.view.imageQualityText()->text().toStdString(), "56%") << "truncated: 0.57 × 100 is just below 57";
    f.view.videoQuality()->setValue(f.view.videoQuality()->minimum());
    EXPECT_DOUBLE_EQ(f.store.preferences().videoQuality, 0.1);
}

TEST(SettingsView, FFmpegOverrideRowAndReset) {
    Fixture f;
    EXPECT_EQ(f.view.ffmpegText()->text().toStdString(), "Using your distribution\u2019s FFmpeg");
    EXPECT_TRUE(f.view.ffmpegReset()->isHidden());
    f.view.chooseFFmpeg();
    ASSERT_EQ(f.chooser->requests.size(), 1u);
    EXPECT_EQ(f.chooser->requests[0].mode, FileChooser::Mode::openFile);
    f.chooser->answer({"/opt/ffmpeg/bin/ffmpeg"});
    EXPECT_EQ(f.store.preferences().ffmpegOverridePath, "/opt/ffmpeg/bin/ffmpeg");
    EXPECT_FALSE(f.view.ffmpegReset()->isHidden());
    f.view.ffmpegReset()->click();
    EXPECT_FALSE(f.store.preferences().ffmpegOverridePath);
    EXPECT_TRUE(f.view.ffmpegReset()->isHidden());
    EXPECT_EQ(f.view.ffmpegText()->text().toStdString(), "Using your distribution\u2019s FFmpeg");
}

TEST(SettingsView, ResetAllRestoresTheDefaultsAndNoUpdatePromiseIsMade) {
    Fixture f;
    EXPECT_EQ(f.view.updateCaption()->text().toStdString(), "Updates come with your distribution's packages.");
    f.view.notifications()->setChecked(false);
    f.view.appearance()->activated(2);
    EXPECT_EQ(f.store.preferences().appearance, Preferences::Appearance::dark);

    f.view.resetAll()->click();
    EXPECT_EQ(f.store.preferences(), Preferences());
    EXPECT_TRUE(f.view.notifications()->isChecked());
}

}  // namespace
}  // namespace kolvex
