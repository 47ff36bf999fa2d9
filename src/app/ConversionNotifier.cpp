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

Notification ConversionNotifier::content(const std::vector<std::filesystem::path>& outputs,
                                         const std::vector<std::filesystem::path>& sources, bool wasBackground) {
    Notification notification;
    notification.identifier = Uuid::random().toString();
    notification.playsSound = wasBackground;
    if (outputs.size() == 1) {
        notification.title = nameOf(outputs.front());
        notification.body = "Saved next to " + (sources.empty() ? std::string("the original") : nameOf(sources.front()));
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

void ConversionNotifier::announce(const std::vector<std::filesystem::path>& outputs,
                                  const std::vector<std::filesystem::path>& sources, bool wasBackground) {
    if (!PreferencesStore::load(m_defaults).showNotifications) return;
    std::weak_ptr<bool> alive = m_alive;
    requestAuthorisationIfNeeded([this, alive, outputs, sources, wasBackground] {
        if (alive.expired() || !m_authorised) return;
        m_sender->post(content(outputs, sources, wasBackground));
    });
}

}  // namespace kolvex
