// SPDX-License-Identifier: GPL-3.0-or-later
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>

#include "KolvexOnDesktop.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;

using testing::kolvexEnvironment;
using testing::outputOf;
using testing::startKolvex;
using testing::waitFor;
using testing::waitForLog;
using testing::windowIsViewable;

TEST(KolvexOnADesktop, AVideoOpenedAtLaunchConvertsOnceFFmpegIsThere) {
    KOLVEX_REQUIRE_FFMPEG();
    std::string whyNot;
    auto xvfb = testing::Xvfb::start(whyNot);
    if (!xvfb) GTEST_SKIP() << whyNot;
    testing::TempDir home;
    const auto folder = home / "videos";
    std::filesystem::create_directories(folder);
    const auto clip = testing::makeClip(folder / "clip.mov", {});

    // The Portal opens for the clip at launch, before FFmpeg is attached a moment later.
    QProcess kolvex;
    startKolvex(kolvex, *xvfb, home, {QString::fromStdString(clip.string())});
    ASSERT_TRUE(kolvex.waitForStarted(10000));
    std::string log;
    ASSERT_TRUE(waitForLog(kolvex, log, "FFmpeg ready", 30s)) << log;
    ASSERT_TRUE(waitForLog(kolvex, log, "RING n=", 10s)) << log;

    testing::FakeInput input(xvfb->display());
    ASSERT_TRUE(input.ok());
    ASSERT_TRUE(waitFor([&] { return input.focusedWindowTitle() == "Kolvex Portal"; }, 10s))
        << "the Portal never took the keyboard\n" << log;
    input.key("Return", true);
    input.key("Return", false);
    input.sync();
    ASSERT_TRUE(waitForLog(kolvex, log, "Commit 1 file(s)", 10s)) << "Return did not reach the Portal\n" << log;

    // The output appears beside the clip, complete, and plays to its end.
    std::filesystem::path output;
    const auto deadline = std::chrono::steady_clock::now() + testing::patience(60s);
    while (output.empty() && std::chrono::steady_clock::now() < deadline) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            const auto name = entry.path().filename().string();
            if (entry.path() != clip && !name.starts_with(".")) output = entry.path();
        }
        if (output.empty()) waitForLog(kolvex, log, "\x01never", 200ms);
    }
    ASSERT_FALSE(output.empty()) << log;
    EXPECT_EQ(log.find("All 1 job(s) failed"), std::string::npos) << log;
    QProcess decode;
    decode.start(QString::fromStdString(testing::systemFFmpeg().string()),
                 {"-v", "error", "-i", QString::fromStdString(output.string()), "-f", "null", "-"});
    ASSERT_TRUE(decode.waitForFinished(60000));
    EXPECT_EQ(decode.exitCode(), 0) << decode.readAllStandardError().toStdString();
    EXPECT_TRUE(decode.readAllStandardError().isEmpty());
    EXPECT_NE(testing::probeEntry(output, "stream=codec_type", "v"), "") << output;

    kolvex.terminate();
    EXPECT_TRUE(kolvex.waitForFinished(15000));
}

