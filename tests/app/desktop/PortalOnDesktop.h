// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The real program under a window manager with its settings chosen, reached with a real drag
// from a Qt program, and what its tests read back: the log, the windows, the files written.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QImage>
#include <QStandardPaths>

#include "KolvexOnDesktop.h"
#include "support/TempDir.h"

namespace kolvex::desktop {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::ChildProgram;
using testing::FakeInput;
using testing::WindowFrame;

constexpr int kScreenWidth = 1280, kScreenHeight = 800;

// The settings record as the settings window stores it, with the two questions chosen.
inline std::string preferencesJson(bool askFolder, bool askNames) {
    return std::string(R"({"outputLocation":")") + (askFolder ? "ask" : "sameAsSource") +
           R"(","conflictBehaviour":")" + (askNames ? "ask" : "rename") +
           R"(","preserveMetadata":true,"showNotifications":false,"imageQuality":0.85,"videoQuality":0.7,)"
           R"("audioBitrate":192000,"parallelLimit":0,"appearance":"system","debugLogging":false,)"
           R"("triggerModifier":"shift"})";
}

// What a file is by its first bytes, read without any of our code: the format a chip names.
inline bool hasFormat(const fs::path& file, const std::string& label, std::string& seen) {
    std::ifstream in(file, std::ios::binary);
    std::string head(16, '\0');
    in.read(head.data(), 16);
    head.resize(static_cast<size_t>(in.gcount()));
    const auto starts = [&head](const std::string& magic, size_t at = 0) { return head.compare(at, magic.size(), magic) == 0; };
    const std::string brand = head.size() >= 12 && starts("ftyp", 4) ? head.substr(8, 4) : std::string();
    seen.clear();
    for (unsigned char c : head) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x ", c);
        seen += hex;
    }
    if (label == "JPEG") return starts("\xff\xd8\xff");
    if (label == "PNG") return starts("\x89PNG");
    if (label == "WebP") return starts("RIFF") && starts("WEBP", 8);
    if (label == "TIFF") return starts(std::string("II*\0", 4)) || starts(std::string("MM\0*", 4));
    if (label == "GIF") return starts("GIF8");
    if (label == "BMP") return starts("BM");
    if (label == "PDF") return starts("%PDF");
    if (label == "ICO") return starts(std::string("\0\0\1\0", 4));
    if (label == "AVIF") return brand == "avif" || brand == "avis";
    if (label == "HEIC") return brand == "heic" || brand == "heix" || brand == "mif1";
    if (label == "JPEG XL" || label == "JXL") return starts("\xff\x0a") || starts(std::string("\0\0\0\x0cJXL ", 8));
    seen = "no rule for " + label;
    return false;
}

// One chip of the ring the log shows: its label and its offset from the centre, y upwards.
struct Chip {
    std::string label;
    double x = 0, y = 0;
};

// The chips of the last ring in the log from `from` on.
inline std::vector<Chip> lastRing(const std::string& log, size_t from) {
    const auto at = log.rfind("RING n=");
    if (at == std::string::npos || at < from) return {};
    const std::string line = log.substr(at, log.find('\n', at) - at);
    std::vector<Chip> chips;
    static const std::regex entry(R"(([^ ]+)@-?[0-9]+°\(([+-]?[0-9]+),([+-]?[0-9]+)\))");
    for (std::sregex_iterator it(line.begin(), line.end(), entry), end; it != end; ++it)
        chips.push_back({(*it)[1].str(), std::stod((*it)[2].str()), std::stod((*it)[3].str())});
    return chips;
}

// The program on an Xvfb of its own with openbox, its settings chosen, no welcome in the way.
class KolvexUnderAWindowManager {
public:
    bool start(std::string& whyNot, bool askFolder, bool askNames, double scale = 1,
               const std::vector<fs::path>& launchFiles = {}) {
        xvfb = testing::Xvfb::start(whyNot, screenWidth, screenHeight);
        if (!xvfb) return false;
        for (const char* tool : {"xwininfo", "xprop"}) {
            if (QStandardPaths::findExecutable(tool).isEmpty()) {
                whyNot = std::string(tool) + " is not installed";
                return false;
            }
        }
        manager = testing::WindowManager::start(xvfb->display(), home.path(), whyNot);
        if (!manager) return false;
        fs::create_directories(home / "out");
        home.write("config/kolvex/defaults.json",
                   std::string(R"({"KolvexDidShowWelcome": {"type": "bool", "value": true},)") +
                       R"("KolvexLastOutputFolder": {"type": "string", "value": ")" + (home / "out").string() + R"("},)" +
                       R"("KolvexPreferences": {"type": "data", "json": )" + preferencesJson(askFolder, askNames) + "}}");
        environment = testing::kolvexEnvironment(*xvfb, home);
        if (scale != 1) environment.insert("QT_SCALE_FACTOR", QString::number(scale));
        kolvex.setProcessEnvironment(environment);
        kolvex.setProcessChannelMode(QProcess::SeparateChannels);
        QStringList arguments;
        for (const auto& file : launchFiles) arguments << QString::fromStdString(file.string());
        kolvex.start(KOLVEX_PROGRAM, arguments);
        if (!kolvex.waitForStarted(10000)) {
            whyNot = "kolvex did not start";
            return false;
        }
        input = std::make_unique<FakeInput>(xvfb->display());
        return input->ok();
    }

