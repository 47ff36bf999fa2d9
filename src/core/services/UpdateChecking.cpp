// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/UpdateChecking.h"

#include "core/services/Log.h"

namespace kolvex {

void NoOpUpdateChecker::checkForUpdates() {
    Log::app().info(
        "Update check requested, but this build has no updater: updates come with the distribution's packages.");
}

}  // namespace kolvex