TEST(KolvexOnADesktop, StartsStaysUpAndQuitsCleanly) {
    std::string whyNot;
    auto xvfb = testing::Xvfb::start(whyNot);
    if (!xvfb) GTEST_SKIP() << whyNot;
    testing::TempDir home;

    QProcess kolvex;
    startKolvex(kolvex, *xvfb, home, {});
    ASSERT_TRUE(kolvex.waitForStarted(10000));

    std::string log;
    ASSERT_TRUE(waitForLog(kolvex, log, "applicationDidFinishLaunching took", 20s)) << log;
    // Still running once launching is done: a tray application has no window to close. (A wait
    // that proves the program does not end keeps its own short span.)
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

// Launching Kolvex again with no files, while the first copy sits in a real tray with none of
// its windows open, shows the welcome window: the tray icon's own window is no window of ours.
TEST(KolvexOnADesktop, RelaunchShowsTheWelcomeWhileOnlyTheTrayIconIsUp) {
    for (const char* program : {"trayer", "dbus-daemon", "xwininfo"})
        if (QStandardPaths::findExecutable(program).isEmpty()) GTEST_SKIP() << program << " is not installed";
    std::string whyNot;
    auto xvfb = testing::Xvfb::start(whyNot);
    if (!xvfb) GTEST_SKIP() << whyNot;
    testing::TempDir home;
    // The first-run guide was seen long ago.
    home.write("config/kolvex/defaults.json", R"({"KolvexDidShowWelcome": {"type": "bool", "value": true}})");

    auto environment = kolvexEnvironment(*xvfb, home);
    // A session bus of its own: the second launch finds the first through it.
    QProcess bus;
    ASSERT_TRUE(testing::startSessionBus(bus, environment)) << "the session bus gave no address";

    QProcess tray;
    const std::string trayDown = testing::startTray(tray, *xvfb, environment);
    ASSERT_TRUE(trayDown.empty()) << trayDown;

    QProcess kolvex;
    kolvex.setProcessEnvironment(environment);
    kolvex.start(KOLVEX_PROGRAM, {});
    ASSERT_TRUE(kolvex.waitForStarted(10000));
    std::string log;
    ASSERT_TRUE(waitForLog(kolvex, log, "applicationDidFinishLaunching took", 20s)) << log;
    EXPECT_FALSE(windowIsViewable(environment, "Welcome to Kolvex")) << "not the first run";

    int code = -1;
    outputOf(KOLVEX_PROGRAM, {}, environment, &code);
    EXPECT_EQ(code, 0) << "the second copy hands over and ends";
    EXPECT_TRUE(waitFor([&] { return windowIsViewable(environment, "Welcome to Kolvex"); }, 10s)) << log;

    kolvex.terminate();
    EXPECT_TRUE(kolvex.waitForFinished(15000));
    tray.terminate();
    tray.waitForFinished(5000);
    bus.terminate();
    bus.waitForFinished(5000);
}

// Runs `program` with arguments passed as raw bytes; its exit code, or -1.
int runWithBytes(const std::string& program, const std::vector<std::string>& arguments,
                 const QProcessEnvironment& environment) {
    std::vector<std::string> env;
    for (const QString& entry : environment.toStringList()) env.push_back(entry.toStdString());
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
    int status = 0;
    // A copy that did not hand over keeps running: it is stopped after a while.
    const auto deadline = std::chrono::steady_clock::now() + testing::patience(15s);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        QThread::msleep(50);  // polls the copy's end
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The first launch, with a file: the welcome window opens too, but the keyboard stays with the
// Portal, whose Return converts.
TEST(KolvexOnADesktop, TheFirstRunWelcomeLeavesTheKeyboardToThePortal) {
    if (QStandardPaths::findExecutable("xwininfo").isEmpty()) GTEST_SKIP() << "xwininfo is not installed";
    std::string whyNot;
    auto xvfb = testing::Xvfb::start(whyNot);
    if (!xvfb) GTEST_SKIP() << whyNot;
    testing::TempDir home;
    const auto notes = home.write("notes.txt", "Hello\n");
    QProcess kolvex;
    startKolvex(kolvex, *xvfb, home, {QString::fromStdString(notes.string())});
    ASSERT_TRUE(kolvex.waitForStarted(10000));
    std::string log;
    ASSERT_TRUE(waitForLog(kolvex, log, "RING n=", 20s)) << log;
    const auto environment = kolvexEnvironment(*xvfb, home);
    ASSERT_TRUE(waitForLog(kolvex, log, "Window shown: Welcome to Kolvex", 10s)) << "first run\n" << log;
    ASSERT_TRUE(waitFor([&] { return windowIsViewable(environment, "Welcome to Kolvex"); }, 10s)) << "first run";
    ASSERT_TRUE(waitFor([&] { return windowIsViewable(environment, "Kolvex Portal"); }, 10s));

    testing::FakeInput input(xvfb->display());
    ASSERT_TRUE(input.ok());
    std::string focused;
    ASSERT_TRUE(waitFor([&] { return (focused = input.focusedWindowTitle()) == "Kolvex Portal"; }, 10s))
        << "the keyboard went to \"" << focused << "\", not the Portal\n" << log;
    input.key("Return", true);
    input.key("Return", false);
    EXPECT_TRUE(waitForLog(kolvex, log, "Commit 1 file(s)", 10s)) << "Return did not reach the Portal\n" << log;
    kolvex.terminate();
    EXPECT_TRUE(kolvex.waitForFinished(15000));
}

// A file whose name is not UTF-8, handed to the copy already running, opens the Portal there and
// converts under its own name.
TEST(KolvexOnADesktop, AFileWhoseNameIsNotUtf8ReachesTheRunningCopy) {
    if (QStandardPaths::findExecutable("dbus-daemon").isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
    std::string whyNot;
    auto xvfb = testing::Xvfb::start(whyNot);
    if (!xvfb) GTEST_SKIP() << whyNot;
    testing::TempDir home;
    home.write("config/kolvex/defaults.json", R"({"KolvexDidShowWelcome": {"type": "bool", "value": true}})");
    const auto folder = home / "odd";
    std::filesystem::create_directories(folder);
    const std::string stem = "caf\xe9 \xff";  // Latin-1 and a byte no UTF-8 has
    const auto odd = home.write("odd/" + stem + ".txt", "Hello\n");

    auto environment = kolvexEnvironment(*xvfb, home);
    QProcess bus;
    ASSERT_TRUE(testing::startSessionBus(bus, environment)) << "the session bus gave no address";

    QProcess kolvex;
    kolvex.setProcessEnvironment(environment);
    kolvex.start(KOLVEX_PROGRAM, {});
    ASSERT_TRUE(kolvex.waitForStarted(10000));
    std::string log;
    ASSERT_TRUE(waitForLog(kolvex, log, "applicationDidFinishLaunching took", 20s)) << log;

    // The path goes on the command line as the bytes it is (QProcess would make it text).
    EXPECT_EQ(runWithBytes(KOLVEX_PROGRAM, {odd.native()}, environment), 0) << "the second copy hands over and ends";
    ASSERT_TRUE(waitForLog(kolvex, log, "RING n=", 10s)) << "the running copy never opened the Portal\n" << log;
    testing::FakeInput input(xvfb->display());
    ASSERT_TRUE(input.ok());
    ASSERT_TRUE(waitFor([&] { return input.focusedWindowTitle() == "Kolvex Portal"; }, 10s))
        << "the Portal never took the keyboard\n" << log;
    input.key("Left", true);  // the last chip of a text file's ring: Markdown
    input.key("Left", false);
    input.key("Return", true);
    input.key("Return", false);
    ASSERT_TRUE(waitForLog(kolvex, log, "Commit 1 file(s) \u2192 Markdown", 10s)) << log;
    // The output lands beside the file, named after it.
    EXPECT_TRUE(waitFor(
        [&] {
            for (const auto& entry : std::filesystem::directory_iterator(folder))
                if (entry.path() != odd && entry.path().filename().native().rfind(stem + ".", 0) == 0) return true;
            return false;
        },
        10s))
        << log;

    // Handed over again, it becomes a PDF a reader can read.
    ASSERT_TRUE(waitFor([&] { return !windowIsViewable(environment, "Kolvex Portal"); }, 10s)) << log;
    log.clear();
    EXPECT_EQ(runWithBytes(KOLVEX_PROGRAM, {odd.native()}, environment), 0);
    ASSERT_TRUE(waitForLog(kolvex, log, " PDF@", 10s)) << log;
    ASSERT_TRUE(waitFor([&] { return input.focusedWindowTitle() == "Kolvex Portal"; }, 10s))
        << "the Portal never took the keyboard\n" << log;
    const auto steps = testing::chipSteps(log, "PDF");
    ASSERT_TRUE(steps) << log;
    for (int i = 0; i < *steps; ++i) {
        input.key("Right", true);
        input.key("Right", false);
    }
    input.key("Return", true);
    input.key("Return", false);
    ASSERT_TRUE(waitForLog(kolvex, log, "Commit 1 file(s) \u2192 PDF", 10s)) << log;
    const auto pdf = folder / (stem + ".pdf");
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(pdf); }, 10s)) << log;
    if (!QStandardPaths::findExecutable("pdftotext").isEmpty()) {
        // Read from a copy: QProcess would hand the reader the name as text.
        const auto copy = home / "copy.pdf";
        std::filesystem::copy_file(pdf, copy);
        const std::string text = outputOf("pdftotext", {QString::fromStdString(copy.string()), "-"}, environment);
        EXPECT_NE(text.find("Hello"), std::string::npos) << text;
    }
    kolvex.terminate();
    EXPECT_TRUE(kolvex.waitForFinished(15000));
    bus.terminate();
    bus.waitForFinished(5000);
}

}  // namespace
}  // namespace kolvex

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);  // QProcess needs an application object for its events
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
