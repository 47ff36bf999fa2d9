// SPDX-License-Identifier: GPL-3.0-or-later
// The keyboard Portal's hold on the keyboard: taking it, keeping it, and Escape from elsewhere.
#include <QGuiApplication>
#include <QWindow>

#include "core/services/Log.h"
#include "ui/portal/PortalDropView.h"
#include "ui/portal/PortalPanel.h"
#include "ui/portal/model/PortalModel.h"

namespace kolvex {

namespace {
constexpr auto kClaimInterval = std::chrono::milliseconds(50);
constexpr int kClaimTries = 60;  // three seconds
}  // namespace

bool PortalPanel::hasKeyboard() const {
    const QWindow* window = windowHandle();
    return window && window == QGuiApplication::focusWindow();
}

void PortalPanel::takeKeyboard() {
    activateWindow();
    if (m_dropView) m_dropView->setFocus(Qt::ActiveWindowFocusReason);
}

bool PortalPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_watchedWindow && event->type() == QEvent::MouseButtonPress && m_isKeyboardDriven &&
        !hasKeyboard()) {
        takeKeyboard();
    }
    return QWidget::eventFilter(watched, event);
}

void PortalPanel::escapePressedAnywhere() {
    if (!m_isKeyboardDriven || !isVisible() || !m_model.isRevealed() || hasKeyboard()) return;
    if (!m_model.phase().is(PortalPhase::Kind::browsing)) return;
    Log::interaction().info("Escape pressed outside the keyboard Portal; dismissing");
    if (m_model.isShowingFormatList()) m_model.dismissByKeyboard();  // ends the search first
    m_model.dismissByKeyboard();
}

void PortalPanel::claimKeyboard() {
    takeKeyboard();
    askForKeyboardAgain(m_gestureGeneration, kClaimTries);
}

void PortalPanel::askForKeyboardAgain(unsigned long gesture, int triesLeft) {
    // A request made while another window of ours is closing (a chooser, a question) can be lost:
    // the window manager gives the focus to whatever it falls back to once that window is gone.
    // Ask again until the Portal has the keyboard, then leave it to the user.
    std::weak_ptr<bool> alive = m_alive;
    m_env.scheduler->after(kClaimInterval, [this, alive, gesture, triesLeft] {
        if (alive.expired() || gesture != m_gestureGeneration) return;
        if (!m_isKeyboardDriven || !isVisible() || !m_model.phase().is(PortalPhase::Kind::browsing)) return;
        if (hasKeyboard()) {
            Log::interaction().info("Keyboard Portal has the keyboard");
            return;
        }
        if (triesLeft <= 0) {
            Log::interaction().warn("The window manager did not give the keyboard Portal the keyboard");
            return;
        }
        takeKeyboard();
        askForKeyboardAgain(gesture, triesLeft - 1);
    });
}

}  // namespace kolvex
