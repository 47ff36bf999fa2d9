// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kolvex {

// Qt's fonts and text layout (HTML import, PDF layout) need a QGuiApplication; the application
// makes one at start, tests make one on the offscreen platform. Throws backendFailure("document",
// -1, …) when there is none, instead of letting Qt abort. Any thread.
void requireTextSystem();

}  // namespace kolvex
