// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/qt/QtEnvironments.h"

#include <cstdlib>
#include <filesystem>
#include <utility>

#include "ui/async/TaskRunner.h"

namespace kolvex::testing {

namespace {

// The application's background work (sheet measures, previews, thumbnails, conversions) is
// joined after the last test, before main returns, as the application joins it when it quits:
// never from a static's destructor while the statics the work uses die around it.
class BackgroundWorkJoined : public ::testing::Environment {
public:
    void TearDown() override { QtTaskRunner::shared()->stop(); }
};

}  // namespace

QApplication& sharedApplication(const char* name) {
    static ProgramArguments program(name);
    static QApplication* app = [] {
        ::testing::AddGlobalTestEnvironment(new BackgroundWorkJoined);
        if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return existing;
        return new QApplication(program.argc, program.argv);
    }();
    return *app;
}

GuiEnvironment::GuiEnvironment(std::string name) : m_program(std::move(name)) {}

void GuiEnvironment::SetUp() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    m_app = std::make_unique<QGuiApplication>(m_program.argc, m_program.argv);
}

// The application's background work (thumbnails, previews) is joined before the application
// object goes, as it is when the application quits: a worker still starting a library while
// Qt tears down its font database races it over the process environment.
void GuiEnvironment::TearDown() {
    QtTaskRunner::shared()->stop();
    m_app.reset();
}

WidgetEnvironment::WidgetEnvironment(std::string name, bool withoutSessionBus)
    : m_program(std::move(name)), m_withoutSessionBus(withoutSessionBus) {}

void WidgetEnvironment::SetUp() {
    m_home = std::make_unique<TempDir>();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("XDG_CONFIG_HOME", (m_home->path() / "config").c_str(), 1);
    ::setenv("HOME", m_home->path().c_str(), 1);
    if (m_withoutSessionBus) ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kolvex-test-bus", 1);
    m_app = std::make_unique<QApplication>(m_program.argc, m_program.argv);
}

void WidgetEnvironment::TearDown() {
    QtTaskRunner::shared()->stop();
    m_app.reset();
    m_home.reset();
}

}  // namespace kolvex::testing
