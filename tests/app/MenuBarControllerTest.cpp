// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QAction>
#include <QFontMetrics>
#include <QMenu>
#include <QPainter>

#include "support/FakeFileChooser.h"
#include "app/MenuBarController.h"
#include "core/services/RecentConversions.h"
#include "core/services/UserDefaults.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

struct Fixture {
    InMemoryUserDefaults defaults;
    std::vector<std::string> calls;
    LoginItem::Status loginStatus = LoginItem::Status::notRegistered;
    std::optional<std::string> loginError;
    std::shared_ptr<testing::FakeFileChooser> chooser = std::make_shared<testing::FakeFileChooser>();
    std::vector<std::filesystem::path> revealed;
    std::vector<std::pair<std::string, std::string>> warnings;
    std::unique_ptr<MenuBarController> controller;

    Fixture() {
        MenuBarController::Commands commands;
        commands.onConvertFiles = [this](const std::vector<std::filesystem::path>& files) {
            calls.push_back("convert " + std::to_string(files.size()));
        };
        commands.onOpenSettings = [this] { calls.push_back("settings"); };
        commands.onOpenTuning = [this] { calls.push_back("tuning"); };
        commands.onOpenAbout = [this] { calls.push_back("about"); };
        commands.onOpenWelcome = [this] { calls.push_back("welcome"); };
        commands.onCancelConversion = [this] { calls.push_back("cancel all"); };
        MenuBarController::Services services;
        services.defaults = &defaults;
        services.loginStatus = [this] { return loginStatus; };
        services.setLoginItem = [this](bool on) -> std::optional<std::string> {
            calls.push_back(on ? "login on" : "login off");
            if (!loginError) loginStatus = on ? LoginItem::Status::enabled : LoginItem::Status::notRegistered;
            return loginError;
        };
        services.reveal = [this](const std::filesystem::path& file) { revealed.push_back(file); };
        services.chooser = chooser;
        services.reportIssue = [this] { calls.push_back("report"); };
        services.quit = [this] { calls.push_back("quit"); };
        services.warn = [this](const std::string& message, const std::string& detail) {
            warnings.emplace_back(message, detail);
        };
        services.showTrayIcon = false;
        controller = std::make_unique<MenuBarController>(std::move(commands), std::move(services));
    }

    std::vector<std::string> titles(QMenu* menu = nullptr) {
        if (!menu) {
            controller->rebuildMenu();
            menu = controller->menu();
        }
        std::vector<std::string> result;
        for (QAction* action : menu->actions())
            result.push_back(action->isSeparator() ? "---" : action->text().toStdString());
        return result;
    }
    QAction* item(const std::string& title, QMenu* menu = nullptr) {
        for (QAction* action : (menu ? menu : controller->menu())->actions())
            if (action->text().toStdString() == title) return action;
        return nullptr;
    }
};

