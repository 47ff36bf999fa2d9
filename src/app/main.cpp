// SPDX-License-Identifier: GPL-3.0-or-later
// The kolvex program: two self-check flags, otherwise the tray application.
#include <csignal>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QTimer>

#include "app/AppDelegate.h"
#include "app/LoginItem.h"
#include "app/PortalAdapter.h"
#include "app/SelfCheck.h"
#include "app/SingleInstance.h"
#include "app/ToolSheetFactory.h"
#include "core/BuildInfo.h"
#include "core/services/Log.h"
#include "core/services/ProcessMemory.h"
#include "ui/async/TaskRunner.h"
#include "ui/windows/ApplicationResources.h"

namespace {

int g_signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_signalled = 0;

// The first signal asks for an orderly quit; a second one, while that is under way, ends the
// process at once (the programs it started die with it).
void onTerminationSignal(int signal) {
    if (g_signalled) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    g_signalled = 1;
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(g_signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the event loop, so the Portal is stopped as on a normal quit: running
// work is cancelled through its stop token and waited for, which stops and reaps its programs.
void quitOnSignals(QCoreApplication& app) {
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte;
        while (::read(g_signalPipe[0], &byte, 1) > 0) {
        }
        app.quit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread exists: jobs run on worker threads, and the tray keeps for its whole
    // life every arena the allocator gives one.
    kolvex::ProcessMemory::setUp();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    switch (kolvex::SelfCheck::requestFor(arguments)) {
    case kolvex::SelfCheck::Request::loginStatus:
        return kolvex::SelfCheck::printLoginStatus(std::cout, kolvex::LoginItem::status());
    case kolvex::SelfCheck::Request::verifyResources: {
        // The branding mark is drawn from SVG, which wants a GUI application; no display is
        // needed or touched for that.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // The report is the only output: Qt's own warnings go to the log instead of stderr.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& message) {
            kolvex::Log::app().debug("{}", message.toStdString());
        });
        QGuiApplication app(argc, argv);
        return kolvex::SelfCheck::verifyResources(std::cout);
    }
    case kolvex::SelfCheck::Request::none: break;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("Kolvex");
    QApplication::setApplicationVersion(kolvex::buildinfo::kVersion);
    QApplication::setDesktopFileName(kolvex::buildinfo::kBundleIdentifier);
    // Every window carries the installed theme icon; a copy run from the build tree uses the mark.
    QApplication::setWindowIcon(kolvex::ApplicationResources::applicationIcon());
    // A tray application: closing its last window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    quitOnSignals(app);

    // Files named on the command line are opened as if handed over by the file manager; a
    // second launch gives them (or a plain reopen) to the copy already running and ends.
    std::error_code error;
    const auto workingFolder = std::filesystem::current_path(error);
    const auto files = kolvex::SingleInstance::filesIn(arguments, workingFolder);
    for (const auto& line : kolvex::SingleInstance::notOpened(arguments, workingFolder)) {
        std::cerr << "kolvex: " << line << std::endl;
        kolvex::Log::app().info("Not opened from the command line: {}", line);
    }
    kolvex::SingleInstance instance;
    if (instance.claim(files) == kolvex::SingleInstance::Role::forwarded) return 0;

    kolvex::AppDelegate delegate(
        kolvex::AppDelegate::Environment::desktop(kolvex::portalFactory(), kolvex::ToolSheetFactory::standard()));
    instance.onOpen = [&delegate](const std::vector<std::filesystem::path>& opened) { delegate.openFiles(opened); };
    instance.onReopen = [&delegate] { delegate.handleReopen(false); };
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, [&delegate] { delegate.applicationWillTerminate(); });
    QTimer::singleShot(0, &delegate, [&delegate, files] { delegate.applicationDidFinishLaunching(files); });
    const int status = QApplication::exec();
    // The Portal has stopped its work on the way out of the loop; whatever background work is
    // left (a sheet's measure, a thumbnail) ends here, before the delegate and the statics it
    // may touch go.
    kolvex::QtTaskRunner::shared()->stop();
    return status;
}
