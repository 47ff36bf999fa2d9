// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kolvex {

// One desktop notification, shown at once.
struct Notification {
    std::string identifier;  // a new random UUID per notification
    std::string title;
    std::string body;        // plain text
    bool playsSound = false;
    bool operator==(const Notification&) const = default;
};

// Where notifications go. GUI thread only; answers arrive later on the GUI thread.
class NotificationSender {
public:
    virtual ~NotificationSender() = default;
    // Asks whether notifications can be shown: true or false, or none when asking failed.
    virtual void requestAuthorisation(std::function<void(std::optional<bool>)> done) = 0;
    // Shows the notification; failures are dropped.
    virtual void post(const Notification& notification) = 0;

    // The desktop's notification service, org.freedesktop.Notifications on the session bus.
    // Authorised means the service answers.
    static std::unique_ptr<NotificationSender> desktop();
};

}  // namespace kolvex
