// SPDX-License-Identifier: GPL-3.0-or-later
// The application's own windows: settings, tuning, About and the welcome guide, and what a
// reopen shows.
#include "app/AppDelegate.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "app/IssueReport.h"
#include "core/services/Log.h"
#include "core/services/UserDefaults.h"
#include "ui/windows/AboutView.h"
#include "ui/windows/EditingMenu.h"
#include "ui/windows/ScrollingWindow.h"
#include "ui/windows/SettingsStore.h"
#include "ui/windows/SettingsView.h"
#include "ui/windows/WelcomeView.h"
#include "ui/windows/WindowPlacement.h"

namespace kolvex {

namespace {

// Says in the log when a window is first drawn after it shows, which is when someone looking at
// the desktop sees it: nothing is painted before the window system has mapped and exposed it.
// The window's own widget may get no paint event when its contents cover it, so whatever of it
// is painted first counts.
class FirstPaintNotice final : public QObject {
public:
    explicit FirstPaintNotice(QWidget* window) : QObject(window), m_window(window) { window->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_window && event->type() == QEvent::Show) {
            m_told = false;
            for (QWidget* part : m_window->findChildren<QWidget*>()) part->installEventFilter(this);
        }
        if (event->type() == QEvent::Paint && !m_told) {
            m_told = true;
            // Once the rest of this paint is done.
            QTimer::singleShot(0, this, [this] {
                Log::app().info("Window shown: {}", m_window->windowTitle().toStdString());
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget* m_window;
    bool m_told = false;
};

}  // namespace

QWidget* AppDelegate::makeWindow(const QString& title, QWidget* content, bool resizable) {
    auto* window = new QWidget(nullptr, Qt::Window);
    window->setWindowTitle(title);
    new FirstPaintNotice(window);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
    if (!resizable) layout->setSizeConstraint(QLayout::SetFixedSize);
    EditingMenu::install(window);
    return window;
}

void AppDelegate::showSettings() {
    if (m_settingsWindow) {
        placement::showOnActiveScreen(m_settingsWindow);
        return;
    }
    m_settingsWindow = makeWindow("Kolvex Settings", new SettingsView(m_settings, m_env.fileChooser));
    placement::centerOnActiveScreen(m_settingsWindow);
    placement::showOnActiveScreen(m_settingsWindow);
}

void AppDelegate::showTuning() {
    if (!m_portal) return;
    if (m_tuningWindow) {
        placement::showOnActiveScreen(m_tuningWindow);
        return;
    }
    QWidget* view = m_portal->makeTuningView();
    if (!view) return;
    m_tuningWindow = makeWindow("Portal Tuning", view, true);
    m_tuningWindow->setWindowFlag(Qt::WindowStaysOnTopHint);
    m_tuningWindow->resize(450, 620);
    placement::centerOnActiveScreen(m_tuningWindow);
    placement::showOnActiveScreen(m_tuningWindow);
}

void AppDelegate::showAbout() {
    if (m_aboutWindow) {
        placement::showOnActiveScreen(m_aboutWindow);
        return;
    }
    m_aboutWindow = makeWindow("About Kolvex", new AboutView([] { IssueReport::compose(); }));
    placement::showOnActiveScreen(m_aboutWindow);
}

void AppDelegate::presentWelcome(bool activate) {
    if (m_welcomeWindow) {
        placement::showOnActiveScreen(m_welcomeWindow);
        return;
    }
    const TriggerModifier trigger =
        triggerModifierFromString(m_settings.preferences().triggerModifier).value_or(TriggerModifier::shift);
    const bool enabled = m_env.loginStatus && m_env.loginStatus() == LoginItem::Status::enabled;
    const bool offered = m_env.defaults && m_env.defaults->boolean(kLoginItemOfferedKey).value_or(false);
    QPointer<AppDelegate> self(this);
    auto* view = new WelcomeView(
        trigger, [self] { if (self) self->revealSampleFile(); }, enabled || !offered,
        [self](bool on) {
            if (!self) return;
            if (self->m_env.defaults) self->m_env.defaults->set(kLoginItemOfferedKey, true);
            if (!self->m_env.setLoginItem) return;
            if (auto error = self->m_env.setLoginItem(on)) Log::app().error("login item: {}", *error);
        },
        [self] {
            if (!self || !self->m_welcomeWindow) return;
            QWidget* window = self->m_welcomeWindow;
            self->m_welcomeWindow.clear();
            window->close();
            window->deleteLater();
        });
    // On a short or scaled screen the guide scrolls, and the user can make the window taller.
    m_welcomeWindow = makeWindow("Welcome to Kolvex", view, true);
    // Centring sizes a window to its size hint, which a scroll area keeps to a couple of dozen
    // lines: the guide is fitted to the screen after it, and centred at that size.
    placement::centerOnActiveScreen(m_welcomeWindow);
    if (QScreen* screen = placement::activeScreen()) {
        scrolling::fit(m_welcomeWindow, screen->availableGeometry());
        m_welcomeWindow->move(
            placement::centeredOrigin(screen->availableGeometry(), m_welcomeWindow->frameGeometry().size()));
    }
    if (activate) {
        placement::showOnActiveScreen(m_welcomeWindow);
        return;
    }
    // Shown without a claim on the focus: window managers leave such a window unfocused.
    m_welcomeWindow->setAttribute(Qt::WA_ShowWithoutActivating, true);
    m_welcomeWindow->show();
    m_welcomeWindow->setAttribute(Qt::WA_ShowWithoutActivating, false);
}

void AppDelegate::presentWelcomeIfNeeded(bool activate) {
    if (!m_env.defaults || m_env.defaults->boolean(kDidShowWelcomeKey).value_or(false)) return;
    m_env.defaults->set(kDidShowWelcomeKey, true);
    presentWelcome(activate);
}

void AppDelegate::revealSampleFile() {
    if (m_env.revealSample) m_env.revealSample();
}

bool AppDelegate::anyWindowVisible() const {
    // Only the application's own windows and dialogs count: the tray icon keeps a top-level
    // window of its own, and the Portal panel and menus are not windows a user returns to.
    for (QWidget* window : {m_settingsWindow.data(), m_tuningWindow.data(), m_welcomeWindow.data(),
                            m_aboutWindow.data(), m_flow.parameterWindow()})
        if (window && window->isVisible()) return true;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && window->inherits("QDialog")) return true;
    return false;
}

bool AppDelegate::handleReopen(bool hasVisibleWindows) {
    if (!hasVisibleWindows && !anyWindowVisible()) presentWelcome();
    return true;
}

}  // namespace kolvex
