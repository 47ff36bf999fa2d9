// SPDX-License-Identifier: GPL-3.0-or-later
// The windows need a QApplication, made before any test runs, with no session bus.
#include <gtest/gtest.h>

#include "support/qt/QtEnvironments.h"

namespace {

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new kolvex::testing::WidgetEnvironment("test-app", true));

}  // namespace
