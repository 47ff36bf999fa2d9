// SPDX-License-Identifier: GPL-3.0-or-later
// Quitting the real program while its background work runs: the Portal's thumbnail of the file
// a conversion through ffmpeg, a sheet's size measure. It ends cleanly, its ffmpeg goes with it and no partial
// output is left under a final name.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QImage>
#include <QRandomGenerator>

#include "KolvexOnDesktop.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

void press(testing::FakeInput& input, const std::string& key) {
    input.key(key, true);
    input.key(key, false);
    input.sync();
}

// The ffmpeg processes whose command line names `text`.
std::vector<std::string> ffmpegsNaming(const std::string& text) {
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        // Read with read(2): a process that ends meanwhile makes the read fail, which a stream
        // would throw for.
        std::string line;
        const int fd = ::open((entry.path() / "cmdline").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        char chunk[4096];
        for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;) line.append(chunk, static_cast<size_t>(got));
        ::close(fd);
        for (char& c : line)
            if (c == '\0') c = ' ';
        if (line.find("ffmpeg") != std::string::npos && line.find(text) != std::string::npos)
            found.push_back(entry.path().filename().string() + ": " + line);
    }
    return found;
}

// What a clean end after Quit looks like: exit 0, no abort or sanitizer report, no ffmpeg left
// running for `folder`, nothing in it under a final name but `source`.
void expectCleanEnd(QProcess& kolvex, std::string& log, const fs::path& folder, const fs::path& source) {
    ASSERT_TRUE(kolvex.waitForFinished(120000)) << "Kolvex did not end within 120 s of Quit\n" << log;
    log += kolvex.readAllStandardError().toStdString();
    EXPECT_EQ(kolvex.exitStatus(), QProcess::NormalExit) << log;
    EXPECT_EQ(kolvex.exitCode(), 0) << log;
    for (const char* fault : {"free(): invalid pointer", "terminate called", "AddressSanitizer", "ThreadSanitizer",
                              "runtime error:", "LeakSanitizer"})
        EXPECT_EQ(log.find(fault), std::string::npos) << fault << "\n" << log;
    EXPECT_TRUE(ffmpegsNaming(folder.string()).empty()) << ::testing::PrintToString(ffmpegsNaming(folder.string()));
    for (const auto& entry : fs::directory_iterator(folder)) {
        const auto name = entry.path().filename().string();
        EXPECT_TRUE(entry.path() == source || name.starts_with(".")) << "left under a final name: " << name;
    }
}

// Ends a program when a test stops early.
struct Ender {
    QProcess& process;
    ~Ender() {
        process.kill();
        process.waitForFinished(30000);
    }
};

// Starts the program on a session bus of its own, as on a desktop session: it reaches the
// notification service there (none answers). False when no bus could be started.
bool startOnABus(QProcess& kolvex, QProcess& bus, const testing::Xvfb& xvfb, const testing::TempDir& home,
                 const fs::path& file) {
    auto environment = testing::kolvexEnvironment(xvfb, home);
    if (!testing::startSessionBus(bus, environment)) return false;
    kolvex.setProcessEnvironment(environment);
    kolvex.setProcessChannelMode(QProcess::SeparateChannels);
    kolvex.start(KOLVEX_PROGRAM, {QString::fromStdString(file.string())});
    return true;
}

