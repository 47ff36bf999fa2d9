// SPDX-License-Identifier: GPL-3.0-or-later
// The real program under a window manager, reached with a real drag from a Qt program: a drop
// converts to the chip under the pointer wherever the Portal opened, the questions the settings
// leave to the user come up in front of it with the keyboard before anything runs, and tools
// and walks say what became of each file.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
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

namespace kolvex {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::ChildProgram;
using testing::FakeInput;
using testing::WindowFrame;

constexpr int kScreenWidth = 1280, kScreenHeight = 800;

// The settings record as the settings window stores it, with the two questions chosen.
std::string preferencesJson(bool askFolder, bool askNames) {
    return std::string(R"({"outputLocation":")") + (askFolder ? "ask" : "sameAsSource") +
           R"(","conflictBehaviour":")" + (askNames ? "ask" : "rename") +
           R"(","preserveMetadata":true,"showNotifications":false,"imageQuality":0.85,"videoQuality":0.7,)"
           R"("audioBitrate":192000,"parallelLimit":0,"appearance":"system","debugLogging":false,)"
           R"("triggerModifier":"shift"})";
}

// What a file is by its first bytes, read without any of our code: the format a chip names.
bool hasFormat(const fs::path& file, const std::string& label, std::string& seen) {
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
std::vector<Chip> lastRing(const std::string& log, size_t from) {
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
        xvfb = testing::Xvfb::start(whyNot, kScreenWidth, kScreenHeight);
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

    // Waits for `text` in the log after what was seen before; moves past it.
    bool await(const std::string& text, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + testing::patience(timeout);
        while (true) {
            const auto at = log.find(text, seen);
            if (at != std::string::npos) {
                seen = at + text.size();
                return true;
            }
            if (std::chrono::steady_clock::now() > deadline || kolvex.state() == QProcess::NotRunning) return false;
            kolvex.waitForReadyRead(100);
            log += kolvex.readAllStandardError().toStdString();
        }
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

    // A small window of a Qt program that drags `files`, around (x, y).
    void placeSource(int x, int y, const std::vector<fs::path>& files) {
        const int side = 60;
        const int left = std::clamp(x - side / 2, 0, kScreenWidth - side);
        const int top = std::clamp(y - side / 2, 0, kScreenHeight - side);
        std::vector<std::string> arguments{std::to_string(left), std::to_string(top), std::to_string(side),
                                           std::to_string(side)};
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
        readLog();
        chips = lastRing(log, from);
        return frame;
    }

    // Moves the pointer in steps, as a hand does, to (x, y).
    void glideTo(int x, int y) {
        auto [px, py] = input->pointer();
        const int steps = 12;
        for (int i = 1; i <= steps; ++i) {
            input->moveTo(px + (x - px) * i / steps, py + (y - py) * i / steps);
            testing::pumpUntil([] { return false; }, 15ms);
        }
        testing::pumpUntil([] { return false; }, 120ms);  // the drag's position reaches the Portal
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
std::vector<fs::path> newFiles(const fs::path& folder, const std::set<fs::path>& before) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder))
        if (!before.contains(entry.path())) found.push_back(entry.path());
    return found;
}

std::set<fs::path> filesIn(const fs::path& folder) {
    std::set<fs::path> all;
    for (const auto& entry : fs::directory_iterator(folder)) all.insert(entry.path());
    return all;
}

fs::path writePicture(const fs::path& path, const char* format) {
    QImage image(48, 32, QImage::Format_RGB32);
    image.fill(QColor(40, 140, 200));
    image.save(QString::fromStdString(path.string()), format);
    return path;
}

// ---------------------------------------------------------------------------------------------
// The chip under the pointer, wherever the Portal opened

enum class Edge { top, bottom, left, right, corner };

struct Where {
    Edge edge;
    double scale;
};

class ADropNearAnEdge : public ::testing::TestWithParam<Where> {};

TEST_P(ADropNearAnEdge, ConvertsToTheChipUnderThePointer) {
    testing::coreApplication("test-app-desktop");
    const auto [edge, scale] = GetParam();
    KolvexUnderAWindowManager desktop;
    std::string whyNot;
    const fs::path folder = desktop.home / "pictures";
    fs::create_directories(folder);
    const fs::path picture = writePicture(folder / "pic.png", "PNG");
    if (!desktop.start(whyNot, false, false, scale)) GTEST_SKIP() << whyNot;
    ASSERT_TRUE(desktop.await("DragObserver started", 20s)) << desktop.log;

    // Within 240 px of the edge: the Portal is pushed back on screen, away from the pointer.
    const std::pair<int, int> start = edge == Edge::top      ? std::pair{640, 24}
                                      : edge == Edge::bottom ? std::pair{640, kScreenHeight - 40}
                                      : edge == Edge::left   ? std::pair{24, 400}
                                      : edge == Edge::right  ? std::pair{kScreenWidth - 40, 400}
                                                             : std::pair{24, 24};
    desktop.placeSource(start.first, start.second, {picture});
    if (HasFatalFailure()) return;

    std::vector<Chip> ring;
    ASSERT_TRUE(desktop.openPortal(start.first, start.second, ring)) << "the Portal did not open\n" << desktop.log;
    ASSERT_GE(ring.size(), 2u) << desktop.log;
    // This first drag only reads the ring: Shift goes first, so the release drops nothing on
    // the Portal (near an edge the pointer may already point at a chip).
    desktop.input->key("Shift_L", false);
    ASSERT_TRUE(testing::waitFor([&] { return !desktop.portal(); }, 10s));
    desktop.input->button(1, false);
    desktop.source->waitForLine("drag-end", 10s);
    desktop.readLog();
    desktop.seen = desktop.log.size();
    const auto untouched = filesIn(folder);
    ASSERT_EQ(untouched, (std::set<fs::path>{picture})) << "a drag that only looked converted something";

    for (const auto& chip : ring) {
        SCOPED_TRACE(chip.label);
        const auto before = filesIn(folder);
        desktop.readLog();
        const size_t gesture = desktop.log.size();
        std::vector<Chip> chips;
        const auto frame = desktop.openPortal(start.first, start.second, chips);
        ASSERT_TRUE(frame) << "the Portal did not open\n" << desktop.log;
        const double s = frame->width / 480.0;
        {
            // Pushed on screen: the Portal is not centred on the pointer.
            const auto [px, py] = desktop.input->pointer();
            EXPECT_GT(std::hypot(px - (frame->x + frame->width / 2.0), py - (frame->y + frame->height / 2.0)), 20 * s);
        }
        const int cx = frame->x + frame->width / 2, cy = frame->y + frame->height / 2;
        desktop.glideTo(cx + static_cast<int>(std::lround(chip.x * s)), cy - static_cast<int>(std::lround(chip.y * s)));
        // The hand lets go once the Portal shows the chip chosen (a loaded machine samples the
        // pointer late).
        EXPECT_TRUE(testing::waitFor([&] { return desktop.lastSelection(gesture) == chip.label; }, 5s))
            << "the Portal chose " << desktop.lastSelection(gesture);
        const std::string dropped = desktop.drop();
        EXPECT_EQ(dropped, chip.label) << "the drop went to another chip than the one under the pointer";
        // Once the Portal says what it wrote, the file is complete under its name.
        ASSERT_TRUE(desktop.await("OUTCOME succeeded ", 30s)) << "nothing was written\n" << desktop.log;
        const fs::path made = folder / desktop.log.substr(desktop.seen, desktop.log.find('\n', desktop.seen) - desktop.seen);
        EXPECT_EQ(newFiles(folder, before), std::vector<fs::path>{made});
        std::string seen;
        EXPECT_TRUE(hasFormat(made, chip.label, seen)) << made << " is not " << chip.label << ": " << seen;
        ASSERT_TRUE(testing::waitFor([&] { return !desktop.portal(); }, 15s)) << "the Portal stayed\n" << desktop.log;
        for (const auto& file : newFiles(folder, before)) fs::remove(file);
    }
}

std::string whereName(const ::testing::TestParamInfo<Where>& info) {
    static const char* const names[] = {"Top", "Bottom", "Left", "Right", "Corner"};
    return std::string(names[static_cast<int>(info.param.edge)]) + (info.param.scale == 1 ? "At1x" : "At125");
}

INSTANTIATE_TEST_SUITE_P(Edges, ADropNearAnEdge,
                         ::testing::Values(Where{Edge::top, 1}, Where{Edge::bottom, 1}, Where{Edge::left, 1},
                                           Where{Edge::right, 1}, Where{Edge::corner, 1}, Where{Edge::top, 1.25},
                                           Where{Edge::bottom, 1.25}, Where{Edge::left, 1.25},
                                           Where{Edge::right, 1.25}, Where{Edge::corner, 1.25}),
                         whereName);

// ---------------------------------------------------------------------------------------------
// Questions in front of the user

// Drops `picture` on its ring's JPEG chip from the middle of the screen.
std::string dropOnJpeg(KolvexUnderAWindowManager& desktop) {
    std::vector<Chip> chips;
    const auto frame = desktop.openPortal(640, 400, chips);
    if (!frame) return {};
    const auto chip = std::find_if(chips.begin(), chips.end(), [](const Chip& c) { return c.label == "JPEG"; });
    if (chip == chips.end()) return {};
    const double s = frame->width / 480.0;
    desktop.glideTo(frame->x + frame->width / 2 + static_cast<int>(std::lround(chip->x * s)),
                    frame->y + frame->height / 2 - static_cast<int>(std::lround(chip->y * s)));
    return desktop.drop();
}

// The question is the window with the keyboard, the topmost managed window, and the Portal
// (above every window when it shows) is out of its way; nothing runs meanwhile.
void expectInFront(KolvexUnderAWindowManager& desktop, const std::string& title, size_t before) {
    std::string active;
    EXPECT_TRUE(testing::waitFor([&] { return (active = desktop.activeWindowTitle()) == title; }, 10s))
        << "the window with the keyboard is \"" << active << "\"\n" << desktop.log;
    const auto stack = desktop.stackingTitles();
    ASSERT_FALSE(stack.empty());
    EXPECT_EQ(stack.back(), title) << "not the topmost window";
    EXPECT_FALSE(desktop.portal()) << "the Portal covers the question";
    EXPECT_FALSE(desktop.logHas("Commit ", before)) << "a run started before the answer\n" << desktop.log;
}

TEST(QuestionsOnTheDesktop, TheFolderChooserComesUpInFrontAndAnswersToTheKeyboard) {
    testing::coreApplication("test-app-desktop");
    KolvexUnderAWindowManager desktop;
    std::string whyNot;
    const fs::path picture = writePicture(desktop.home / "pic.png", "PNG");
    if (!desktop.start(whyNot, /*askFolder=*/true, false)) GTEST_SKIP() << whyNot;
    ASSERT_TRUE(desktop.await("DragObserver started", 20s)) << desktop.log;
    desktop.placeSource(640, 400, {picture});
    if (HasFatalFailure()) return;
    const size_t before = desktop.log.size();
    ASSERT_EQ(dropOnJpeg(desktop), "JPEG") << desktop.log;
    expectInFront(desktop, "Where should the converted files go?", before);
    desktop.press("Return");  // "Convert Here", at the last folder chosen
    const fs::path made = desktop.home / "out" / "pic.jpg";
    EXPECT_TRUE(testing::waitFor([&] { return fs::exists(made); }, 30s)) << desktop.log;
    std::string seen;
    EXPECT_TRUE(hasFormat(made, "JPEG", seen)) << seen;
}

TEST(QuestionsOnTheDesktop, KeepBothOrSkipComesUpInFrontAndAnswersToTheKeyboard) {
    testing::coreApplication("test-app-desktop");
    KolvexUnderAWindowManager desktop;
    std::string whyNot;
    const fs::path picture = writePicture(desktop.home / "pic.png", "PNG");
    const fs::path theirs = desktop.home.write("pic.jpg", "the user's own");
    if (!desktop.start(whyNot, false, /*askNames=*/true)) GTEST_SKIP() << whyNot;
    ASSERT_TRUE(desktop.await("DragObserver started", 20s)) << desktop.log;
    desktop.placeSource(640, 400, {picture});
    if (HasFatalFailure()) return;

    // Escape skips: nothing is written, and the Portal comes back to say so.
    size_t before = desktop.log.size();
    ASSERT_EQ(dropOnJpeg(desktop), "JPEG") << desktop.log;
    expectInFront(desktop, "Kolvex", before);
    desktop.press("Escape");
    EXPECT_TRUE(desktop.await("OUTCOME failed Nothing converted", 20s)) << desktop.log;
    EXPECT_FALSE(fs::exists(desktop.home / "pic 2.jpg"));
    ASSERT_TRUE(testing::waitFor([&] { return !desktop.portal(); }, 15s));

    // Return keeps both: the new file gets a number, the user's own is untouched.
    before = desktop.log.size();
    ASSERT_EQ(dropOnJpeg(desktop), "JPEG") << desktop.log;
    expectInFront(desktop, "Kolvex", before);
    desktop.press("Return");
    const fs::path made = desktop.home / "pic 2.jpg";
    EXPECT_TRUE(testing::waitFor([&] { return fs::exists(made); }, 30s)) << desktop.log;
    std::string seen;
    EXPECT_TRUE(hasFormat(made, "JPEG", seen)) << seen;
    std::ifstream in(theirs);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the user's own");
}

// ---------------------------------------------------------------------------------------------
// Tools and walks from the keyboard Portal

// Opens the keyboard Portal's tools and commits the chip `label`.
void commitTool(KolvexUnderAWindowManager& desktop, const std::string& label) {
    ASSERT_TRUE(desktop.await("RING n=", 20s)) << desktop.log;
    ASSERT_TRUE(testing::waitFor([&] { return desktop.portal().has_value(); }, 10s));
    ASSERT_TRUE(testing::waitFor([&] { return desktop.input->focusedWindowTitle() == "Kolvex Portal"; }, 10s))
        << "the Portal never took the keyboard\n" << desktop.log;
    desktop.readLog();
    const size_t before = desktop.log.size();
    desktop.press("Tab");
    // The tools' ring; the convert ring may be built again meanwhile (FFmpeg attaches a moment
    // after launch), so the wait is for the chip itself.
    std::optional<int> steps;
    ASSERT_TRUE(testing::waitFor(
        [&] {
            desktop.readLog();
            return desktop.log.find("RING n=", before) != std::string::npos &&
                   (steps = testing::chipSteps(desktop.log, label)).has_value();
        },
        10s))
        << "no " << label << " chip\n" << desktop.log;
    for (int i = 0; i < *steps; ++i) desktop.press("Right");
    desktop.press("Return");
}

TEST(ToolsOnTheDesktop, AToolOnAFileBesideItselfAsksNothingAboutItsSource) {
    testing::coreApplication("test-app-desktop");
    KolvexUnderAWindowManager desktop;
    std::string whyNot;
    const fs::path photo = writePicture(desktop.home / "photo.jpg", "JPEG");
    if (!desktop.start(whyNot, false, /*askNames=*/true, 1, {photo})) GTEST_SKIP() << whyNot;
    commitTool(desktop, "Strip Metadata");
    if (HasFatalFailure()) return;
    const fs::path made = desktop.home / "photo 2.jpg";
    EXPECT_TRUE(testing::waitFor([&] { return fs::exists(made) || desktop.activeWindowTitle() == "Kolvex"; }, 30s));
    EXPECT_NE(desktop.activeWindowTitle(), "Kolvex") << "asked whether to replace the file's own source";
    EXPECT_TRUE(fs::exists(made)) << desktop.log;
    std::string seen;
    EXPECT_TRUE(hasFormat(made, "JPEG", seen)) << seen;
    EXPECT_TRUE(fs::exists(photo));
}

TEST(ToolsOnTheDesktop, AWalkWithABadFileNamesThatFile) {
    testing::coreApplication("test-app-desktop");
    KolvexUnderAWindowManager desktop;
    std::string whyNot;
    const fs::path good = writePicture(desktop.home / "good.jpg", "JPEG");
    const fs::path bad = desktop.home.write("zz.jpg", "not a picture at all");
    if (!desktop.start(whyNot, false, false, 1, {good, bad})) GTEST_SKIP() << whyNot;
    commitTool(desktop, "Crop");
    if (HasFatalFailure()) return;
    // The first file's sheet; Return moves on to the next file, whose sheet cannot be made.
    std::string active;
    ASSERT_TRUE(testing::waitFor([&] { return (active = desktop.activeWindowTitle()).find("good.jpg") != std::string::npos; }, 20s))
        << active << "\n" << desktop.log;
    desktop.press("Return");
    ASSERT_TRUE(desktop.await("Failure told: ", 30s)) << desktop.log;
    const std::string line = desktop.log.substr(desktop.seen, desktop.log.find('\n', desktop.seen) - desktop.seen);
    EXPECT_NE(line.find("zz.jpg"), std::string::npos) << line;
    EXPECT_EQ(line.find("good.jpg"), std::string::npos) << "the failure names another file: " << line;
}

}  // namespace
}  // namespace kolvex
