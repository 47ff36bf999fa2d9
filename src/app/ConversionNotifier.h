// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "app/NotificationSender.h"
#include "ui/portal/model/PortalPhase.h"

namespace kolvex {

class UserDefaults;

// Announces finished conversions, and failed ones with their reasons, in a desktop
// notification when the user left notifications on. Asks the desktop first and stops asking
// once it said yes in this run. GUI thread only.
class ConversionNotifier {
public:
    // `defaults` is read afresh at every announcement and must outlive the notifier.
    ConversionNotifier(std::unique_ptr<NotificationSender> sender, UserDefaults& defaults);

    // The process's notifier over the desktop's notification service and the standard defaults.
    static ConversionNotifier& shared();

    // Asks the desktop unless it already said yes; `done` (optional) runs once the answer is in.
    void requestAuthorisationIfNeeded(std::function<void()> done = {});
    // One notification for a finished run (see `content`), with the default sound only when
    // the work had gone on in the tray; nothing when notifications are off or refused.
    void announce(const RunReport& report);

    // Title and body for a run. Without failures: one output names the file and its source;
    // several give a count and the first three names. With failures: "Couldn't convert <file>"
    // and the reason for one file; "K of N converted" (or "Couldn't convert N files") and a
    // line per failed file, the first three, for several. Files left as they were are counted
    // beside those changed: "2 resized, 2 left as they were (already no larger than 640 px)".
    static Notification content(const RunReport& report);
    // One line for the tray: the failed file and its reason, or the count converted.
    static std::string failureLine(const RunReport& report);

private:
    // The title and body for what converted and what failed, without the skipped files.
    static Notification plainContent(const RunReport& report);

public:

    bool isAuthorised() const { return m_authorised; }

private:
    std::unique_ptr<NotificationSender> m_sender;
    UserDefaults& m_defaults;
    bool m_authorised = false;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace kolvex