TEST(KolvexOnADesktop, QuitWhileAConversionRunsEndsCleanlyAndLeavesNoPartialOutput) {
    KOLVEX_REQUIRE_FFMPEG();
    std::string whyNot;
    auto xvfb = testing::Xvfb::start(whyNot);
    if (!xvfb) GTEST_SKIP() << whyNot;
    testing::TempDir home;
    home.write("config/kolvex/defaults.json", R"({"KolvexDidShowWelcome": {"type": "bool", "value": true}})");
    const auto folder = home / "quit-videos";
    fs::create_directories(folder);
    // Long enough that its GIF is still being made when Quit comes.
    const auto clip =
        testing::makeClip(folder / "clip.mov", {.seconds = 20, .width = 480, .height = 360, .framesPerSecond = 25});

    QProcess bus;
    const Ender busEnder{bus};
    QProcess kolvex;
    const Ender ender{kolvex};
    if (!startOnABus(kolvex, bus, *xvfb, home, clip)) GTEST_SKIP() << "no session bus could be started";
    ASSERT_TRUE(kolvex.waitForStarted(10000));
    std::string log;
    ASSERT_TRUE(testing::waitForLog(kolvex, log, "FFmpeg ready", 60s)) << log;
    ASSERT_TRUE(testing::waitForLog(kolvex, log, "RING n=", 20s)) << log;
    testing::FakeInput input(xvfb->display());
    ASSERT_TRUE(input.ok());
    ASSERT_TRUE(testing::waitFor([&] { return input.focusedWindowTitle() == "Kolvex Portal"; }, 20s))
        << "the Portal never took the keyboard\n" << log;
    const auto steps = testing::chipSteps(log, "GIF");
    ASSERT_TRUE(steps.has_value()) << log;
    for (int i = 0; i < *steps; ++i) press(input, "Right");
    press(input, "Return");
    ASSERT_TRUE(testing::waitForLog(kolvex, log, "Commit 1 file(s)", 20s))
        << "Return did not reach the Portal\n" << log;
    // The engine has decided how to make it, and its ffmpeg runs.
    ASSERT_TRUE(testing::waitForLog(kolvex, log, "\u2192GIF: ", 60s)) << "the conversion never started\n" << log;
    ASSERT_TRUE(testing::waitFor([&] { return !ffmpegsNaming(folder.string()).empty(); }, 60s))
        << "no ffmpeg ran for the conversion\n" << log;

    kolvex.terminate();  // ends the event loop as the menu's Quit does
    expectCleanEnd(kolvex, log, folder, clip);
    EXPECT_EQ(log.find("OUTCOME succeeded"), std::string::npos)
        << "the conversion ended before Quit: nothing was tested\n" << log;
}

// The compress sheet of a large picture measures its size on a worker, beside the Portal's
// thumbnail of it; Quit comes while it measures.
TEST(KolvexOnADesktop, QuitWhileASheetMeasuresEndsCleanly) {
    std::string whyNot;
    auto xvfb = testing::Xvfb::start(whyNot);
    if (!xvfb) GTEST_SKIP() << whyNot;
    testing::TempDir home;
    auto manager = testing::WindowManager::start(xvfb->display(), home.path(), whyNot);
    if (!manager) GTEST_SKIP() << whyNot;
    home.write("config/kolvex/defaults.json", R"({"KolvexDidShowWelcome": {"type": "bool", "value": true}})");
    const auto folder = home / "quit-pictures";
    fs::create_directories(folder);
    // Noise: slow to compress, so the measure is still running when Quit comes.
    QImage noise(4000, 3000, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x) line[x] = QRandomGenerator::global()->generate() | 0xff000000u;
    }
    const auto picture = folder / "noise.png";
    ASSERT_TRUE(noise.save(QString::fromStdString(picture.string())));

    QProcess bus;
    const Ender busEnder{bus};
    QProcess kolvex;
    const Ender ender{kolvex};
    if (!startOnABus(kolvex, bus, *xvfb, home, picture)) GTEST_SKIP() << "no session bus could be started";
    ASSERT_TRUE(kolvex.waitForStarted(10000));
    std::string log;
    ASSERT_TRUE(testing::waitForLog(kolvex, log, "RING n=", 60s)) << log;
    testing::FakeInput input(xvfb->display());
    ASSERT_TRUE(input.ok());
    ASSERT_TRUE(testing::waitFor([&] { return input.focusedWindowTitle() == "Kolvex Portal"; }, 20s))
        << "the Portal never took the keyboard\n" << log;
    press(input, "Tab");
    ASSERT_TRUE(testing::waitForLog(kolvex, log, " Compress@", 10s)) << "no Compress chip on the tools ring\n" << log;
    const auto steps = testing::chipSteps(log, "Compress");
    ASSERT_TRUE(steps.has_value()) << log;
    for (int i = 0; i < *steps; ++i) press(input, "Right");
    press(input, "Return");
    ASSERT_TRUE(testing::waitForLog(kolvex, log, "Sheet measure started", 60s)) << "the sheet never measured\n" << log;

    kolvex.terminate();  // ends the event loop as the menu's Quit does
    expectCleanEnd(kolvex, log, folder, picture);
}

}  // namespace
}  // namespace kolvex
