// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDialog>
#include <QImage>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QPushButton>

#include "FakePortal.h"
#include "app/AppDelegate.h"
#include "app/ToolSheetFactory.h"
#include "core/format/ConversionJob.h"
#include "core/services/Log.h"
#include "core/services/RecentConversions.h"
#include "core/services/UserDefaults.h"
#include "support/RingTargets.h"
#include "support/TempDir.h"
#include "ui/windows/SettingsStore.h"
#include "ui/windows/WelcomeView.h"

namespace kolvex {
namespace {

class CountingSender final : public NotificationSender {
public:
    int* requests;
    std::vector<Notification>* posted;
    CountingSender(int* r, std::vector<Notification>* p) : requests(r), posted(p) {}
    void requestAuthorisation(std::function<void(std::optional<bool>)> done) override {
        ++*requests;
        done(true);
    }
    void post(const Notification& notification) override { posted->push_back(notification); }
};

struct Fixture {
    InMemoryUserDefaults defaults;
    SettingsStore settings{defaults};
    int authorisationRequests = 0;
    std::vector<Notification> posted;
    ConversionNotifier notifier{std::make_unique<CountingSender>(&authorisationRequests, &posted), defaults};
    testing::FakePortal* portal = nullptr;
    bool portalDestroyed = false;
    LoginItem::Status loginStatus = LoginItem::Status::notRegistered;
    std::vector<bool> loginChoices;
    int samples = 0;
    std::unique_ptr<AppDelegate> delegate;

    AppDelegate::Environment environment() {
        AppDelegate::Environment env;
        env.defaults = &defaults;
        env.settings = &settings;
        env.notifier = &notifier;
        env.applyAppearance = false;
        env.loadRegistry = [] { return FormatRegistry::loadBundled(); };
        env.portalFactory = [this](TriggerModifier trigger, std::shared_ptr<const FormatRegistry>,
                                   std::shared_ptr<ConversionCoordinator>) {
            auto fake = std::make_unique<testing::FakePortal>();
            fake->calls.push_back("created " + std::string(toString(trigger)));
            fake->destroyed = &portalDestroyed;
            portal = fake.get();
            return fake;
        };
        env.makeMenuBar = [this](MenuBarController::Commands commands) {
            MenuBarController::Services services;
            services.defaults = &defaults;
            services.loginStatus = [this] { return loginStatus; };
            services.showTrayIcon = false;
            return std::make_unique<MenuBarController>(std::move(commands), std::move(services));
        };
        env.loginStatus = [this] { return loginStatus; };
        env.setLoginItem = [this](bool on) -> std::optional<std::string> {
            loginChoices.push_back(on);
            return std::nullopt;
        };
        env.revealSample = [this] { ++samples; };
        return env;
    }

