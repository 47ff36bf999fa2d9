// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FileReveal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QProcess>
#include <QStringList>

#include "core/services/PathUtils.h"
#include "core/services/QtFilePaths.h"

namespace kolvex {

namespace {

void openFolder(const std::filesystem::path& file) {
    // An argument vector, no shell; the folder is a URI so a name starting with "-" is no option.
    QProcess::startDetached("xdg-open", {qtpaths::fileUri(paths::deletingLastComponent(file))});
}

}  // namespace

void revealInFileManager(const std::filesystem::path& file) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder(file);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{qtpaths::fileUri(file)} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [file](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError()) openFolder(file);
    });
}

}  // namespace kolvex
