// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "app/ConversionNotifier.h"
#include "app/LoginItem.h"
#include "app/MenuBarController.h"
#include "app/PortalConnection.h"
#include "app/ToolParameterFlow.h"
#include "core/ffmpeg/BundledFFmpeg.h"
#include "core/format/FormatRegistry.h"
#include "core/services/Preferences.h"
#include "core/services/UpdateChecking.h"
#include "ui/async/TaskRunner.h"

namespace kolvex {

class ConversionCoordinator;
class FileChooser;
class SettingsStore;
class UserDefaults;

// The application's hub: owns everything that lives for the whole run (the Portal, the tray
// menu, the update checker, the settings store, the registry, the located FFmpeg and the
// windows), wires them together at launch and stops the Portal at the end. GUI thread only.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    // What the delegate builds on; `desktop()` gives the real ones, tests replace any of them.
    struct Environment {
        UserDefaults* defaults = nullptr;
        SettingsStore* settings = nullptr;
        ConversionNotifier* notifier = nullptr;
        PortalFactory portalFactory;                       // none: no Portal, no tray
        std::function<FormatRegistry()> loadRegistry;      // throws on failure
        std::function<std::unique_ptr<MenuBarController>(MenuBarController::Commands)> makeMenuBar;
        std::function<LoginItem::Status()> loginStatus;
        std::function<std::optional<std::string>(bool)> setLoginItem;
        std::function<void()> revealSample;                // writes and shows the example image
        // The manifest did not load: tells the user why and ends the process with a failure.
        std::function<void(const std::string& reason)> abortLaunch;
        // Finds the FFmpeg pair (the override path first) and lists its encoders; runs on a
        // worker thread. None: FFmpeg is never attached.
        std::function<std::optional<std::pair<BundledFFmpeg, std::set<std::string>>>(
            const std::optional<std::string>& overridePath)> locateFFmpeg;
        // "Ask each time": the folder of a run's outputs, asked beside the window the files came
        // from (0: none), answered through the continuation (none: cancelled). "Ask what to do": keep both (true) or skip the files whose names
        // are taken. Default: dialogs; none: outputs beside their sources, numbered names.
        std::function<void(std::uint64_t, std::function<void(std::optional<std::filesystem::path>)>)> chooseOutputFolder;
        std::function<void(const std::vector<std::filesystem::path>&, std::function<void(bool)>)> keepBothWhenTaken;
        std::function<void()> withdrawQuestion;  // takes the question on screen down unanswered
        std::shared_ptr<FileChooser> fileChooser;  // the settings window's; none: it chooses nothing
        bool applyAppearance = true;                       // restyle the application
        std::shared_ptr<const ToolSheetFactory> toolSheets;  // none: tools that need settings are discarded
        std::shared_ptr<TaskRunner> tasks;                   // none: the application's runner

        static Environment desktop(PortalFactory portalFactory,
                                   std::shared_ptr<const ToolSheetFactory> toolSheets = nullptr);
    };

    explicit AppDelegate(Environment environment, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The launch wiring; runs once, after the event loop can run. Files the application was
    // launched with go to the Portal last; a first-run welcome then opens behind it without
    // taking the keyboard from it.
    void applicationDidFinishLaunching(const std::vector<std::filesystem::path>& launchFiles = {});
    // Stops the Portal.
    void applicationWillTerminate();
    // Files opened with the application: the keyboard-driven Portal in convert mode. While a
    // modal dialog or a tool sheet is up (the Portal could take no key or click under the one,
    // and would take the other away) they wait, and come once it has closed.
    void openFiles(const std::vector<std::filesystem::path>& files);
    // The running application activated again: the welcome window when nothing is visible.
    bool handleReopen(bool hasVisibleWindows);

    void showSettings();
    void showTuning();
    void showAbout();
    // `activate` false: the window opens without taking the keyboard (the Portal has it).
    void presentWelcome(bool activate = true);
    void presentWelcomeIfNeeded(bool activate = true);
    void revealSampleFile();

    static void applyAppearance(Preferences::Appearance appearance);

    // A finished run: its outputs recorded among the recent conversions, its outputs and
    // failures announced, its failures shown in the tray.
    void conversionsCompleted(const RunReport& report);
    void progressChanged(std::optional<double> progress, const std::optional<std::string>& description);

    // The FFmpeg attach with a located pair and its encoders (GUI thread).
    void attachFFmpeg(const BundledFFmpeg& tools, const std::set<std::string>& encoders);

    PortalConnection* portal() const { return m_portal.get(); }
    MenuBarController* menuBar() const { return m_menuBar.get(); }
    const std::optional<FormatRegistry>& registry() const { return m_registry; }
    const std::optional<BundledFFmpeg>& ffmpegTools() const { return m_ffmpegTools; }
    ToolParameterFlow& parameterFlow() { return m_flow; }
    QWidget* settingsWindow() const { return m_settingsWindow; }
    QWidget* tuningWindow() const { return m_tuningWindow; }
    QWidget* welcomeWindow() const { return m_welcomeWindow; }
    QWidget* aboutWindow() const { return m_aboutWindow; }
    bool conversionIsBackgrounded() const { return m_conversionIsBackgrounded; }
    UpdateChecking& updater() { return *m_updater; }

    // How long the tray waits after a run before it hands back the memory of the engines' code.
    static constexpr int kQuietReleaseMs = 30'000;

    static constexpr const char* kDidShowWelcomeKey = "KolvexDidShowWelcome";
    static constexpr const char* kLoginItemOfferedKey = "KolvexLoginItemOffered";

private:
    void settingsChanged(const Preferences& preferences);
    // The settings as stored, on the debug log (when it is on).
    static void logSettings(const Preferences& preferences);
    void startFFmpegAttach();
    QWidget* makeWindow(const QString& title, QWidget* content, bool resizable = false);
    bool anyWindowVisible() const;
    TaskRunner& tasks() const;
    // Presents the files handed over while a modal dialog was up, once none is.
    void presentHandedOver();

    Environment m_env;
    std::unique_ptr<PortalConnection> m_portal;
    std::unique_ptr<MenuBarController> m_menuBar;
    QPointer<QWidget> m_settingsWindow;
    QPointer<QWidget> m_tuningWindow;
    QPointer<QWidget> m_welcomeWindow;
    QPointer<QWidget> m_aboutWindow;
    std::optional<BundledFFmpeg> m_ffmpegTools;
    std::optional<FormatRegistry> m_registry;
    std::unique_ptr<UpdateChecking> m_updater;
    bool m_conversionIsBackgrounded = false;
    SettingsStore& m_settings;
    ToolParameterFlow m_flow;
    bool m_launched = false;
    std::vector<std::filesystem::path> m_handedOver;  // waiting for a modal dialog or a tool sheet to close
    bool m_waitingForSheet = false;                   // m_handedOver is presented when the sheet's window goes
    // Runs kQuietReleaseMs after the last run ended (restarted by every run).
    QTimer m_quietRelease;
};

}  // namespace kolvex
