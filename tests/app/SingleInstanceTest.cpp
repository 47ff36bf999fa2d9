// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include "app/SingleInstance.h"
#include "core/BuildInfo.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

TEST(SingleInstance, CommandLineFilesAreExistingFilesMadeAbsolute) {
    testing::TempDir dir;
    const auto photo = dir.write("photo one.png", "x");
    const auto dashed = dir.write("-v.png", "x");
    std::filesystem::create_directories(dir / "folder");
    const auto files = SingleInstance::filesIn(
        {"--verify-resources", "photo one.png", "folder", "missing.png", "-v.png", (dir / "photo one.png").string(),
         "file://" + photo.string(), ""},
        dir.path());
    EXPECT_EQ(files, (std::vector<std::filesystem::path>{photo, dashed, photo}));
    // What is left out is said, not dropped in silence.
    EXPECT_EQ(SingleInstance::notOpened({"--verify-resources", "photo one.png", "folder", "missing.png",
                                         "file://" + photo.string(), ""},
                                        dir.path()),
              (std::vector<std::string>{"folder is a folder: Kolvex converts files, so hand over the files in it",
                                        "missing.png is not opened: there is no such file",
                                        "file://" + photo.string() + " is not opened: give the file's path instead"}));
}

TEST(SingleInstance, OpenTakesOnlyAbsoluteExistingFiles) {
    testing::TempDir dir;
    const auto photo = dir.write("a.png", "x");
    SingleInstance instance;
    std::vector<std::filesystem::path> opened;
    int reopened = 0;
    instance.onOpen = [&](const std::vector<std::filesystem::path>& files) { opened = files; };
    instance.onReopen = [&] { ++reopened; };
    instance.Open({"a.png", QString::fromStdString((dir / "missing").string()), QString::fromStdString(photo.string())});
    EXPECT_EQ(opened, std::vector<std::filesystem::path>{photo});
    opened.clear();
    instance.Open({"relative.png"});
    EXPECT_TRUE(opened.empty());
    instance.Reopen();
    EXPECT_EQ(reopened, 1);
    EXPECT_EQ(instance.claim({}), SingleInstance::Role::alone) << "no session bus in tests";
}

// Names are bytes on Linux: one that is not UTF-8 reaches the running copy as it is.
TEST(SingleInstance, PathsHandedOverAsBytesKeepNamesThatAreNotUtf8) {
    testing::TempDir dir;
    const std::string name = std::string("caf\xe9 \xff\xfe.png");  // Latin-1 and stray bytes
    const auto odd = dir.write(name, "x");
    ASSERT_TRUE(std::filesystem::is_regular_file(odd));
    SingleInstance instance;
    std::vector<std::filesystem::path> opened;
    instance.onOpen = [&](const std::vector<std::filesystem::path>& files) { opened = files; };
    instance.OpenPaths({QByteArray::fromStdString(odd.native()), QByteArray("relative.png")});
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened.front().native(), odd.native());
    EXPECT_EQ(opened.front().filename().native(), name);
    // The command line keeps it too.
    EXPECT_EQ(SingleInstance::filesIn({name}, dir.path()), std::vector<std::filesystem::path>{odd});
}

// A copy of Kolvex started before an upgrade: it takes paths only as text ("Open").
class OlderCopy final : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != "Open") {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, "No such method " + message.member()));
            return true;
        }
        {
            std::lock_guard lock(mutex);
            opened = message.arguments().value(0).toStringList();
        }
        connection.send(message.createReply());
        return true;
    }
    std::mutex mutex;
    QStringList opened;
};

// Whether a file handed over reaches an older copy, on a session bus of its own.
bool reachesAnOlderCopy() {
    QProcess daemon;
    daemon.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    if (!daemon.waitForReadyRead(10000)) return false;
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    // This process's session bus, before anything here first asks for it.
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    QThread thread;  // the older copy answers on a thread of its own while the call blocks
    thread.start();
    OlderCopy older;
    older.moveToThread(&thread);
    bool reached = false;
    {
        QDBusConnection connection = QDBusConnection::connectToBus(address, "older copy");
        testing::TempDir dir;
        const auto photo = dir.write("photo one.png", "x");
        if (connection.registerService(QString::fromLatin1(buildinfo::kBundleIdentifier)) &&
            connection.registerVirtualObject("/org/kolvex/Kolvex", &older)) {
            SingleInstance instance;
            const bool forwarded = instance.claim({photo}) == SingleInstance::Role::forwarded;
            std::lock_guard lock(older.mutex);
            reached = forwarded && older.opened == QStringList{QString::fromStdString(photo.string())};
        }
    }
    QDBusConnection::disconnectFromBus("older copy");
    thread.quit();
    thread.wait();
    // Ended before this process is: the daemon holds what this process had open.
    daemon.kill();
    daemon.waitForFinished(5000);
    return reached;
}

// A package upgrade leaves the running copy older than the one launched with a file: the file
// still reaches it, instead of a second copy starting beside it.
TEST(SingleInstance, FilesReachACopyStartedBeforeAnUpgrade) {
    if (QStandardPaths::findExecutable("dbus-daemon").isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
    // In a process of its own: a process asks for its session bus once.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(reachesAnOlderCopy() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kolvex
