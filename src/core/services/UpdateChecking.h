// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kolvex {

// A software-update checker: whether it checks on its own, and a user-requested check.
class UpdateChecking {
public:
    virtual ~UpdateChecking() = default;

    virtual bool automaticChecksEnabled() const = 0;
    // Starts a check. Call from a worker thread; may block.
    virtual void checkForUpdates() = 0;
};

// Builds without an updater: automatic checks are off and a check request is only logged.
class NoOpUpdateChecker final : public UpdateChecking {
public:
    NoOpUpdateChecker() = default;

    bool automaticChecksEnabled() const override { return false; }
    // Logs one line in the "app" category; any thread.
    void checkForUpdates() override;
};

}  // namespace kolvex
