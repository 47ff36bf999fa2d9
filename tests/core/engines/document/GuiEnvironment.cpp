// SPDX-License-Identifier: GPL-3.0-or-later
// Qt's fonts and text layout need a QGuiApplication, made before any test runs.
#include <gtest/gtest.h>

#include "support/qt/QtEnvironments.h"

namespace {

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new kolvex::testing::GuiEnvironment("test-document"));

}  // namespace
