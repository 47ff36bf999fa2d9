// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kolvex::testing {

// How many entries the file chooser dialog on screen lists in its current folder; -1 when no
// such dialog is up. Reads GTK's own widgets (the dialog GtkFileChooserNative shows when no
// desktop portal runs).
long chooserListedRows();

}  // namespace kolvex::testing
