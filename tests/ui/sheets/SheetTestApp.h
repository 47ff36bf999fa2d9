#pragma once

#include <QApplication>

namespace kolvex::testing {

// The one application object the widget tests share (offscreen platform).
QApplication& sheetApplication();

}  // namespace kolvex::testing