    ~KolvexUnderAWindowManager() {
        if (input && input->ok()) {
            input->key("Shift_L", false);
            input->button(1, false);
        }
        source.reset();
        kolvex.terminate();
        kolvex.waitForFinished(15000);
    }

    // Up with its settings and its drag observer, and a source at (x, y) that drags `files`.
    // Skips the test where it cannot run; the caller returns on a skip or a fatal failure.
    void startWithSource(bool askFolder, bool askNames, int x, int y, const std::vector<fs::path>& files) {
        std::string whyNot;
        if (!start(whyNot, askFolder, askNames)) GTEST_SKIP() << whyNot;
        ASSERT_TRUE(await("DragObserver started", 20s)) << log;
        placeSource(x, y, files);
    }

    // Waits for `text` in the log after what was seen before; moves past it.
    bool await(const std::string& text, std::chrono::milliseconds timeout) {
        return testing::awaitLog(kolvex, log, seen, text, timeout);
    }
    // Takes in what the program has written so far (QProcess reads its pipe only when asked).
    void readLog() {
        kolvex.waitForReadyRead(20);
        log += kolvex.readAllStandardError().toStdString();
    }
    bool logHas(const std::string& text, size_t from) {
        readLog();
        return log.find(text, from) != std::string::npos;
    }

    // The chip the Portal chose last after `from` in the log ("none" for no chip), or empty.
    std::string lastSelection(size_t from) {
        readLog();
        const auto at = log.rfind("SELECT ");
        if (at == std::string::npos || at < from) return {};
        return log.substr(at + 7, log.find(" d=", at) - at - 7);
    }

    std::optional<WindowFrame> portal() { return testing::viewableWindow(environment, "Kolvex Portal"); }

    // A small window of a Qt program that drags `files`, around (x, y); `managed`: one the window
    // manager stacks and focuses, as a file manager's is.
    void placeSource(int x, int y, const std::vector<fs::path>& files, bool managed = false) {
        const int side = 60;
        const int left = std::clamp(x - side / 2, 0, screenWidth - side);
        const int top = std::clamp(y - side / 2, 0, screenHeight - side);
        std::vector<std::string> arguments{std::to_string(left), std::to_string(top), std::to_string(side),
                                           std::to_string(side)};
        if (managed) arguments.insert(arguments.begin(), "--managed");
        for (const auto& f : files) arguments.push_back(f.string());
        source = std::make_unique<ChildProgram>(KOLVEX_DRAG_SOURCE_QT, arguments,
                                                testing::desktopEnvironment(xvfb->display(), home.path()));
        ASSERT_TRUE(source->waitForLine("ready", 10s)) << "the drag source did not come up";
    }

    // Drags from (x, y), opens the Portal with Shift and returns its frame with the ring's chips.
    std::optional<WindowFrame> openPortal(int x, int y, std::vector<Chip>& chips) {
        const size_t from = log.size();
        if (!testing::beginDrag(*input, *source, x, y)) return std::nullopt;
        input->key("Shift_L", true);
        if (!await("RING n=", 10s)) return std::nullopt;
        std::optional<WindowFrame> frame;
        testing::waitFor([&] { return (frame = portal()).has_value(); }, 10s);
        testing::nudgeUntilTheRingFills(*input, [&] {
            readLog();
            return !(chips = lastRing(log, from)).empty();
        });
        return frame;
    }

    // Moves the pointer in steps, as a hand does, to (x, y). The pause between steps is the
    // hand's pace, not a wait for the program: whoever needs the Portal to have followed waits
    // for its selection (`pointAt`).
    void glideTo(int x, int y) {
        auto [px, py] = input->pointer();
        const int steps = 12;
        for (int i = 1; i <= steps; ++i) {
            input->moveTo(px + (x - px) * i / steps, py + (y - py) * i / steps);
            testing::pumpUntil([] { return false; }, 15ms);
        }
    }

    // Glides onto `chip` of the Portal at `frame` and waits until the Portal chose it (a loaded
    // machine hands the drag's position on late); false when it never did.
    bool pointAt(const WindowFrame& frame, const Chip& chip, size_t from) {
        const double s = frame.width / 480.0;
        glideTo(frame.x + frame.width / 2 + static_cast<int>(std::lround(chip.x * s)),
                frame.y + frame.height / 2 - static_cast<int>(std::lround(chip.y * s)));
        return testing::waitFor([&] { return lastSelection(from) == chip.label; }, 5s);
    }

    // Releases the drag there, then Shift; the label the drop committed to, or empty.
    std::string drop() {
        input->button(1, false);
        const bool ended = source->waitForLine("drag-end", 10s);
        input->key("Shift_L", false);
        if (!ended || !await("DROP target=", 10s)) return {};
        const auto end = log.find(" committed=", seen);
        return end == std::string::npos ? std::string() : log.substr(seen, end - seen);
    }

