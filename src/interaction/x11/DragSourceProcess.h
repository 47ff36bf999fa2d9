// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kolvex {

// Whether the drag under way was begun in one of this process's own windows (a GTK file
// chooser of ours, a Qt window): its data must never be asked for while the GUI thread waits,
// since that same thread is the one to answer. Asks the X server which client owns the drag
// selection (XRes), on a connection of its own opened once; false when there is no X display.
// GUI thread.
bool dragSourceIsThisProcess();

}  // namespace kolvex
