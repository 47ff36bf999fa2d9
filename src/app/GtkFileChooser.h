// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "ui/windows/FileChooser.h"

namespace kolvex {

// The desktop's own file chooser: GTK 3's GtkFileChooserNative, which goes through the desktop
// portal where one runs, else shows GTK's own dialog, shown by the helper program
// kolvex-file-chooser so that its listing never holds up the tray. One for the process.
std::shared_ptr<FileChooser> desktopFileChooser();

}  // namespace kolvex
