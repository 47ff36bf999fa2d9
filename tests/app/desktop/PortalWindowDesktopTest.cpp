// SPDX-License-Identifier: GPL-3.0-or-later
// The Portal's window as drag sources see it, in the real program under a window manager: a
// source that reads the windows' sizes and shapes once per drag (as Chromium does) finds it
// after a conversion collapsed it into the tray; a drop that a busy source delivers late after
// a release on a chip still converts, and so does one the source withdrew at the release.
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QImage>
#include <QStandardPaths>

#include "KolvexOnDesktop.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::FakeInput;

std::string settings(const std::string& extra = {}) {
    return std::string(R"({"KolvexDidShowWelcome": {"type": "bool", "value": true},)"
                       R"("KolvexPreferences": {"type": "data", "json": {"outputLocation": "sameAsSource",)"
                       R"("conflictBehaviour": "rename", "preserveMetadata": true, "showNotifications": false,)"
                       R"("imageQuality": 0.85, "videoQuality": 0.7, "audioBitrate": 192000, "parallelLimit": 0,)"
                       R"("appearance": "system", "debugLogging": false, "triggerModifier": "shift")") +
           extra + "}}}";
}

fs::path writePicture(const fs::path& path) {
    QImage image(48, 32, QImage::Format_RGB32);
    image.fill(QColor(40, 140, 200));
    image.save(QString::fromStdString(path.string()), "PNG");
    return path;
}

// A drag source program whose standard output is read line by line and whose input can be
// written to.
class Source {
public:
    Source(const QProcessEnvironment& environment, const QString& program, const QStringList& arguments) {
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(program, arguments);
    }
    ~Source() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    bool waitForLine(const std::string& wanted, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + testing::patience(timeout);
        while (true) {
            while (m_process.canReadLine()) {
                const std::string line = m_process.readLine().trimmed().toStdString();
                m_lines += line + "; ";
                if (line.rfind(wanted, 0) == 0) return true;
            }
            if (std::chrono::steady_clock::now() > deadline || m_process.state() == QProcess::NotRunning) return false;
            m_process.waitForReadyRead(100);
        }
    }
    void write(const std::string& line) {
        m_process.write((line + "\n").c_str());
        m_process.waitForBytesWritten(5000);
    }
    const std::string& lines() const { return m_lines; }

private:
    QProcess m_process;
    std::string m_lines;
};

// Kolvex on an Xvfb of its own with openbox, optionally a tray and a session bus.
struct Desktop {
    std::unique_ptr<testing::Xvfb> xvfb;
    std::unique_ptr<testing::WindowManager> manager;
    testing::TempDir home;
    QProcessEnvironment environment;
    QProcess bus, tray, kolvex;
    std::unique_ptr<FakeInput> input;
    std::string log;
    size_t seen = 0;

    std::string start(const std::string& defaults, const QStringList& arguments = {}, bool withTray = false) {
        for (const char* tool : {"xwininfo", "xprop"})
            if (QStandardPaths::findExecutable(tool).isEmpty()) return std::string(tool) + " is not installed";
        std::string whyNot;
        xvfb = testing::Xvfb::start(whyNot);
        if (!xvfb) return whyNot;
        environment = testing::kolvexEnvironment(*xvfb, home);
        manager = testing::WindowManager::start(xvfb->display(), home.path(), whyNot);
        if (!manager) return whyNot;
        home.write("config/kolvex/defaults.json", defaults);
        if (withTray) {
            for (const char* program : {"trayer", "dbus-daemon"})
                if (QStandardPaths::findExecutable(program).isEmpty()) return std::string(program) + " is not installed";
            if (!testing::startSessionBus(bus, environment)) return "the session bus gave no address";
            if (auto trayDown = testing::startTray(tray, *xvfb, environment); !trayDown.empty()) return trayDown;
        }
        kolvex.setProcessEnvironment(environment);
        kolvex.setProcessChannelMode(QProcess::SeparateChannels);
        kolvex.start(KOLVEX_PROGRAM, arguments);
        if (!kolvex.waitForStarted(10000)) return "kolvex did not start";
        input = std::make_unique<FakeInput>(xvfb->display());
        if (!input->ok()) return "no XTest";
        if (!await("DragObserver started", 30s)) return "kolvex did not come up: " + log;
        return {};
    }
    ~Desktop() {
        if (input && input->ok()) {
            input->key("Shift_L", false);
            input->button(1, false);
            input->sync();
        }
        for (QProcess* process : {&kolvex, &tray, &bus}) {
            process->terminate();
            process->waitForFinished(10000);
        }
    }

