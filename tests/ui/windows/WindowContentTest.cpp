// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTextBrowser>
#include <QTextDocument>
#include <QPushButton>
#include <QTest>

#include "support/TempDir.h"
#include "ui/windows/AboutView.h"
#include "ui/windows/ApplicationResources.h"
#include "ui/windows/EditingMenu.h"
#include "ui/windows/WelcomeView.h"
#include "ui/windows/WindowPlacement.h"

namespace kolvex {
namespace {

TEST(EditingMenu, CloseShortcutClosesTheWindow) {
    QWidget window;
    auto* field = new QLineEdit(&window);
    EditingMenu::install(&window);
    window.show();
    window.activateWindow();
    field->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(field, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(window.isVisible());
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible()) << "Escape closes a window too";
}

TEST(WelcomeView, StepsNameTheTriggerAndTipsNameAlt) {
    const auto steps = WelcomeView::steps(TriggerModifier::control);
    EXPECT_EQ(steps[0].first, "Drag a file in the file manager");
    EXPECT_EQ(steps[1].first, "Hold ⌃ Control");
    EXPECT_NE(steps[2].second.find("Release Control at any point"), std::string::npos);
    EXPECT_EQ(WelcomeView::steps(TriggerModifier::shift)[1].first, "Hold ⇧ Shift");
    EXPECT_EQ(WelcomeView::steps(TriggerModifier::command)[1].first, "Hold Super");
    EXPECT_NE(WelcomeView::tips(TriggerModifier::shift).front().find("Hold Alt"), std::string::npos);
    // With Alt as the trigger, the tools ring is held with Shift.
    EXPECT_EQ(WelcomeView::tips(TriggerModifier::option).front(), "Hold Shift instead for tools — compress, resize, trim.");
}

TEST(WelcomeView, SampleButtonWorksOnce) {
    int samples = 0;
    WelcomeView view(TriggerModifier::shift, [&] { ++samples; }, false, nullptr, [] {});
    ASSERT_NE(view.sampleButton(), nullptr);
    view.sampleButton()->click();
    view.sampleButton()->click();
    EXPECT_EQ(samples, 1);
    EXPECT_FALSE(view.sampleButton()->isEnabled());
    EXPECT_EQ(view.sampleButton()->text().toStdString(), "Sample file is in the file manager");
}

TEST(WelcomeView, StartAppliesTheLoginChoiceThenFinishes) {
    std::vector<std::string> calls;
    WelcomeView view(
        TriggerModifier::shift, nullptr, true, [&](bool on) { calls.push_back(on ? "login on" : "login off"); },
        [&] { calls.push_back("done"); });
    EXPECT_EQ(view.sampleButton(), nullptr);
    EXPECT_TRUE(view.loginCheckBox()->isChecked());
    view.loginCheckBox()->setChecked(false);
    EXPECT_TRUE(calls.empty()) << "the checkbox alone applies nothing";
    view.doneButton()->click();
    EXPECT_EQ(calls, (std::vector<std::string>{"login off", "done"}));

    int done = 0;
    WelcomeView withoutLogin(TriggerModifier::shift, nullptr, true, nullptr, [&] { ++done; });
    withoutLogin.doneButton()->click();
    EXPECT_EQ(done, 1);
}

TEST(AboutView, VersionLineAndOptionalParts) {
    EXPECT_EQ(AboutView::versionLine({"1.4", "212", std::nullopt}), "Version 1.4 (212)");
    EXPECT_EQ(AboutView::versionLine({}), "Version dev (—)");

    int reports = 0;
    AboutView view([&] { ++reports; }, {"1.4", "212", "© Kolvex"},
                   std::string("# Notices\n\n| Component | Licence |\n|---|---|\n| zlib | Zlib |\n"));
    EXPECT_EQ(view.versionLabel()->text().toStdString(), "Version 1.4 (212)");
    EXPECT_TRUE(view.versionLabel()->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_EQ(view.copyrightLabel()->text().toStdString(), "© Kolvex");
    // Rendered, not shown as Markdown source: a heading and a table, no "#" or "|".
    const QString shown = view.licences()->toPlainText();
    EXPECT_TRUE(shown.contains("Notices") && shown.contains("zlib")) << shown.toStdString();
    EXPECT_FALSE(shown.contains('#') || shown.contains('|')) << shown.toStdString();
    EXPECT_NE(view.licences()->document()->toHtml().indexOf("<table"), -1);
    ASSERT_NE(view.reportButton(), nullptr);
    view.reportButton()->click();
    EXPECT_EQ(reports, 1);

    AboutView bare(nullptr, {}, std::string());
    EXPECT_EQ(bare.reportButton(), nullptr);
    EXPECT_TRUE(bare.copyrightLabel()->text().isEmpty());
    for (const auto& link : AboutView::links()) EXPECT_EQ(link.address.rfind("https://", 0), 0u) << link.title;
}

TEST(ApplicationResources, LicenceTextFallsBackWhenMissingOrNotUtf8) {
    testing::TempDir dir;
    const auto good = dir.write("LICENSES.md", "zlib — ©\n");
    const auto bad = dir.write("bad.md", std::string("\xff\xfe\xfa", 3));
    EXPECT_EQ(ApplicationResources::licenceText(good), "zlib — ©\n");
    const std::string fallback = ApplicationResources::licenceText(std::nullopt);
    EXPECT_EQ(fallback.rfind("The full open-source licence notices could not be loaded", 0), 0u);
    EXPECT_EQ(ApplicationResources::licenceText(bad), fallback);
    EXPECT_EQ(ApplicationResources::licenceText(dir / "missing.md"), fallback);
}

TEST(ApplicationResources, BundledImagesLoad) {
    EXPECT_FALSE(ApplicationResources::mark().isNull());
    EXPECT_FALSE(ApplicationResources::menuBarIcon().isNull());
    EXPECT_TRUE(ApplicationResources::licencesFile().has_value());
}

TEST(WindowPlacement, CentresWithRoundingAwayFromZero) {
    EXPECT_EQ(placement::centeredOrigin(QRect(0, 0, 1000, 800), QSize(200, 100)), QPoint(400, 350));
    EXPECT_EQ(placement::centeredOrigin(QRect(1920, 0, 1280, 1024), QSize(481, 341)), QPoint(2320, 342));
    EXPECT_EQ(placement::centeredOrigin(QRect(-1280, 0, 1280, 1024), QSize(481, 340)), QPoint(-881, 342));
}

TEST(WindowPlacement, KeepsAWindowThatTouchesTheScreenAndMovesOneThatDoesNot) {
    QScreen* screen = placement::activeScreen();
    ASSERT_NE(screen, nullptr);
    const QRect visible = screen->availableGeometry();
    QWidget window;
    window.resize(300, 200);
    window.move(visible.right() - 100, visible.top() + 10);
    placement::showOnActiveScreen(&window);
    EXPECT_EQ(window.pos(), QPoint(visible.right() - 100, visible.top() + 10));

    window.move(visible.right() + 5000, visible.bottom() + 5000);
    placement::showOnActiveScreen(&window);
    EXPECT_TRUE(window.frameGeometry().intersects(visible));
}

TEST(WindowPlacement, TinySizeHintLeavesTheSizeAlone) {
    QWidget window;  // no layout: an empty size hint
    window.resize(320, 240);
    placement::centerOnActiveScreen(&window);
    EXPECT_EQ(window.size(), QSize(320, 240));
}

}  // namespace
}  // namespace kolvex