    // The window that has the keyboard, by the window manager: its title, or empty.
    std::string activeWindowTitle() {
        const std::string active = testing::outputOf("xprop", {"-root", "_NET_ACTIVE_WINDOW"}, environment);
        const auto hash = active.find("# ");
        if (hash == std::string::npos) return {};
        const std::string id = active.substr(hash + 2, active.find_first_of(",\n", hash + 2) - hash - 2);
        if (id == "0x0") return {};
        const std::string info = testing::outputOf("xwininfo", {"-id", QString::fromStdString(id)}, environment);
        if (info.find("IsViewable") == std::string::npos) return {};
        const std::string name = testing::outputOf("xprop", {"-id", QString::fromStdString(id), "_NET_WM_NAME"}, environment);
        const auto quote = name.find('"');
        return quote == std::string::npos ? std::string() : name.substr(quote + 1, name.rfind('"') - quote - 1);
    }

    // The managed windows' titles, bottom to top.
    std::vector<std::string> stackingTitles() {
        std::vector<std::string> titles;
        const std::string list = testing::outputOf("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"}, environment);
        static const std::regex id("0x[0-9a-f]+");
        for (std::sregex_iterator it(list.begin(), list.end(), id), end; it != end; ++it) {
            const std::string name =
                testing::outputOf("xprop", {"-id", QString::fromStdString(it->str()), "_NET_WM_NAME"}, environment);
            const auto quote = name.find('"');
            titles.push_back(quote == std::string::npos ? std::string() : name.substr(quote + 1, name.rfind('"') - quote - 1));
        }
        return titles;
    }

    void press(const std::string& key) {
        input->key(key, true);
        input->key(key, false);
        input->sync();
    }

    // The screen's size; set before `start`.
    int screenWidth = kScreenWidth, screenHeight = kScreenHeight;
    std::unique_ptr<testing::Xvfb> xvfb;
    std::unique_ptr<testing::WindowManager> manager;
    testing::TempDir home;
    QProcessEnvironment environment;
    QProcess kolvex;
    std::string log;
    size_t seen = 0;
    std::unique_ptr<FakeInput> input;
    std::unique_ptr<ChildProgram> source;
};

// Files in `folder` that are not in `before`.
inline std::vector<fs::path> newFiles(const fs::path& folder, const std::set<fs::path>& before) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder))
        if (!before.contains(entry.path())) found.push_back(entry.path());
    return found;
}

inline std::set<fs::path> filesIn(const fs::path& folder) {
    std::set<fs::path> all;
    for (const auto& entry : fs::directory_iterator(folder)) all.insert(entry.path());
    return all;
}

inline fs::path writePicture(const fs::path& path, const char* format) {
    QImage image(48, 32, QImage::Format_RGB32);
    image.fill(QColor(40, 140, 200));
    image.save(QString::fromStdString(path.string()), format);
    return path;
}

// Drops the source's file on the JPEG chip of a Portal opened from the source at (x, y); the
// label the drop committed to, or empty (with what the Portal chose instead in the log).
inline std::string dropOnJpegFrom(KolvexUnderAWindowManager& desktop, int x, int y) {
    desktop.readLog();
    const size_t from = desktop.log.size();
    std::vector<Chip> chips;
    const auto frame = desktop.openPortal(x, y, chips);
    if (!frame) return {};
    const auto chip = std::find_if(chips.begin(), chips.end(), [](const Chip& c) { return c.label == "JPEG"; });
    if (chip == chips.end()) return {};
    if (!desktop.pointAt(*frame, *chip, from)) {
        desktop.log += "[test] the Portal chose \"" + desktop.lastSelection(from) + "\", not JPEG\n";
        return {};
    }
    return desktop.drop();
}

// Drops `picture` on its ring's JPEG chip from the middle of the screen.
inline std::string dropOnJpeg(KolvexUnderAWindowManager& desktop) {
    return dropOnJpegFrom(desktop, 640, 400);
}

// The question is the window with the keyboard, the topmost managed window, and the Portal
// (above every window when it shows) is out of its way; nothing runs meanwhile.
inline void expectInFront(KolvexUnderAWindowManager& desktop, const std::string& title, size_t before) {
    std::string active;
    EXPECT_TRUE(testing::waitFor([&] { return (active = desktop.activeWindowTitle()) == title; }, 10s))
        << "the window with the keyboard is \"" << active << "\"\n" << desktop.log;
    const auto stack = desktop.stackingTitles();
    ASSERT_FALSE(stack.empty());
    EXPECT_EQ(stack.back(), title) << "not the topmost window";
    EXPECT_FALSE(desktop.portal()) << "the Portal covers the question";
    EXPECT_FALSE(desktop.logHas("Commit ", before)) << "a run started before the answer\n" << desktop.log;
}

}  // namespace kolvex::desktop