    void readLog() {
        kolvex.waitForReadyRead(20);
        log += kolvex.readAllStandardError().toStdString();
    }
    // Waits for `text` in the log after what was seen before; moves past it.
    bool await(const std::string& text, std::chrono::milliseconds timeout) {
        return testing::awaitLog(kolvex, log, seen, text, timeout);
    }
    std::string restOfLine() const { return log.substr(seen, log.find('\n', seen) - seen); }

    std::optional<testing::WindowFrame> portal() { return testing::viewableWindow(environment, "Kolvex Portal"); }

    // Presses on the source at (x, y) and moves on until it says its drag began.
    bool beginDrag(Source& source, int x, int y) {
        input->moveTo(x, y);
        input->button(1, true);
        input->sync();
        for (int step = 1; step <= 30; ++step) {
            input->moveBy(2, 2);
            input->sync();
            if (source.waitForLine("drag-begin", 50ms)) return true;
        }
        return false;
    }

    // Moves the pointer in steps, as a hand does, to (x, y); the pause between steps is the
    // hand's pace (whoever needs the Portal to have followed waits for its selection).
    void glideTo(int x, int y) {
        auto [px, py] = input->pointer();
        const int steps = 12;
        for (int i = 1; i <= steps; ++i) {
            input->moveBy(px + (x - px) * i / steps - (px + (x - px) * (i - 1) / steps),
                          py + (y - py) * i / steps - (py + (y - py) * (i - 1) / steps));
            input->sync();
            testing::pumpUntil([] { return false; }, 15ms);
        }
    }

    // Opens the Portal with Shift during a drag from `source` at (x, y) and points at its top
    // chip; the chip's label once the Portal chose it, or empty.
    std::string openAndPointUp(Source& source, int x, int y) {
        if (!beginDrag(source, x, y)) return {};
        input->key("Shift_L", true);
        input->sync();
        if (!await("RING n=", 15s)) return {};
        std::string ring = restOfLine();
        static const std::regex first(R"(([^ ]+)@-?[0-9]+°\(([+-]?[0-9]+),([+-]?[0-9]+)\))");
        std::smatch chip;
        const bool filled = testing::nudgeUntilTheRingFills(*input, [&] {
            if (std::regex_search(ring, chip, first)) return true;
            if (await("RING n=", 0ms)) ring = restOfLine();
            return std::regex_search(ring, chip, first);
        });
        if (!filled) return {};
        std::optional<testing::WindowFrame> frame;
        if (!testing::waitFor([&] { return (frame = portal()).has_value(); }, 10s)) return {};
        const double scale = frame->width / 480.0;
        glideTo(frame->x + frame->width / 2 + static_cast<int>(std::stod(chip[2].str()) * scale),
                frame->y + frame->height / 2 - static_cast<int>(std::stod(chip[3].str()) * scale));
        const std::string label = chip[1].str();
        const bool chosen = testing::waitFor(
            [&] {
                readLog();
                const auto at = log.rfind("SELECT ");
                return at != std::string::npos && at >= seen && log.compare(at + 7, label.size() + 3, label + " d=") == 0;
            },
            10s);
        return chosen ? label : std::string();
    }
};

// The file beside `source` that kolvex wrote, once it exists.
std::optional<fs::path> madeBeside(const fs::path& source) {
    for (const auto& entry : fs::directory_iterator(source.parent_path()))
        if (entry.path() != source && entry.path().filename().string().rfind(source.stem().string(), 0) == 0 &&
            entry.path().filename().string().front() != '.')
            return entry.path();
    return std::nullopt;
}

