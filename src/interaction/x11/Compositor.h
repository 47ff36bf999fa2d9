// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kolvex {

// Whether a compositing manager runs on $DISPLAY's default screen (someone owns
// _NET_WM_CM_S<n>). Without one, translucent windows show black where they are clear and a
// window's shape is one bit deep. Asked anew on every call (a compositor may start or stop at
// any time); false without an X display. GUI thread.
bool compositingManagerRunning();

}  // namespace kolvex