    void launch(AppDelegate::Environment env) {
        delegate = std::make_unique<AppDelegate>(std::move(env));
        delegate->applicationDidFinishLaunching();
    }
    void launch() { launch(environment()); }
    ~Fixture() {
        delegate.reset();
        for (QWidget* window : QApplication::topLevelWidgets()) window->hide();
    }
};

TEST(AppDelegate, LaunchWiresThePortalAndTheTray) {
    Fixture f;
    f.settings.update([](Preferences& p) {
        p.triggerModifier = "bogus";
        p.debugLogging = true;
    });
    f.launch();
    ASSERT_NE(f.portal, nullptr);
    EXPECT_EQ(f.portal->calls, (std::vector<std::string>{"created shift", "diagnostics on", "start"}));
    ASSERT_NE(f.delegate->menuBar(), nullptr);
    ASSERT_TRUE(f.delegate->registry());
    ASSERT_TRUE(f.portal->collapseTarget);
    EXPECT_FALSE(f.portal->collapseTarget()) << "no tray frame is known";

    f.portal->running = {{Uuid::random(), "a.mov", 0.5, true}};
    EXPECT_EQ(f.delegate->menuBar()->activeConversionCount(), 1);
    EXPECT_EQ(f.delegate->menuBar()->activeConversions().size(), 1u);
    f.delegate->menuBar()->onCancelOneConversion(Uuid::random());
    EXPECT_EQ(f.portal->calls.back(), "cancel one");

    // The tray comes up before the Portal is built, and goes when no Portal can be.
    Fixture none;
    auto env = none.environment();
    env.portalFactory = [](TriggerModifier, std::shared_ptr<const FormatRegistry>,
                           std::shared_ptr<ConversionCoordinator>) -> std::unique_ptr<PortalConnection> { return nullptr; };
    none.launch(std::move(env));
    EXPECT_EQ(none.delegate->menuBar(), nullptr);
}

TEST(AppDelegate, WelcomeOnTheFirstLaunchAndFromTheMenu) {
    Fixture f;
    f.launch();
    ASSERT_NE(f.delegate->welcomeWindow(), nullptr);
    EXPECT_TRUE(f.delegate->welcomeWindow()->isVisible());
    EXPECT_EQ(f.delegate->welcomeWindow()->windowTitle().toStdString(), "Welcome to Kolvex");
    EXPECT_EQ(f.defaults.boolean(AppDelegate::kDidShowWelcomeKey), true);

    Fixture second;
    second.defaults.set(AppDelegate::kDidShowWelcomeKey, true);
    second.defaults.set(AppDelegate::kLoginItemOfferedKey, true);
    second.loginStatus = LoginItem::Status::enabled;
    second.launch();
    EXPECT_EQ(second.delegate->welcomeWindow(), nullptr);
    second.delegate->menuBar()->rebuildMenu();
    QAction* howTo = nullptr;
    for (QAction* action : second.delegate->menuBar()->menu()->actions())
        if (action->text() == "How to Use Kolvex") howTo = action;
    ASSERT_NE(howTo, nullptr);
    howTo->trigger();
    ASSERT_NE(second.delegate->welcomeWindow(), nullptr);
    EXPECT_TRUE(second.delegate->welcomeWindow()->isVisible());
    EXPECT_TRUE(second.delegate->welcomeWindow()->findChild<WelcomeView*>()->loginCheckBox()->isChecked())
        << "the switch starts on when opening at login is already on";
}

TEST(AppDelegate, ManifestFailureIsToldAndEndsTheLaunch) {
    Fixture f;
    LogCapture log;
    auto env = f.environment();
    env.loadRegistry = []() -> FormatRegistry { throw FormatRegistry::LoadError::manifestMissing(); };
    std::vector<std::string> aborted;
    env.abortLaunch = [&aborted](const std::string& reason) { aborted.push_back(reason); };
    f.launch(std::move(env));
    EXPECT_EQ(aborted, std::vector<std::string>{"manifestMissing"});
    EXPECT_EQ(f.portal, nullptr);
    EXPECT_EQ(f.delegate->menuBar(), nullptr);
    EXPECT_EQ(f.delegate->welcomeWindow(), nullptr);
    EXPECT_TRUE(log.contains("app", "Kolvex launched — build "));
    EXPECT_TRUE(log.contains("app", "Format manifest failed to load: manifestMissing"));
    f.delegate->openFiles({"/a.png"});  // ignored without a message
    f.delegate->showTuning();
    EXPECT_EQ(f.delegate->tuningWindow(), nullptr);
}

TEST(AppDelegate, CompletedRunsAreRecordedAndAnnounced) {
    Fixture f;
    testing::TempDir dir;
    f.launch();
    std::vector<std::filesystem::path> outputs{dir.write("clip-1.mp4", "1"), dir.write("clip-2.mp4", "2"),
                                               dir.write("clip-3.mp4", "3")};
    f.portal->onCompleted(RunReport{outputs, {dir / "clip.mp4"}, {}, false});
    const auto recent = RecentConversionsStore::load(f.defaults);
    ASSERT_EQ(recent.size(), 3u);
    for (const auto& record : recent) EXPECT_EQ(record.sourceName, "clip.mp4");
    ASSERT_EQ(f.posted.size(), 1u);
    EXPECT_EQ(f.posted[0].title, "3 files converted");
    EXPECT_FALSE(f.posted[0].playsSound);

    // A failure out of sight: nothing recorded, the tray and a notification name file and reason.
    f.portal->onCompleted(RunReport{{}, {}, {{"/v/long.mov", "Conversion failed"}}, true});
    EXPECT_EQ(RecentConversionsStore::load(f.defaults).size(), 3u) << "nothing to record";
    ASSERT_EQ(f.posted.size(), 2u);
    EXPECT_EQ(f.posted[1].title, "Couldn't convert long.mov");
    EXPECT_EQ(f.posted[1].body, "Conversion failed");
    EXPECT_TRUE(f.posted[1].playsSound);
    EXPECT_EQ(f.delegate->menuBar()->failure(), "Couldn't convert long.mov: Conversion failed");
    EXPECT_EQ(f.delegate->menuBar()->toolTip(), "Kolvex — Couldn't convert long.mov: Conversion failed");
    f.portal->onProgressChanged(0.1, std::string("next.mov"));
    EXPECT_FALSE(f.delegate->menuBar()->failure()) << "the next conversion clears it";
}

TEST(AppDelegate, ProgressDrivesTheTrayAndTheBackgroundFlag) {
    Fixture f;
    f.launch();
    f.portal->running = {{Uuid::random(), "clip.mov", 0.3, false}};
    f.portal->onProgressChanged(0.3, std::nullopt);
    EXPECT_FALSE(f.delegate->conversionIsBackgrounded()) << "progress without a description changes nothing";
    EXPECT_EQ(f.delegate->menuBar()->title(), " 30%");
    f.portal->onProgressChanged(0.4, std::string("clip.mov"));
    EXPECT_TRUE(f.delegate->conversionIsBackgrounded());
    EXPECT_EQ(f.authorisationRequests, 1);
    // The sound follows the run's own story, not whether anything was running.
    f.portal->onCompleted(RunReport{{"/v/clip.webm"}, {"/v/clip.mov"}, {}, false});
    ASSERT_EQ(f.posted.size(), 1u);
    EXPECT_FALSE(f.posted[0].playsSound);
    f.portal->onProgressChanged(std::nullopt, std::nullopt);
    EXPECT_FALSE(f.delegate->conversionIsBackgrounded());
    EXPECT_EQ(f.delegate->menuBar()->toolTip(), "Kolvex");
}

TEST(AppDelegate, SettingsChangesReachThePortal) {
    Fixture f;
    f.launch();
    f.settings.update([](Preferences& p) { p.triggerModifier = "control"; });
    EXPECT_EQ(f.portal->calls.back(), "trigger control");
    const auto before = f.portal->calls.size();
    f.settings.update([](Preferences& p) { p.triggerModifier = "hyper"; });
    EXPECT_EQ(f.portal->calls.size(), before) << "a text that names no key changes nothing";

    // Chosen in the Settings window, the key reaches the running Portal at once.
    f.delegate->showSettings();
    QComboBox* trigger = nullptr;
    for (QComboBox* combo : f.delegate->settingsWindow()->findChildren<QComboBox*>()) {
        if (combo->findText("Alt", Qt::MatchContains) >= 0 && combo->findText("Shift", Qt::MatchContains) >= 0)
            trigger = combo;
    }
    ASSERT_TRUE(trigger);
    const int alt = trigger->findText("Alt", Qt::MatchContains);
    trigger->setCurrentIndex(alt);
    emit trigger->activated(alt);
    EXPECT_EQ(f.portal->calls.back(), "trigger option");
}

// "Write debug logs" acts at launch and at once when ticked in the Settings window: debug lines
// are written from then on, the settings among them.
TEST(AppDelegate, DebugLoggingFollowsTheSetting) {
    Fixture f;
    f.settings.update([](Preferences& p) { p.debugLogging = true; });
    f.launch();
    EXPECT_TRUE(Log::debugLogging());
    const auto said = [&f](const std::string& call) {
        return std::find(f.portal->calls.begin(), f.portal->calls.end(), call) != f.portal->calls.end();
    };
    f.settings.update([](Preferences& p) { p.debugLogging = false; });
    EXPECT_FALSE(Log::debugLogging());
    EXPECT_TRUE(said("diagnostics off"));

    f.delegate->showSettings();
    QCheckBox* debug = nullptr;
    for (QCheckBox* box : f.delegate->settingsWindow()->findChildren<QCheckBox*>())
        if (box->text() == "Write debug logs") debug = box;
    ASSERT_TRUE(debug);
    LogCapture log;
    debug->click();
    EXPECT_TRUE(Log::debugLogging());
    EXPECT_EQ(std::count(f.portal->calls.begin(), f.portal->calls.end(), "diagnostics on"), 2) << "at launch and now";
    EXPECT_TRUE(log.contains("app", "\"debugLogging\":true"));
    debug->click();
    EXPECT_FALSE(Log::debugLogging());
}

TEST(AppDelegate, TerminationStopsThePortal) {
    Fixture f;
    f.launch();
    auto* portal = f.portal;
    f.delegate->openFiles({"/a.png", "/b.png"});
    EXPECT_EQ(portal->calls.back(), "present 2");
    f.delegate->menuBar()->rebuildMenu();
    f.delegate->applicationWillTerminate();
    EXPECT_TRUE(f.portalDestroyed);
    EXPECT_EQ(f.delegate->portal(), nullptr);
}

// Runs the event loop until `done` holds or `seconds` have passed.
bool eventsUntil(const std::function<bool()>& done, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A file handed over while a modal dialog is up (Convert Files…, a warning) would get a Portal
// that takes no key or click, and Escape would drop it unseen: it waits for the dialog to go.
TEST(AppDelegate, FilesHandedOverWhileAModalDialogIsUpWaitForIt) {
    Fixture f;
    f.launch();
    auto* portal = f.portal;
    const auto presents = [&] { return std::count(portal->calls.begin(), portal->calls.end(), "present 1"); };
    auto dialog = std::make_unique<QDialog>();
    dialog->setModal(true);
    dialog->show();
    ASSERT_TRUE(eventsUntil([] { return QApplication::activeModalWidget() != nullptr; }, 10));
    f.delegate->openFiles({"/photo.jpg"});
    QCoreApplication::processEvents();
    EXPECT_EQ(presents(), 0) << "no Portal under a modal dialog";
    dialog->accept();
    dialog.reset();
    EXPECT_TRUE(eventsUntil([&] { return presents() == 1; }, 10))
        << "the file comes once the dialog has gone";
    f.delegate->openFiles({"/other.jpg"});
    EXPECT_EQ(presents(), 2) << "with no dialog up it comes at once";
}

TEST(AppDelegate, WindowsAreReusedAndTheWelcomeDoneBuildsAFreshOne) {
    Fixture f;
    f.defaults.set(AppDelegate::kDidShowWelcomeKey, true);
    f.launch();
    f.delegate->showSettings();
    QWidget* settings = f.delegate->settingsWindow();
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->windowTitle().toStdString(), "Kolvex Settings");
    settings->close();
    f.delegate->showSettings();
    EXPECT_EQ(f.delegate->settingsWindow(), settings);
    EXPECT_TRUE(settings->isVisible());

    f.delegate->showAbout();
    EXPECT_EQ(f.delegate->aboutWindow()->windowTitle().toStdString(), "About Kolvex");

    f.delegate->presentWelcome();
    QWidget* welcome = f.delegate->welcomeWindow();
    welcome->close();
    f.delegate->presentWelcome();
    EXPECT_EQ(f.delegate->welcomeWindow(), welcome) << "closed with the title bar: the same window";
    auto* view = welcome->findChild<WelcomeView*>();
    ASSERT_NE(view, nullptr);
    view->doneButton()->click();
    EXPECT_EQ(f.delegate->welcomeWindow(), nullptr);
    EXPECT_EQ(f.loginChoices, std::vector<bool>{true}) << "first offer: the switch starts on";
    EXPECT_EQ(f.defaults.boolean(AppDelegate::kLoginItemOfferedKey), true);

    f.delegate->presentWelcome();
    view = f.delegate->welcomeWindow()->findChild<WelcomeView*>();
    EXPECT_FALSE(view->loginCheckBox()->isChecked()) << "offered before and not enabled";
    view->sampleButton()->click();
    EXPECT_EQ(f.samples, 1);
}

TEST(AppDelegate, ReopenShowsTheWelcomeOnlyWhenNothingIsVisible) {
    Fixture f;
    f.defaults.set(AppDelegate::kDidShowWelcomeKey, true);
    f.launch();
    // A tray keeps a visible top-level window of its own for the icon; it is none of ours.
    QWidget trayIconWindow(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint);
    trayIconWindow.resize(22, 22);
    trayIconWindow.show();
    EXPECT_TRUE(f.delegate->handleReopen(false));
    ASSERT_NE(f.delegate->welcomeWindow(), nullptr);
    EXPECT_TRUE(f.delegate->welcomeWindow()->isVisible());
    f.delegate->welcomeWindow()->close();

    f.delegate->showSettings();
    EXPECT_TRUE(f.delegate->handleReopen(false));
    EXPECT_FALSE(f.delegate->welcomeWindow()->isVisible()) << "the settings window is up";
    f.delegate->settingsWindow()->close();
    EXPECT_TRUE(f.delegate->handleReopen(false));
    EXPECT_TRUE(f.delegate->welcomeWindow()->isVisible());
}

TEST(AppDelegate, FFmpegAttachFiltersTheRegistryByEncoders) {
    Fixture f;
    LogCapture log;
    f.launch();
    const BundledFFmpeg tools("/opt/ff/ffmpeg");

    f.delegate->attachFFmpeg(tools, {});
    EXPECT_FALSE(f.delegate->ffmpegTools());
    EXPECT_TRUE(log.contains("app", "FFmpeg reported no encoders; not registering it"));

    const std::set<std::string> noVP9{"libx264", "aac", "libmp3lame", "flac", "pcm_s16le", "pcm_s16be", "libopus",
                                      "png", "mjpeg", "gif", "libwebp"};
    f.delegate->attachFFmpeg(tools, noVP9);
    EXPECT_EQ(f.delegate->ffmpegTools(), tools);
    ASSERT_TRUE(f.portal->provider);
    EXPECT_EQ(f.portal->calls.back(), "replace provider");
    EXPECT_LT(f.portal->provider->conversionCount(), f.delegate->registry()->conversionCount());
    for (const auto& [from, conversions] : f.portal->provider->outgoing())
        for (const auto& conversion : conversions)
            EXPECT_FALSE(conversion.engine == engine_ids::ffmpeg && conversion.to.rawValue == "webm");
    EXPECT_TRUE(log.contains("app", "FFmpeg ready — 11 encoders"));
}

// Files handed over while a tool sheet is being answered do not take it away unseen: they wait
// for it, and come once it is answered or cancelled.
TEST(AppDelegate, FilesHandedOverWhileASheetIsOpenWaitForIt) {
    Fixture f;
    f.defaults.set(AppDelegate::kDidShowWelcomeKey, true);
    auto env = f.environment();
    env.toolSheets = ToolSheetFactory::standard();
    f.launch(std::move(env));
    testing::TempDir dir;
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    const auto photo = dir / "photo.png";
    ASSERT_TRUE(image.save(QString::fromStdString(photo.string())));
    f.portal->onNeedsParameters(testing::toolTarget("rotate", "Rotate"), DragPayload({photo}));
    QWidget* sheet = nullptr;
    ASSERT_TRUE(eventsUntil([&] { return (sheet = f.delegate->parameterFlow().parameterWindow()) && sheet->isVisible(); }, 10));
    const auto presents = [&] { return std::count(f.portal->calls.begin(), f.portal->calls.end(), "present 1"); };
    f.delegate->openFiles({"/clip.mp4"});
    QCoreApplication::processEvents();
    EXPECT_EQ(presents(), 0) << "the sheet stays while it is answered";
    EXPECT_TRUE(sheet->isVisible());
    sheet->close();  // the sheet's Cancel
    EXPECT_TRUE(eventsUntil([&] { return presents() == 1; }, 10)) << "the files come once the sheet has gone";
}

TEST(AppDelegate, ToolsNeedingSettingsGoThroughTheSheets) {
    Fixture f;
    f.defaults.set(AppDelegate::kDidShowWelcomeKey, true);
    f.launch();
    RingTarget crop = testing::toolTarget("crop", "Crop");
    f.portal->onNeedsParameters(crop, DragPayload({"/p/a.jpg"}));
    EXPECT_EQ(f.portal->calls.back(), "fail") << "no sheets were given: the Portal says so";
    EXPECT_EQ(f.portal->failures.back(), "No settings sheet for Crop");
    crop.toolID = "strip-metadata";
    f.portal->onNeedsParameters(crop, DragPayload({"/v/a.mp4"}));
    EXPECT_EQ(f.portal->calls.back(), "apply") << "a tool without settings runs";
}

}  // namespace
}  // namespace kolvex
