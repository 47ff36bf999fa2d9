// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>

#include "core/BuildInfo.h"
#include "core/services/Log.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPath = "/org/kolvex/Kolvex";

}  // namespace

std::vector<fs::path> SingleInstance::filesIn(const std::vector<std::string>& arguments, const fs::path& workingFolder) {
    std::vector<fs::path> files;
    for (const auto& argument : arguments) {
        if (argument.empty() || argument == "--login-status" || argument == "--verify-resources") continue;
        fs::path path = argument;
        if (argument.rfind("file://", 0) == 0) continue;  // only plain paths: the launcher's %F
        if (path.is_relative()) path = workingFolder / path;
        std::error_code error;
        if (fs::is_regular_file(path, error)) files.push_back(path.lexically_normal());
    }
    return files;
}

std::vector<std::string> SingleInstance::notOpened(const std::vector<std::string>& arguments,
                                                  const fs::path& workingFolder) {
    std::vector<std::string> lines;
    for (const auto& argument : arguments) {
        if (argument.empty() || argument == "--login-status" || argument == "--verify-resources") continue;
        if (argument.rfind("file://", 0) == 0) {
            lines.push_back(argument + " is not opened: give the file's path instead");
            continue;
        }
        fs::path path = argument;
        if (path.is_relative()) path = workingFolder / path;
        std::error_code error;
        const auto status = fs::status(path, error);
        if (fs::is_regular_file(status)) continue;
        if (fs::is_directory(status))
            lines.push_back(argument + " is a folder: Kolvex converts files, so hand over the files in it");
        else if (!fs::exists(status))
            lines.push_back(argument + " is not opened: there is no such file");
        else
            lines.push_back(argument + " is not opened: it is not a regular file");
    }
    return lines;
}

SingleInstance::Role SingleInstance::claim(const std::vector<fs::path>& files) {
    // A list of byte strings ("aay") travels only once QtDBus knows the type, on both sides.
    qDBusRegisterMetaType<QByteArrayList>();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return Role::alone;
    const QString service = QString::fromLatin1(buildinfo::kBundleIdentifier);
    if (bus.registerService(service)) {
        bus.registerObject(kPath, this, QDBusConnection::ExportScriptableSlots);
        return Role::primary;
    }
    QDBusMessage call = files.empty()
                            ? QDBusMessage::createMethodCall(service, kPath, "org.kolvex.Kolvex", "Reopen")
                            : QDBusMessage::createMethodCall(service, kPath, "org.kolvex.Kolvex", "OpenPaths");
    if (!files.empty()) {
        QByteArrayList paths;
        for (const auto& file : files) paths << QByteArray::fromStdString(file.native());
        call << QVariant::fromValue(paths);
    }
    QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    if (!files.empty() && reply.type() == QDBusMessage::ErrorMessage &&
        reply.errorName() == QDBusError::errorString(QDBusError::UnknownMethod)) {
        // A copy started before an upgrade knows paths only as text: handed over so, rather than
        // a second copy starting beside it.
        QStringList texts;
        for (const auto& file : files) texts << QString::fromStdString(file.string());
        QDBusMessage older = QDBusMessage::createMethodCall(service, kPath, "org.kolvex.Kolvex", "Open");
        older << texts;
        reply = bus.call(older, QDBus::Block, 5000);
    }
    if (reply.type() == QDBusMessage::ErrorMessage) {
        Log::app().info("The running Kolvex did not answer: {}", reply.errorMessage().toStdString());
        return Role::alone;
    }
    return Role::forwarded;
}

void SingleInstance::OpenPaths(const QByteArrayList& paths) {
    std::vector<fs::path> files;
    for (const QByteArray& path : paths) files.emplace_back(path.toStdString());
    openChecked(files);
}

void SingleInstance::Open(const QStringList& paths) {
    std::vector<fs::path> files;
    for (const QString& path : paths) files.emplace_back(path.toStdString());
    openChecked(files);
}

void SingleInstance::openChecked(const std::vector<fs::path>& candidates) {
    std::vector<fs::path> files;
    for (const auto& file : candidates) {
        std::error_code error;
        // Another process's word is checked like a command line: absolute, existing files only.
        if (file.is_absolute() && fs::is_regular_file(file, error)) files.push_back(file);
    }
    if (!files.empty() && onOpen) onOpen(files);
}

void SingleInstance::Reopen() {
    if (onReopen) onReopen();
}

}  // namespace kolvex