// After a conversion that outlasted the linger collapsed the Portal into the tray, the next
// drag from a source that reads the windows once per drag still finds the whole round Portal:
// the hidden window has its full size and shape back, not the tray-sized square it shrank to.
TEST(ThePortalWindow, IsFoundAfterACollapseByASourceThatReadsWindowsOncePerDrag) {
    testing::coreApplication("test-app-desktop");
    KOLVEX_REQUIRE_FFMPEG();
    Desktop desktop;
    // An FFmpeg that waits while the test holds it, so that the job outlasts the linger.
    const fs::path hold = desktop.home / "hold";
    const fs::path bin = desktop.home / "bin";
    fs::create_directories(bin);
    desktop.home.write("bin/ffmpeg", "#!/bin/sh\nwhile [ -e '" + hold.string() + "' ]; do sleep 0.05; done\nexec '" +
                                         testing::systemFFmpeg().string() + "' \"$@\"\n");
    fs::permissions(bin / "ffmpeg", fs::perms::owner_all);
    fs::create_symlink(testing::systemFFmpeg().parent_path() / "ffprobe", bin / "ffprobe");
    const fs::path folder = desktop.home / "pictures";
    fs::create_directories(folder);
    const fs::path clip = testing::makeClip(folder / "clip.mov", {});
    const fs::path picture = writePicture(folder / "pic.png");
    const std::string whyNot = desktop.start(settings(R"(, "ffmpegOverridePath": ")" + (bin / "ffmpeg").string() + "\""),
                                             {}, /*withTray=*/true);
    if (!whyNot.empty()) GTEST_SKIP() << whyNot;
    ASSERT_TRUE(desktop.await("FFmpeg ready", 60s)) << desktop.log;
    {
        // A drag of the clip, dropped on a chip: the conversion outlasts the linger.
        Source clipSource(desktop.environment, KOLVEX_XDND_SOURCE, {"300", "500", "60", QString::fromStdString(clip.string())});
        ASSERT_TRUE(clipSource.waitForLine("ready", 10s)) << clipSource.lines();
        desktop.home.write("hold", "");
        const std::string first = desktop.openAndPointUp(clipSource, 330, 530);
        ASSERT_FALSE(first.empty()) << "the Portal did not open and choose a chip\n" << desktop.log;
        desktop.input->button(1, false);
        desktop.input->sync();
        ASSERT_TRUE(desktop.await("DROP target=", 10s)) << clipSource.lines() << "\n" << desktop.log;
        desktop.input->key("Shift_L", false);
        desktop.input->sync();
        ASSERT_TRUE(desktop.await("moving to the tray", 60s)) << desktop.log;
        ASSERT_TRUE(testing::waitFor([&] { return !desktop.portal(); }, 15s)) << "the Portal did not collapse";
        fs::remove(hold);
        ASSERT_TRUE(testing::waitFor([&] { return madeBeside(clip).has_value(); }, 60s)) << desktop.log;
        clipSource.waitForLine("drag-end", 10s);
    }
    desktop.readLog();
    desktop.seen = desktop.log.size();

    Source source(desktop.environment, KOLVEX_XDND_SOURCE,
                  {"300", "500", "60", QString::fromStdString(picture.string())});
    ASSERT_TRUE(source.waitForLine("ready", 10s)) << source.lines();
    const std::string label = desktop.openAndPointUp(source, 330, 530);
    ASSERT_FALSE(label.empty()) << "the Portal did not open and choose a chip\n" << desktop.log;
    EXPECT_TRUE(source.waitForLine("enter", 5s)) << "the source never offered its drag to the Portal: "
                                                 << source.lines();
    desktop.input->button(1, false);
    desktop.input->sync();
    ASSERT_TRUE(desktop.await("DROP target=", 10s)) << "the drop never reached the Portal\n" << source.lines() << "\n"
                                                    << desktop.log;
    EXPECT_EQ(desktop.restOfLine(), label + " committed=true") << desktop.log;
    desktop.input->key("Shift_L", false);
    EXPECT_TRUE(testing::waitFor([&] { return madeBeside(picture).has_value(); }, 30s)) << desktop.log;
}

// The program with an XDND source of a picture beside it (started with `mode`, such as
// "--hold-drop"), whose drag has opened the Portal and points at its top chip.
struct DragOverThePortal {
    Desktop desktop;
    fs::path picture = writePicture(desktop.home / "pic.png");
    std::unique_ptr<Source> source;
    std::string label;  // the chip pointed at; empty when the Portal never chose one

    // Empty when the drag is over the chip; else why the test cannot run here.
    std::string open(const QString& mode) {
        if (std::string whyNot = desktop.start(settings()); !whyNot.empty()) return whyNot;
        source = std::make_unique<Source>(desktop.environment, KOLVEX_XDND_SOURCE,
                                          QStringList{"300", "400", "60", mode, QString::fromStdString(picture.string())});
        if (source->waitForLine("ready", 10s)) label = desktop.openAndPointUp(*source, 330, 430);
        return {};
    }
};

