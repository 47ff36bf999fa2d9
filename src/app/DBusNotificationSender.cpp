// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include "app/NotificationSender.h"
#include "core/BuildInfo.h"

namespace kolvex {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";

// Notification servers may read the body as simple markup: names with "&" or "<" must stay text.
QString escapedBody(const std::string& body) {
    return QString::fromStdString(body).toHtmlEscaped();
}

class DBusNotificationSender final : public NotificationSender {
public:
    void requestAuthorisation(std::function<void(std::optional<bool>)> done) override {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) {
            done(std::nullopt);
            return;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, "GetServerInformation");
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [done = std::move(done)](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            if (w->isError()) done(std::nullopt);
            else done(true);
        });
    }

    void post(const Notification& notification) override {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return;
        QVariantMap hints;
        hints.insert("desktop-entry", QString::fromLatin1(buildinfo::kBundleIdentifier));
        if (notification.playsSound) hints.insert("sound-name", QString("message-new-instant"));
        else hints.insert("suppress-sound", true);
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, "Notify");
        // The installed theme icon, by name, as the launcher entry names it.
        call << QString("Kolvex") << 0u << QString::fromLatin1(buildinfo::kBundleIdentifier)
             << QString::fromStdString(notification.title)
             << escapedBody(notification.body) << QStringList() << hints << -1;
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                         [](QDBusPendingCallWatcher* w) { w->deleteLater(); });
    }
};

}  // namespace

std::unique_ptr<NotificationSender> NotificationSender::desktop() {
    return std::make_unique<DBusNotificationSender>();
}

}  // namespace kolvex
