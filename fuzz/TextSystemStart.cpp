// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdlib>

#include <QGuiApplication>

#include "FuzzInput.h"

namespace kolvex::fuzz {

void startTextSystem() {
    if (QGuiApplication::instance()) return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "kolvex-fuzz";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
}

}  // namespace kolvex::fuzz
