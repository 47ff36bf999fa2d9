// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ConversionNotifier.h"

#include <algorithm>

#include "core/services/Log.h"
#include "core/services/PathUtils.h"
#include "core/services/Preferences.h"
#include "core/services/UserDefaults.h"
#include "core/services/Uuid.h"

namespace kolvex {

ConversionNotifier::ConversionNotifier(std::unique_ptr<NotificationSender> sender, UserDefaults& defaults)
    : m_sender(std::move(sender)), m_defaults(defaults) {}

ConversionNotifier& ConversionNotifier::shared() {
    static ConversionNotifier* notifier = new ConversionNotifier(NotificationSender::desktop(), UserDefaults::standard());
    return *notifier;
}

void ConversionNotifier::requestAuthorisationIfNeeded(std::function<void()> done) {
    if (m_authorised) {
        if (done) done();
        return;
    }
    std::weak_ptr<bool> alive = m_alive;
    m_sender->requestAuthorisation([this, alive, done = std::move(done)](std::optional<bool> granted) {
        if (alive.expired()) return;
        if (granted) {
            m_authorised = *granted;
        } else {
            Log::app().info("Notification authorisation unavailable");
            m_authorised = false;
        }
        if (done) done();
    });
}

namespace {

std::string nameOf(const std::filesystem::path& url) {
    return paths::lastComponent(url);
}

}  // namespace

namespace {

std::string failureTitle(const RunReport& report) {
    const std::size_t total = report.sources.size() + report.failures.size();
    if (report.failures.size() == 1 && report.sources.empty())
        return "Couldn't convert " + nameOf(report.failures.front().source);
    if (report.sources.empty()) return "Couldn't convert " + std::to_string(total) + " files";
    return std::to_string(report.sources.size()) + " of " + std::to_string(total) + " converted";
}

// Where one output went: beside its source, or into the folder chosen for it.
std::string savedWhere(const RunReport& report) {
    if (report.sources.empty()) return "Saved next to the original";
    const auto& output = report.outputs.front();
    const auto& source = report.sources.front();
    if (output.parent_path() != source.parent_path() && !output.parent_path().empty())
        return "Saved in " + nameOf(output.parent_path());
    return "Saved next to " + nameOf(source);
}

// The files left out by design, one line each for up to three, else their count.
std::string skippedLines(const RunReport& report) {
    const auto& skipped = report.skipped;
    if (skipped.empty()) return {};
    if (skipped.size() > 3) return "Skipped " + std::to_string(skipped.size()) + " files";
    std::string lines;
    for (const auto& s : skipped) {
        if (!lines.empty()) lines += "\n";
        lines += "Skipped " + nameOf(s.source) + ": " + s.reason;
    }
    return lines;
}

// What a tool did to the files it changed: "resized", "compressed"; "converted" for the rest.
std::string doneVerb(const std::string& tool) {
    if (tool == "resize") return "resized";
    if (tool == "compress") return "compressed";
    return "converted";
}

// "2 left as they were (already no larger than 640 px)": the files the engine had no need to
// change, and why, when every one was left for the same reason.
std::string leftAsTheyWere(const RunReport& report) {
    const auto& left = report.leftAsTheyWere;
    const std::size_t count = left.size();
    std::string text = count == 1 ? nameOf(left.front().source) + " left as it was"
                                  : std::to_string(count) + " left as they were";
    const std::string& because = left.front().why.because;
    const bool same = std::all_of(left.begin(), left.end(), [&](const auto& l) { return l.why.because == because; });
    if (same && !because.empty()) text += " (" + because + ")";
    return text;
}

}  // namespace

Notification ConversionNotifier::content(const RunReport& report) {
    Notification notification = plainContent(report);
    if (!report.leftAsTheyWere.empty()) {
        const std::string left = leftAsTheyWere(report);
        if (report.failures.empty()) {
            // What changed and what had no need to, in one title: "2 resized, 2 left as they were (…)".
            const std::string verb = doneVerb(report.leftAsTheyWere.front().why.tool);
            notification.title = report.sources.empty() ? left : std::to_string(report.sources.size()) + " " + verb + ", " + left;
        } else {
            notification.body += "\n" + left;
        }
    }
    if (const std::string skipped = skippedLines(report); !skipped.empty()) {
        if (report.outputs.empty() && report.failures.empty() && report.leftAsTheyWere.empty())
            notification.title = "Nothing converted";
        notification.body = notification.body.empty() ? skipped : notification.body + "\n" + skipped;
    }
    return notification;
}

Notification ConversionNotifier::plainContent(const RunReport& report) {
    Notification notification;
    notification.identifier = Uuid::random().toString();
    notification.playsSound = report.wentToTray;
    const auto& outputs = report.outputs;
    if (!report.failures.empty()) {
        notification.title = failureTitle(report);
        if (report.failures.size() == 1 && report.sources.empty()) {
            notification.body = report.failures.front().reason;
        } else {
            const std::size_t shown = std::min<std::size_t>(report.failures.size(), 3);
            for (std::size_t i = 0; i < shown; ++i) {
                if (i > 0) notification.body += "\n";
                notification.body += nameOf(report.failures[i].source) + ": " + report.failures[i].reason;
            }
        }
    } else if (outputs.empty()) {
        return notification;  // only skipped files: said by content()
    } else if (outputs.size() == 1) {
        notification.title = nameOf(outputs.front());
        notification.body = savedWhere(report);
    } else {
        notification.title = std::to_string(outputs.size()) + " files converted";
        const std::size_t shown = std::min<std::size_t>(outputs.size(), 3);
        for (std::size_t i = 0; i < shown; ++i) {
            if (i > 0) notification.body += ", ";
            notification.body += nameOf(outputs[i]);
        }
    }
    return notification;
}

std::string ConversionNotifier::failureLine(const RunReport& report) {
    if (report.failures.size() == 1 && report.sources.empty())
        return failureTitle(report) + ": " + report.failures.front().reason;
    return failureTitle(report);
}

void ConversionNotifier::announce(const RunReport& report) {
    if (report.isEmpty() || !PreferencesStore::load(m_defaults).showNotifications) return;
    std::weak_ptr<bool> alive = m_alive;
    requestAuthorisationIfNeeded([this, alive, report] {
        if (alive.expired() || !m_authorised) return;
        m_sender->post(content(report));
    });
}

}  // namespace kolvex
