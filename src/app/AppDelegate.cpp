// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AppDelegate.h"

#include <iostream>

#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

#include "app/FileReveal.h"
#include "app/GtkFileChooser.h"
#include "app/OutputPrompts.h"
#include "app/SelfCheck.h"
#include "app/TrayWiring.h"
#include "core/BuildInfo.h"
#include "core/conversion/ConversionCoordinator.h"
#include "core/modules/EngineModules.h"
#include "core/services/FileManagerService.h"
#include "core/services/Log.h"
#include "core/services/ModuleLoader.h"
#include "core/services/RecentConversions.h"
#include "core/services/TemporaryFileManager.h"
#include "core/services/ProcessMemory.h"
#include "core/services/WorkInProgress.h"
#include "core/services/UserDefaults.h"
#include "ui/async/AsyncTask.h"
#include "ui/portal/PortalStyle.h"
#include "ui/windows/SettingsStore.h"

namespace kolvex {

namespace fs = std::filesystem;

AppDelegate::Environment AppDelegate::Environment::desktop(PortalFactory portalFactory,
                                                          std::shared_ptr<const ToolSheetFactory> toolSheets) {
    Environment environment;
    environment.toolSheets = std::move(toolSheets);
    environment.defaults = &UserDefaults::standard();
    environment.settings = &SettingsStore::shared();
    environment.notifier = &ConversionNotifier::shared();
    environment.portalFactory = std::move(portalFactory);
    environment.loadRegistry = [] { return FormatRegistry::loadBundled(); };
    environment.makeMenuBar = [](MenuBarController::Commands commands) {
        return std::make_unique<MenuBarController>(std::move(commands));
    };
    environment.chooseOutputFolder = [defaults = environment.defaults](
                                         std::uint64_t sourceWindow, std::function<void(std::optional<fs::path>)> answer) {
        OutputPrompts::chooseFolder(*defaults, sourceWindow, std::move(answer));
    };
    environment.keepBothWhenTaken = [](const std::vector<fs::path>& names, std::function<void(bool)> answer) {
        OutputPrompts::keepBoth(names, std::move(answer));
    };
    environment.withdrawQuestion = [] { OutputPrompts::withdraw(); };
    environment.fileChooser = desktopFileChooser();
    environment.loginStatus = [] { return LoginItem::status(); };
    environment.setLoginItem = [](bool on) { return LoginItem::set(on); };
    environment.revealSample = [] {
        try {
            const fs::path sample = EngineModules::createSample("Kolvex Example.png");
            revealInFileManager(sample);
            Log::app().info("Onboarding sample written");
        } catch (const std::exception& error) {
            Log::app().error("Could not create the onboarding sample: {}", error.what());
        }
    };
    environment.abortLaunch = [](const std::string& reason) {
        const QString detail =
            QString("Its list of formats could not be loaded (%1). Reinstalling Kolvex should repair it; "
                    "\"kolvex --verify-resources\" shows what is missing.")
                .arg(QString::fromStdString(reason));
        std::cerr << "kolvex: cannot start: " << detail.toStdString() << std::endl;
        if (QGuiApplication::platformName() != "offscreen" && QGuiApplication::platformName() != "minimal") {
            QMessageBox box(QMessageBox::Critical, "Kolvex", "Kolvex cannot start.");
            box.setInformativeText(detail);
            box.exec();
        }
        QCoreApplication::exit(1);
    };
    environment.locateFFmpeg = [](const std::optional<std::string>& overridePath)
        -> std::optional<std::pair<BundledFFmpeg, std::set<std::string>>> {
        std::optional<BundledFFmpeg> tools;
        const auto chosen = overridePath && !overridePath->empty() ? std::optional<fs::path>(*overridePath) : std::nullopt;
        try {
            tools = BundledFFmpeg::locate(chosen);
        } catch (const BundledFFmpeg::NotBundled&) {
            Log::app().info("No bundled FFmpeg \u2014 video and audio conversions unavailable");
            return std::nullopt;
        }
        if (chosen && tools->ffmpeg == *chosen) Log::app().info("Using an FFmpeg override at {}", chosen->string());
        return std::make_pair(*tools, tools->availableEncoders());
    };
    return environment;
}

AppDelegate::AppDelegate(Environment environment, QObject* parent)
    : QObject(parent),
      m_env(std::move(environment)),
      m_updater(std::make_unique<NoOpUpdateChecker>()),
      m_settings(*m_env.settings),
      m_flow(nullptr) {
    m_flow.setSheets(m_env.toolSheets);
    m_flow.setTaskRunner(m_env.tasks);
    m_flow.setPreferences([this] { return m_settings.preferences(); });
    // Once the tray has been quiet for a while, the pages of the engines' libraries (code and
    // constants, read from their files) leave its memory; the next job maps back what it uses,
    // from the system's file cache, far faster than loading the engine again.
    m_quietRelease.setSingleShot(true);
    m_quietRelease.setInterval(kQuietReleaseMs);
    connect(&m_quietRelease, &QTimer::timeout, this, [this] {
        // Not while a conversion runs: it would only map its pages back at once.
        if (m_portal && !m_portal->activeConversions().empty()) return m_quietRelease.start();
        tasks().background([](std::stop_token) {
            ProcessMemory::giveBack();
            const size_t dropped = ProcessMemory::dropFilePages(ModuleLoader::libraryFiles());
            Log::performance().info("Gave back {} kB of engine library pages", dropped >> 10);
        });
    });
}

TaskRunner& AppDelegate::tasks() const {
    return m_env.tasks ? *m_env.tasks : *QtTaskRunner::shared();
}

AppDelegate::~AppDelegate() {
    m_settings.onChange = nullptr;
    applicationWillTerminate();
    for (QWidget* window : {m_settingsWindow.data(), m_tuningWindow.data(), m_welcomeWindow.data(), m_aboutWindow.data()})
        delete window;
}

void AppDelegate::applicationDidFinishLaunching(const std::vector<fs::path>& launchFiles) {
    if (m_launched) return;
    m_launched = true;
    Log::Interval interval("applicationDidFinishLaunching");
    Log::setDebugLogging(m_settings.preferences().debugLogging);
    Log::app().info("Kolvex launched — build {}", *buildinfo::kVersion ? buildinfo::kVersion : "dev");
    logSettings(m_settings.preferences());
    TemporaryFileManager::shared().reapOrphans(3600);
    WorkInProgress::shared().sweep();  // partial outputs of a run that was killed
    if (m_env.applyAppearance) applyAppearance(m_settings.preferences().appearance);

    QPointer<AppDelegate> self(this);
    m_settings.onChange = [self](const Preferences& preferences) {
        if (self) self->settingsChanged(preferences);
    };

    try {
        m_registry = m_env.loadRegistry();
    } catch (const std::exception& error) {
        const std::string reason = SelfCheck::describe(error);
        Log::app().critical("Format manifest failed to load: {}", reason);
        // Without its formats Kolvex has no Portal and no tray icon: staying up would leave an
        // invisible process with no way to quit it.
        if (m_env.abortLaunch) m_env.abortLaunch(reason);
        return;
    }
    Log::app().info("Registry loaded — {} formats, {} conversions", m_registry->allFormats().size(),
                    m_registry->conversionCount());

    const TriggerModifier trigger =
        triggerModifierFromString(m_settings.preferences().triggerModifier).value_or(TriggerModifier::shift);
    auto registry = std::make_shared<const FormatRegistry>(*m_registry);
    m_flow.setRegistry(registry);
    if (!m_env.portalFactory) return;

    // The tray icon first: building the Portal takes a while, and the menu reaches it only when
    // used.
    MenuBarController::Commands commands;
    commands.onConvertFiles = [self](const std::vector<fs::path>& files) {
        if (self && self->m_portal) self->m_portal->present(files);
    };
    commands.onOpenSettings = [self] { if (self) self->showSettings(); };
    commands.onOpenTuning = [self] { if (self) self->showTuning(); };
    commands.onOpenAbout = [self] { if (self) self->showAbout(); };
    commands.onOpenWelcome = [self] { if (self) self->presentWelcome(); };
    commands.onCancelConversion = [self] {
        if (self && self->m_portal) self->m_portal->cancelAllConversions();
    };
    if (m_env.makeMenuBar) m_menuBar = m_env.makeMenuBar(std::move(commands));
    if (m_menuBar) Log::performance().info("Tray icon up");

    m_portal = m_env.portalFactory(trigger, registry, TrayWiring::inProcess(*m_registry).coordinator);
    if (!m_portal) {
        m_menuBar.reset();  // no Portal, no tray
        return;
    }
    m_portal->setDiagnosticsEnabled(m_settings.preferences().debugLogging);
    m_portal->onCompleted = [self](const RunReport& report) {
        if (self) self->conversionsCompleted(report);
    };
    m_portal->onNeedsParameters = [self](const RingTarget& target, const DragPayload& payload) {
        if (self) self->m_flow.collectParameters(target, payload);
    };
    m_portal->onChooseOutputFolder = m_env.chooseOutputFolder;
    m_portal->onNamesTaken = m_env.keepBothWhenTaken;
    m_portal->onWithdrawQuestion = m_env.withdrawQuestion;
    m_portal->start();
    m_flow.setPortal(m_portal.get());

    m_portal->setCollapseTarget([self]() -> std::optional<QRect> {
        if (!self || !self->m_menuBar) return std::nullopt;
        return self->m_menuBar->iconScreenFrame();
    });
    if (m_menuBar) {
        m_menuBar->activeConversionCount = [self] { return self && self->m_portal ? self->m_portal->activeConversionCount() : 0; };
        m_menuBar->activeConversions = [self] {
            return self && self->m_portal ? self->m_portal->activeConversions() : std::vector<PortalConnection::Conversion>{};
        };
        m_menuBar->onCancelOneConversion = [self](const Uuid& id) {
            if (self && self->m_portal) self->m_portal->cancelConversion(id);
        };
    }
    m_portal->onProgressChanged = [self](std::optional<double> progress, std::optional<std::string> description) {
        if (self) self->progressChanged(progress, description);
    };

    presentWelcomeIfNeeded(launchFiles.empty());
    startFFmpegAttach();
    openFiles(launchFiles);
}

void AppDelegate::applicationWillTerminate() {
    if (m_portal) m_portal->stop();
    m_flow.setPortal(nullptr);
    m_portal.reset();
}

void AppDelegate::settingsChanged(const Preferences& preferences) {
    if (preferences.debugLogging != Log::debugLogging()) {
        Log::setDebugLogging(preferences.debugLogging);
        Log::app().info("Debug logging {}", preferences.debugLogging ? "on" : "off");
        if (m_portal) m_portal->setDiagnosticsEnabled(preferences.debugLogging);
    }
    logSettings(preferences);
    if (m_env.applyAppearance) applyAppearance(preferences.appearance);
    if (auto trigger = triggerModifierFromString(preferences.triggerModifier); trigger && m_portal)
        m_portal->updateTrigger(*trigger);
}

void AppDelegate::logSettings(const Preferences& preferences) {
    if (!Log::debugLogging()) return;
    try {
        Log::app().debug("Settings {}", preferences.encode().dump());
    } catch (const std::exception& error) {
        Log::app().debug("Settings not readable: {}", SelfCheck::describe(error));
    }
}

void AppDelegate::applyAppearance(Preferences::Appearance appearance) {
    static const QPalette systemPalette = QApplication::palette();
    // The application takes the style it is given; one is made only when it is used.
    if (appearance != Preferences::Appearance::system && !QApplication::style()->inherits("QFusionStyle")) {
        if (QStyle* fusion = QStyleFactory::create("Fusion")) QApplication::setStyle(fusion);
    }
    // The Portal draws its own colours; it is told its theme before the palette change that
    // makes it repaint.
    PortalStyle::setTheme(PortalStyle::themeFor(appearance, systemPalette, QApplication::style()->standardPalette()));
    switch (appearance) {
    case Preferences::Appearance::system: QApplication::setPalette(systemPalette); break;
    case Preferences::Appearance::light: QApplication::setPalette(QApplication::style()->standardPalette()); break;
    case Preferences::Appearance::dark: {
        QPalette dark;
        const QColor window(45, 45, 48), base(30, 30, 32), text(235, 235, 235), disabled(128, 128, 128);
        dark.setColor(QPalette::Window, window);
        dark.setColor(QPalette::WindowText, text);
        dark.setColor(QPalette::Base, base);
        dark.setColor(QPalette::AlternateBase, window);
        dark.setColor(QPalette::ToolTipBase, window);
        dark.setColor(QPalette::ToolTipText, text);
        dark.setColor(QPalette::Text, text);
        dark.setColor(QPalette::PlaceholderText, QColor(160, 160, 165));
        dark.setColor(QPalette::Button, window);
        dark.setColor(QPalette::ButtonText, text);
        dark.setColor(QPalette::Highlight, QColor(10, 132, 255));
        dark.setColor(QPalette::HighlightedText, Qt::white);
        dark.setColor(QPalette::Link, QColor(64, 156, 255));
        dark.setColor(QPalette::Disabled, QPalette::Text, disabled);
        dark.setColor(QPalette::Disabled, QPalette::WindowText, disabled);
        dark.setColor(QPalette::Disabled, QPalette::ButtonText, disabled);
        QApplication::setPalette(dark);
        break;
    }
    }
}

void AppDelegate::conversionsCompleted(const RunReport& report) {
    const auto& outputs = report.outputs;
    const auto& sources = report.sources;
    if (!outputs.empty()) {
        // A run that made several outputs from one source (a split) pairs each with that source.
        std::vector<fs::path> padded = sources;
        const fs::path filler = sources.empty() ? outputs.front() : sources.back();
        while (padded.size() < outputs.size()) padded.push_back(filler);
        std::vector<RecentConversion> records;
        const auto now = RecentConversion::Clock::now();
        for (std::size_t i = 0; i < outputs.size(); ++i) records.emplace_back(outputs[i], padded[i], now);
        if (m_env.defaults) RecentConversionsStore::record(records, *m_env.defaults);
    }
    if (!report.failures.empty()) {
        const std::string line = ConversionNotifier::failureLine(report);
        Log::app().info("Failure told: {}", line);
        if (m_menuBar) m_menuBar->showFailure(line);
    }
    if (m_env.notifier) m_env.notifier->announce(report);
    // A run's pictures and documents leave the allocator holding freed memory in every
    // worker's arena; the tray process gives it back while it waits for the next drop.
    tasks().background([](std::stop_token) { ProcessMemory::giveBack(); });
    m_flow.runEnded();
    m_quietRelease.start();
}

void AppDelegate::progressChanged(std::optional<double> progress, const std::optional<std::string>& description) {
    if (m_menuBar) m_menuBar->showProgress(progress, description);
    if (!progress) {
        m_conversionIsBackgrounded = false;
    } else if (description) {
        m_conversionIsBackgrounded = true;
        if (m_env.notifier) m_env.notifier->requestAuthorisationIfNeeded();
    }
}

void AppDelegate::startFFmpegAttach() {
    if (!m_env.locateFFmpeg || !m_registry) return;
    auto locate = m_env.locateFFmpeg;
    const auto overridePath = m_settings.preferences().ffmpegOverridePath;
    using Located = std::optional<std::pair<BundledFFmpeg, std::set<std::string>>>;
    AsyncTask::start<Located>(
        tasks(), this, [locate, overridePath](std::stop_token) { return locate(overridePath); },
        [this](Located located) {
            if (located) attachFFmpeg(located->first, located->second);
        });
}

void AppDelegate::attachFFmpeg(const BundledFFmpeg& tools, const std::set<std::string>& encoders) {
    if (encoders.empty()) {
        Log::app().error("FFmpeg reported no encoders; not registering it");
        return;
    }
    m_ffmpegTools = tools;
    m_flow.setFFmpeg(tools);
    if (!m_registry) return;
    std::optional<TrayWiring::Conversions> conversions;
    try {
        conversions = TrayWiring::withFFmpeg(*m_registry, tools, encoders);
    } catch (const std::exception& error) {
        Log::app().error("Could not filter registry: {}", SelfCheck::describe(error));
        return;
    }
    Log::app().info("FFmpeg ready — {} encoders, {} conversions", encoders.size(), conversions->registry->conversionCount());
    if (m_portal) m_portal->replaceProvider(conversions->registry, conversions->coordinator);
}

void AppDelegate::openFiles(const std::vector<fs::path>& files) {
    if (!m_portal || files.empty()) return;
    m_handedOver.insert(m_handedOver.end(), files.begin(), files.end());
    presentHandedOver();
}

void AppDelegate::presentHandedOver() {
    if (!m_portal || m_handedOver.empty()) return;
    if (QWidget* modal = QApplication::activeModalWidget()) {
        // Under a modal dialog the Portal would take no key and no click, and Escape would
        // drop the files unseen: they wait until the dialog has gone.
        Log::app().info("{} file(s) handed over wait until the open dialog closes", m_handedOver.size());
        QPointer<AppDelegate> self(this);
        connect(modal, &QObject::destroyed, this, [self] {
            if (self) QTimer::singleShot(0, self, [self] { if (self) self->presentHandedOver(); });
        });
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            connect(dialog, &QDialog::finished, this, [self] {
                if (self) QTimer::singleShot(0, self, [self] { if (self) self->presentHandedOver(); });
            });
        }
        return;
    }
    if (QWidget* sheet = m_flow.parameterWindow(); sheet && sheet->isVisible()) {
        // A sheet being answered is not taken away by files handed over meanwhile: they wait
        // until it is answered or cancelled, and the sheet comes to the front, where the user
        // sees what stands before them.
        Log::app().info("{} file(s) handed over wait until the sheet \"{}\" is done", m_handedOver.size(),
                        sheet->windowTitle().toStdString());
        sheet->raise();
        sheet->activateWindow();
        if (!m_waitingForSheet) {
            m_waitingForSheet = true;
            QPointer<AppDelegate> self(this);
            connect(sheet, &QObject::destroyed, this, [self] {
                if (!self) return;
                self->m_waitingForSheet = false;
                QTimer::singleShot(0, self, [self] { if (self) self->presentHandedOver(); });
            });
        }
        return;
    }
    const auto files = std::move(m_handedOver);
    m_handedOver.clear();
    m_portal->present(files);
}

}  // namespace kolvex
