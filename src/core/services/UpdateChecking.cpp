#include "core/services/UpdateChecking.h"

#include "core/services/Log.h"

namespace kolvex {

void NoOpUpdateChecker::checkForUpdates() {
    Log::app().info(
        "Update check requested, but no updater is configured. Sparkle drops in here; the appcast URL is already "
        "frozen in Info.plist.");
}

}  // namespace kolvex
