// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <optional>

struct _XDisplay;

namespace kolvex {

// Whether the drag under way was begun in one of this process's own windows (a GTK file
// chooser of ours, a Qt window): its data must never be asked for while the GUI thread waits,
// since that same thread is the one to answer. Asks the X server which client owns the drag
// selection (XRes), on a connection of its own opened once; false when there is no X display.
// GUI thread.
bool dragSourceIsThisProcess();

// The process that made `window` on `display`, by the X server's record of its client (XRes);
// none when the server cannot tell.
std::optional<pid_t> processOfWindow(_XDisplay* display, unsigned long window);

}  // namespace kolvex
