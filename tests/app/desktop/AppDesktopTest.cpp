#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include "DesktopHarness.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;

// Reads the program's log (on stderr) until `text` appears or the time is up.
bool waitForLog(QProcess& process, std::string& log, const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (log.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= 0ms || process.state() == QProcess::NotRunning) return false;
        process.waitForReadyRead(static_cast<int>(std::min(left, 200ms).count()));
        log += process.readAllStandardError().toStdString();
    }
    return true;
}

TEST(KolvexOnADesktop, StartsStaysUpAndQuitsCleanly) {
    std::string whyNot;
    auto xvfb = testing::Xvfb::start(whyNot);
    if (!xvfb) GTEST_SKIP() << whyNot;
    testing::TempDir home;

    QProcess kolvex;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", QString::fromStdString(xvfb->display()));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("HOME", QString::fromStdString(home.path().string()));
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString((home / "config").string()));
    environment.insert("XDG_DOWNLOAD_DIR", QString::fromStdString((home / "Downloads").string()));
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kolvex-test-bus");
    environment.insert("KOLVEX_LOG", "stderr");
    kolvex.setProcessEnvironment(environment);
    kolvex.setProcessChannelMode(QProcess::SeparateChannels);
    kolvex.start(KOLVEX_PROGRAM, {});
    ASSERT_TRUE(kolvex.waitForStarted(10000));

    std::string log;
    ASSERT_TRUE(waitForLog(kolvex, log, "applicationDidFinishLaunching took", 20s)) << log;
    // Still running once launching is done: a tray application has no window to close.
    EXPECT_FALSE(kolvex.waitForFinished(300)) << log;
    EXPECT_EQ(kolvex.state(), QProcess::Running);

    kolvex.terminate();  // SIGTERM: ends the event loop like Quit
    ASSERT_TRUE(kolvex.waitForFinished(15000)) << log;
    log += kolvex.readAllStandardError().toStdString();
    EXPECT_EQ(kolvex.exitStatus(), QProcess::NormalExit) << log;
    EXPECT_EQ(kolvex.exitCode(), 0) << log;
    EXPECT_EQ(log.find("Format manifest failed"), std::string::npos) << log;
    EXPECT_TRUE(std::filesystem::exists(home / "config/kolvex/defaults.json")) << "the first-run guide was marked shown";
}

}  // namespace
}  // namespace kolvex

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);  // QProcess needs an application object for its events
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