// A drop that arrives well after the release on a chip (a busy source or desktop) converts:
// the Portal waits for the drop of a drag let go over it with the trigger held.
TEST(ThePortalWindow, TakesALateDropOfADragReleasedOnAChip) {
    testing::coreApplication("test-app-desktop");
    DragOverThePortal drag;
    if (const std::string whyNot = drag.open("--hold-drop"); !whyNot.empty()) GTEST_SKIP() << whyNot;
    Desktop& desktop = drag.desktop;
    ASSERT_FALSE(drag.label.empty()) << "the Portal did not open and choose a chip\n" << desktop.log;
    desktop.input->button(1, false);
    desktop.input->sync();
    ASSERT_TRUE(drag.source->waitForLine("released", 10s)) << drag.source->lines();
    // The drop is held until the Portal is past the grace after the release: either it says it
    // still waits, or it has gone.
    const size_t released = desktop.log.size();
    ASSERT_TRUE(testing::waitFor(
        [&] {
            desktop.readLog();
            return desktop.log.find("still waiting for it", released) != std::string::npos || !desktop.portal();
        },
        10s));
    drag.source->write("drop");
    ASSERT_TRUE(drag.source->waitForLine("drop-sent", 10s)) << drag.source->lines();
    ASSERT_TRUE(desktop.await("DROP target=", 10s)) << "the late drop was refused\n" << desktop.log;
    EXPECT_EQ(desktop.restOfLine(), drag.label + " committed=true") << desktop.log;
    desktop.input->key("Shift_L", false);
    EXPECT_TRUE(testing::waitFor([&] { return madeBeside(drag.picture).has_value(); }, 30s)) << desktop.log;
}

// A source that had not yet heard the Portal accept withdraws its drop at the release (it
// sends XdndLeave, as Qt and GTK do on a busy desktop); here its drag has entered the Portal and
// points at its top chip.
class AWithdrawingSource : public ::testing::Test {
protected:
    void SetUp() override {
        testing::coreApplication("test-app-desktop");
        drag.emplace();
        if (const std::string whyNot = drag->open("--withdraw"); !whyNot.empty()) GTEST_SKIP() << whyNot;
        ASSERT_FALSE(drag->label.empty()) << "the Portal did not open and choose a chip\n" << drag->desktop.log;
        ASSERT_TRUE(drag->source->waitForLine("enter", 5s)) << drag->source->lines();
    }
    std::optional<DragOverThePortal> drag;
};

// Let go on the chip with the trigger held: the drag still converts to that chip.
TEST_F(AWithdrawingSource, StillConvertsTheDragLetGoOnAChip) {
    Desktop& desktop = drag->desktop;
    desktop.input->button(1, false);
    desktop.input->sync();
    ASSERT_TRUE(drag->source->waitForLine("withdrawn", 10s)) << drag->source->lines();
    ASSERT_TRUE(desktop.await("DROP target=", 10s)) << "the withdrawn drop was lost\n" << desktop.log;
    EXPECT_EQ(desktop.restOfLine().rfind(drag->label + " committed=true", 0), 0u) << desktop.log;
    desktop.input->key("Shift_L", false);
    EXPECT_TRUE(testing::waitFor([&] { return madeBeside(drag->picture).has_value(); }, 30s)) << desktop.log;
}

// Let go off the Portal, after it had offered the drag there: nothing converts.
TEST_F(AWithdrawingSource, LeavesADragLetGoBesideThePortalUnconverted) {
    Desktop& desktop = drag->desktop;
    const auto frame = desktop.portal();
    ASSERT_TRUE(frame);
    desktop.glideTo(frame->x + frame->width + 60, frame->y + frame->height / 2);
    ASSERT_TRUE(desktop.await("SELECT none", 10s)) << desktop.log;
    desktop.input->button(1, false);
    desktop.input->sync();
    ASSERT_TRUE(drag->source->waitForLine("drag-end", 10s)) << drag->source->lines();
    desktop.input->key("Shift_L", false);
    desktop.input->sync();
    ASSERT_TRUE(testing::waitFor([&] { return !desktop.portal(); }, 15s)) << desktop.log;
    desktop.readLog();
    EXPECT_EQ(desktop.log.find("DROP target=", desktop.seen), std::string::npos) << desktop.log;
    EXPECT_FALSE(madeBeside(drag->picture)) << madeBeside(drag->picture)->string();
}

}  // namespace
}  // namespace kolvex