TEST(MenuBarController, IdleMenu) {
    Fixture f;
    EXPECT_EQ(f.titles(), (std::vector<std::string>{"Kolvex", "---", "Convert Files…", "Recent", "---", "Settings…",
                                                    "Portal Tuning…", "Open at Login", "About Kolvex", "How to Use Kolvex", "Report an Issue…", "---",
                                                    "Quit Kolvex"}));
    EXPECT_FALSE(f.item("Kolvex")->isEnabled());
    EXPECT_EQ(f.item("Convert Files…")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    EXPECT_EQ(f.item("Quit Kolvex")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    QMenu* recent = f.item("Recent")->menu();
    ASSERT_NE(recent, nullptr);
    EXPECT_EQ(f.titles(recent), (std::vector<std::string>{"Nothing yet"}));
    EXPECT_FALSE(f.item("Nothing yet", recent)->isEnabled());
}

TEST(MenuBarController, CommandsReachTheirCallbacks) {
    Fixture f;
    f.titles();
    for (const char* title :
         {"Settings…", "Portal Tuning…", "About Kolvex", "How to Use Kolvex", "Report an Issue…", "Quit Kolvex"})
        f.item(title)->trigger();
    EXPECT_EQ(f.calls, (std::vector<std::string>{"settings", "tuning", "about", "welcome", "report", "quit"}));

    f.calls.clear();
    f.item("Convert Files…")->trigger();
    ASSERT_EQ(f.chooser->shownCount(), 1u);
    EXPECT_EQ(f.chooser->requests.back().mode, FileChooser::Mode::openFiles);
    EXPECT_EQ(f.chooser->requests.back().title, "Choose files to send through the Portal");
    EXPECT_TRUE(f.calls.empty()) << "nothing happens before the user answers";
    ASSERT_TRUE(f.chooser->answer({}));
    EXPECT_TRUE(f.calls.empty()) << "a cancelled chooser calls nothing";
    f.item("Convert Files…")->trigger();
    ASSERT_TRUE(f.chooser->answer({"/photos/a.png", "/photos/b.png"}));
    EXPECT_EQ(f.calls, (std::vector<std::string>{"convert 2"}));
}

// Asked again while its chooser is up, the menu shows one chooser, not two; the next one opens
// where the last files were chosen. Names that are not UTF-8 reach the Portal byte for byte.
TEST(MenuBarController, ConvertFilesShowsOneChooserAtATime) {
    Fixture f;
    std::vector<std::filesystem::path> handed;
    f.titles();
    f.item("Convert Files…")->trigger();
    f.item("Convert Files…")->trigger();
    EXPECT_EQ(f.chooser->shownCount(), 1u);
    EXPECT_EQ(f.chooser->withdrawn, 1);
    const std::filesystem::path odd = "/old camera/caf\xe9 \xff.jpg";
    ASSERT_TRUE(f.chooser->answer({odd}));
    EXPECT_EQ(f.calls, (std::vector<std::string>{"convert 1"}));
    f.item("Convert Files…")->trigger();
    ASSERT_TRUE(f.chooser->requests.back().startFolder.has_value());
    EXPECT_EQ(*f.chooser->requests.back().startFolder, odd.parent_path());
}

TEST(MenuBarController, RunningConversionsAreListedAndCancellable) {
    Fixture f;
    std::vector<PortalConnection::Conversion> running{{Uuid::random(), "clip.mov", 0.05, true}};
    f.controller->activeConversions = [&] { return running; };
    std::vector<Uuid> cancelled;
    f.controller->onCancelOneConversion = [&](const Uuid& id) { cancelled.push_back(id); };

    auto titles = f.titles();
    ASSERT_GE(titles.size(), 6u);
    EXPECT_EQ(titles[2], "Converting");
    EXPECT_EQ(titles[3], "  clip.mov  ▮▯▯▯▯▯▯▯▯▯    5%");
    EXPECT_EQ(titles[4], "---");
    EXPECT_EQ(titles[5], "Convert Files…");
    QMenu* row = f.controller->menu()->actions()[3]->menu();
    ASSERT_NE(row, nullptr);
    EXPECT_TRUE(f.controller->menu()->actions()[3]->isEnabled());
    row->actions().front()->trigger();
    ASSERT_EQ(cancelled.size(), 1u);
    EXPECT_EQ(cancelled[0], running[0].id);

    running.push_back({Uuid::random(), "b.wav", 0.5, false});
    titles = f.titles();
    EXPECT_EQ(titles[2], "Converting 2 files");
    EXPECT_EQ(titles[5], "Cancel All Conversions");
    EXPECT_EQ(titles[6], "---");
    f.item("Cancel All Conversions")->trigger();
    EXPECT_EQ(f.calls, (std::vector<std::string>{"cancel all"}));
}

TEST(MenuBarController, RowTitleBarAndPercent) {
    struct Case {
        double progress;
        int filled, empty;
        std::string percent;
    };
    for (const Case& c : std::vector<Case>{{0.05, 1, 9, "    5%"}, {0.04, 0, 10, "    4%"}, {1.0, 10, 0, "  100%"},
                                           {0.999, 10, 0, "   99%"}, {0.0, 0, 10, "    0%"}}) {
        const auto title = MenuBarController::progressTitle("x", c.progress, false);
        std::string bar;
        for (int i = 0; i < c.filled; ++i) bar += "▮";
        for (int i = 0; i < c.empty; ++i) bar += "▯";
        EXPECT_EQ(title.bar, bar) << c.progress;
        EXPECT_EQ(title.percent, c.percent) << c.progress;
        EXPECT_EQ(title.label, "  x  ");
    }
    EXPECT_TRUE(MenuBarController::progressTitle("x", 0.5, true).accent);

    // The bar's cells are ones the menu's font can draw.
    const QFont font = QMenu().font();
    const auto cells = MenuBarController::barCellsFor(font);
    for (const auto& cell : {cells.filled, cells.empty})
        EXPECT_TRUE(QFontMetrics(font).inFontUcs4(QString::fromStdString(cell).toUcs4().front())) << cell;
    EXPECT_EQ(MenuBarController::progressTitle("x", 0.3, false, {"#", "-"}).bar, "###-------");
}

// The percentage reads on a light tray, a dark one and a grey one, in a light or a dark theme.
TEST(MenuBarController, TrayPercentageIsLegibleOnAnyTray) {
    const auto luminance = [](QRgb pixel) {
        return (0.2126 * qRed(pixel) + 0.7152 * qGreen(pixel) + 0.0722 * qBlue(pixel)) / 255.0;
    };
    const QImage icon = MenuBarController::trayIcon(45);
    for (const QColor tray : {QColor(Qt::white), QColor(Qt::black), QColor(128, 128, 128), QColor(46, 52, 64)}) {
        QImage shown(icon.size(), QImage::Format_ARGB32);
        shown.fill(tray);
        QPainter(&shown).drawImage(0, 0, icon);
        // The digits against their own backdrop, in the middle of the icon.
        double darkest = 1, lightest = 0;
        for (int y = icon.height() * 3 / 10; y < icon.height() * 7 / 10; ++y)
            for (int x = icon.width() * 3 / 10; x < icon.width() * 7 / 10; ++x) {
                darkest = std::min(darkest, luminance(shown.pixel(x, y)));
                lightest = std::max(lightest, luminance(shown.pixel(x, y)));
            }
        EXPECT_GT(lightest - darkest, 0.7) << tray.name().toStdString();
        // The badge's rim stands apart from the tray.
        const double rim = luminance(shown.pixel(icon.width() / 2, 3));
        const double centre = luminance(shown.pixel(icon.width() / 2 - 9, icon.height() / 2 + 9));
        EXPECT_GT(std::max(std::abs(rim - luminance(tray.rgb())), std::abs(centre - luminance(tray.rgb()))), 0.4)
            << tray.name().toStdString();
    }
}

TEST(MenuBarController, ProgressTitleAndTooltip) {
    Fixture f;
    int count = 1;
    f.controller->activeConversionCount = [&] { return count; };
    EXPECT_EQ(f.controller->title(), "");
    f.controller->showProgress(0.456, std::string("clip.mov"));
    EXPECT_EQ(f.controller->title(), " 45%");
    EXPECT_EQ(f.controller->toolTip(), "Converting clip.mov");
    count = 3;
    f.controller->showProgress(0.456, std::nullopt);
    EXPECT_EQ(f.controller->title(), " 3 · 45%");
    EXPECT_EQ(f.controller->toolTip(), "Converting clip.mov") << "a report without a description keeps the last one";
    f.controller->showProgress(std::nullopt, std::nullopt);
    EXPECT_EQ(f.controller->title(), "");
    EXPECT_EQ(f.controller->toolTip(), "Kolvex");
    f.controller->showProgress(0.1, std::nullopt);
    EXPECT_EQ(f.controller->toolTip(), "Converting");
    EXPECT_FALSE(f.controller->iconScreenFrame()) << "no tray, no frame";
}

TEST(MenuBarController, RecentConversionsShowTheirFolderRevealAndClear) {
    Fixture f;
    testing::TempDir dir;
    const auto output = dir.write("photo.webp", "x");
    RecentConversionsStore::record({RecentConversion(output, dir / "photo.heic", RecentConversion::Clock::now())},
                                   f.defaults);
    f.titles();
    QMenu* recent = f.item("Recent")->menu();
    const std::string item = "photo.webp\t" + dir.path().string();
    EXPECT_EQ(f.titles(recent), (std::vector<std::string>{item, "---", "Clear Menu"}));
    EXPECT_EQ(f.item(item, recent)->toolTip().toStdString(), "From photo.heic");
    f.item(item, recent)->trigger();
    EXPECT_EQ(f.revealed, (std::vector<std::filesystem::path>{output}));
    f.item("Clear Menu", recent)->trigger();
    EXPECT_TRUE(RecentConversionsStore::load(f.defaults).empty());

    EXPECT_EQ(MenuBarController::recentItemText("/home/ann/Pictures/a.png", "/home/ann").toStdString(),
              "a.png\t~/Pictures");
    EXPECT_EQ(MenuBarController::recentItemText("/home/anna/a.png", "/home/ann").toStdString(), "a.png\t/home/anna");
    EXPECT_EQ(MenuBarController::recentItemText("/home/ann/caf\xe9.png", "/home/ann").toStdString(), "caf\uFFFD.png\t~");
}

TEST(MenuBarController, OpenAtLoginFollowsTheRealState) {
    Fixture f;
    f.titles();
    EXPECT_FALSE(f.item("Open at Login")->isChecked());
    f.item("Open at Login")->trigger();
    EXPECT_EQ(f.calls, (std::vector<std::string>{"login on"}));
    f.titles();
    EXPECT_TRUE(f.item("Open at Login")->isChecked());

    f.loginError = "read-only file system";
    f.item("Open at Login")->trigger();
    ASSERT_EQ(f.warnings.size(), 1u);
    EXPECT_EQ(f.warnings[0].first, "Could not stop Kolvex opening at login.");
    EXPECT_EQ(f.warnings[0].second,
              "read-only file system. You can also change this in your desktop's settings for startup applications.");
    f.titles();
    EXPECT_TRUE(f.item("Open at Login")->isChecked()) << "a failed change leaves the check mark";
}

}  // namespace
}  // namespace kolvex
