// SPDX-License-Identifier: GPL-3.0-or-later
// A folder whose name is not UTF-8, chosen in Settings with the desktop's chooser: its bytes are
// what the settings file keeps, what a restart reads and where the Portal then writes.
#include <algorithm>
#include <cmath>
#include <filesystem>

#include <gtest/gtest.h>

#include <QComboBox>
#include <QImage>
#include <QPushButton>
#include <QTest>

#include "support/ExternalTool.h"
#include "support/FakeFileChooser.h"
#include "support/TempDir.h"
#include "core/conversion/ConversionCoordinator.h"
#include "core/format/FormatRegistry.h"
#include "core/modules/EngineModules.h"
#include "core/services/UserDefaults.h"
#include "ui/portal/model/PortalModel.h"
#include "ui/windows/SettingsStore.h"
#include "ui/windows/SettingsView.h"

namespace kolvex::testing {
namespace {

namespace fs = std::filesystem;

TEST(SettingsFolder, AFolderNamedInAnotherEncodingIsStoredAndWrittenToByteForByte) {
    TempDir dir;
    const fs::path folder = dir.path() / "caf\xe9 folder";  // Latin-1: no UTF-8 text names it
    fs::create_directories(folder);
    const fs::path settingsFile = dir.path() / "settings.json";
    auto chooser = std::make_shared<FakeFileChooser>();
    {
        JsonFileUserDefaults defaults(settingsFile);
        SettingsStore store(defaults);
        SettingsView view(store, chooser);
        view.outputLocation()->activated(2);  // "A specific folder"
        QPushButton* choose = view.customFolderRow()->findChild<QPushButton*>();
        ASSERT_TRUE(choose);
        choose->click();
        ASSERT_EQ(chooser->shownCount(), 1u) << "the desktop's chooser is shown";
        EXPECT_EQ(chooser->requests.back().mode, FileChooser::Mode::chooseFolder);
        chooser->answer({folder});
        EXPECT_EQ(store.preferences().customOutputPath, std::optional<std::string>(folder.native()));
    }

    // The next launch reads the same bytes.
    JsonFileUserDefaults defaults(settingsFile);
    SettingsStore store(defaults);
    const Preferences settings = store.preferences();
    ASSERT_EQ(settings.customOutputPath, std::optional<std::string>(folder.native()));
    ASSERT_EQ(settings.outputLocation, Preferences::OutputLocation::custom);

    // The Portal the tray builds writes there.
    const fs::path source = dir.path() / "photo.png";
    QImage picture(12, 8, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    ASSERT_TRUE(picture.save(QString::fromStdString(source.string())));
    auto registry = std::make_shared<const FormatRegistry>(FormatRegistry::loadBundled());
    PortalModel model(registry, std::make_shared<ConversionCoordinator>(*registry, EngineModules::inProcessEngines()));
    model.preferencesProvider = [settings] { return settings; };
    std::vector<RunReport> reports;
    model.onCompleted = [&](const RunReport& report) { reports.push_back(report); };
    model.beginGesture(DragPayload({source}), PortalMode::convert, PortalModel::GestureStart::handedOver);
    const auto& targets = model.targets();
    const auto jpeg = std::find_if(targets.begin(), targets.end(), [](const RingTarget& t) {
        return t.formatID == std::optional<FormatID>(FormatID("jpg"));
    });
    ASSERT_NE(jpeg, targets.end());
    const double angle = model.layout().angle(static_cast<int>(jpeg - targets.begin()));
    model.updateCursor({150 * std::cos(angle), 150 * std::sin(angle)});
    ASSERT_TRUE(model.commit());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !reports.empty(); }, 30'000));
    ASSERT_EQ(reports.front().outputs.size(), 1u);
    const fs::path written = reports.front().outputs.front();
    EXPECT_EQ(written.parent_path().native(), folder.native());
    EXPECT_TRUE(fs::is_regular_file(folder / "photo.jpg"));
    const auto header = programOutput("/usr/bin/vipsheader", {(folder / "photo.jpg").string()});
    ASSERT_TRUE(header);
    EXPECT_NE(header->find("12x8"), std::string::npos) << *header;
}

}  // namespace
}  // namespace kolvex::testing
