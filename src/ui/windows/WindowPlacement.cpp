// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/windows/WindowPlacement.h"

#include <cmath>

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace kolvex::placement {

QScreen* screenUnderCursor() {
    const QPoint pointer = QCursor::pos();
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->geometry().contains(pointer)) return screen;
    }
    return nullptr;
}

QScreen* activeScreen() {
    if (QScreen* screen = screenUnderCursor()) return screen;
    return QGuiApplication::primaryScreen();
}

QPoint centeredOrigin(const QRect& visible, const QSize& size) {
    const double midX = visible.x() + visible.width() * 0.5;
    const double midY = visible.y() + visible.height() * 0.5;
    return QPoint(static_cast<int>(std::lround(midX - size.width() * 0.5)),
                  static_cast<int>(std::lround(midY - size.height() * 0.5)));
}

namespace {

void resolveContentSize(QWidget* window) {
    const QSize hint = window->sizeHint();
    if (hint.width() > 1 && hint.height() > 1) window->resize(hint.expandedTo(window->minimumSize()));
}

void bringForward(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace

void centerOnActiveScreen(QWidget* window) {
    resolveContentSize(window);
    QScreen* screen = activeScreen();
    if (!screen) return;
    window->move(centeredOrigin(screen->availableGeometry(), window->frameGeometry().size()));
}

void showOnActiveScreen(QWidget* window) {
    QScreen* screen = activeScreen();
    if (!screen) {
        centerOnActiveScreen(window);
        bringForward(window);
        return;
    }
    if (!window->frameGeometry().intersects(screen->availableGeometry())) centerOnActiveScreen(window);
    bringForward(window);
}

}  // namespace kolvex::placement
