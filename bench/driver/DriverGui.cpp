// SPDX-License-Identifier: GPL-3.0-or-later
// kolvex-drive-gui: the driver's QGuiApplication, in a module that kolvex-drive loads only for the
// requests that lay text out (see GuiApplication in Driver.cpp).
#include <QGuiApplication>

extern "C" {

// A QGuiApplication over `argc` and `argv`, which must outlive it.
__attribute__((visibility("default"))) void* kolvex_drive_start_gui(int* argc, char** argv) {
    return new QGuiApplication(*argc, argv);
}

__attribute__((visibility("default"))) void kolvex_drive_stop_gui(void* application) {
    delete static_cast<QGuiApplication*>(application);
}

}  // extern "C"
