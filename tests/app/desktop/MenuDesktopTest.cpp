// SPDX-License-Identifier: GPL-3.0-or-later
// The tray menu of the real program in a real tray (trayer) on a desktop with a window manager
// and a session bus of its own, used with the mouse and the keys: files whose names are not UTF-8
// are revealed and chosen like any other.
#include <cctype>
#include <chrono>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QStandardPaths>
#include <QUrl>

#include "KolvexOnDesktop.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;
using testing::FakeInput;
namespace fs = std::filesystem;

constexpr const char* kOdd = "caf\xe9 \xff";  // Latin-1 and a byte no UTF-8 has

// A key typed at the window that has the keyboard. The server hands keys over in the order they
// were typed, so a run of them needs no pause: a test waits only for the window to take them.
void press(FakeInput& input, const std::string& key) {
    input.key(key, true);
    input.key(key, false);
    input.sync();
}

// `text` typed key by key at the window that has the keyboard: letters, digits and the marks a
// path holds.
void type(FakeInput& input, const std::string& text) {
    static const std::map<char, std::string> marks = {{'/', "slash"}, {'-', "minus"}, {'.', "period"},
                                                      {'_', "underscore"}, {' ', "space"}};
    for (const char c : text) {
        const bool shifted = std::isupper(static_cast<unsigned char>(c)) || c == '_';
        const auto mark = marks.find(c);
        ASSERT_TRUE(mark != marks.end() || std::isalnum(static_cast<unsigned char>(c))) << "cannot type " << c;
        if (shifted) input.key("Shift_L", true);
        press(input, mark != marks.end() ? mark->second : std::string(1, c));
        if (shifted) input.key("Shift_L", false);
    }
}

// A file manager on the session bus that only notes what it is asked to show.
class FakeFileManager : public QDBusVirtualObject {
public:
    std::vector<QStringList> shown;

    QString introspect(const QString&) const override {
        return R"(<interface name="org.freedesktop.FileManager1"><method name="ShowItems">)"
               R"(<arg type="as" direction="in"/><arg type="s" direction="in"/></method></interface>)";
    }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != "org.freedesktop.FileManager1" || message.member() != "ShowItems") return false;
        shown.push_back(message.arguments().value(0).toStringList());
        connection.send(message.createReply());
        return true;
    }
};

// Kolvex with its tray icon in a real tray, on a session bus of its own.
struct TrayDesktop {
    std::unique_ptr<testing::Xvfb> xvfb;
    std::unique_ptr<testing::WindowManager> manager;
    testing::TempDir home;
    QProcessEnvironment environment;
    QProcess bus, tray, kolvex;
    std::string log;

    std::string start(const std::string& defaults) {
        for (const char* program : {"trayer", "dbus-daemon", "xwininfo", "xprop"})
            if (QStandardPaths::findExecutable(program).isEmpty()) return std::string(program) + " is not installed";
        std::string whyNot;
        xvfb = testing::Xvfb::start(whyNot);
        if (!xvfb) return whyNot;
        manager = testing::WindowManager::start(xvfb->display(), home.path(), whyNot);
        if (!manager) return whyNot;
        home.write("config/kolvex/defaults.json", defaults);
        environment = testing::kolvexEnvironment(*xvfb, home);
        if (!testing::startSessionBus(bus, environment)) return "the session bus gave no address";
        if (auto trayDown = testing::startTray(tray, *xvfb, environment); !trayDown.empty()) return trayDown;
        kolvex.setProcessEnvironment(environment);
        kolvex.start(KOLVEX_PROGRAM, {});
        if (!kolvex.waitForStarted(10000) || !testing::waitForLog(kolvex, log, "applicationDidFinishLaunching took", 20s))
            return "kolvex did not start: " + log;
        return {};
    }
    ~TrayDesktop() {
        for (QProcess* process : {&kolvex, &tray, &bus}) {
            process->terminate();
            process->waitForFinished(10000);
        }
    }

    // Kolvex's windows titled `title`, by the window tree, in its order.
    std::vector<testing::WindowFrame> windowsTitled(const std::string& title) {
        const std::string tree = testing::outputOf("xwininfo", {"-root", "-tree"}, environment);
        const std::regex window("\"" + title + R"re(": \("kolvex" "Kolvex"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))re");
        std::vector<testing::WindowFrame> frames;
        for (std::sregex_iterator at(tree.begin(), tree.end(), window), end; at != end; ++at)
            frames.push_back({std::stoi((*at)[3]), std::stoi((*at)[4]), std::stoi((*at)[1]), std::stoi((*at)[2])});
        return frames;
    }

    // The middle of Kolvex's icon in the tray; none while it is not in the tray. The icon's
    // window shares its title with the program's message boxes: it is the small one.
    std::optional<std::pair<int, int>> trayIcon() {
        const std::string tree = testing::outputOf("xwininfo", {"-root", "-tree"}, environment);
        static const std::regex panel(R"re("panel": \("panel" "trayer"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))re");
        std::smatch match;
        if (!std::regex_search(tree, match, panel)) return std::nullopt;
        const int left = std::stoi(match[3]), top = std::stoi(match[4]);
        const int right = left + std::stoi(match[1]), bottom = top + std::stoi(match[2]);
        for (const auto& frame : windowsTitled("Kolvex")) {
            const int x = frame.x + frame.width / 2, y = frame.y + frame.height / 2;
            if (frame.width <= 64 && frame.height <= 64 && x > left && x < right && y > top && y < bottom)
                return std::make_pair(x, y);
        }
        return std::nullopt;
    }

    // True once the window titled `title` has the keyboard (the window manager's active window).
    bool hasFocus(const QString& title) {
        static const std::regex id(R"(0x[0-9a-f]+)");
        std::smatch window, active;
        const std::string info = testing::outputOf("xwininfo", {"-name", title}, environment);
        const std::string root = testing::outputOf("xprop", {"-root", "_NET_ACTIVE_WINDOW"}, environment);
        return std::regex_search(info, window, id) && std::regex_search(root, active, id) &&
               std::stoul(window.str(), nullptr, 16) == std::stoul(active.str(), nullptr, 16);
    }

    // Opens the tray menu with a click on the icon; true once the program says the menu is on
    // screen with the keyboard. Else `whyNot` says what was missing.
    bool openMenu(FakeInput& input) {
        std::optional<std::pair<int, int>> at;
        if (!testing::waitFor([&] { return (at = trayIcon()).has_value(); }, 10s)) {
            whyNot = "no tray icon in the tray; the windows are\n" +
                     testing::outputOf("xwininfo", {"-root", "-tree"}, environment);
            return false;
        }
        // The tray may still be moving to its place as the icon is clicked: a click the icon
        // moved away from is made again where it went.
        readLog();
        const size_t before = log.size();
        for (int clicks = 0; clicks < 5; ++clicks) {
            input.moveTo(at->first, at->second);
            input.button(1, true);
            input.button(1, false);
            input.sync();
            const auto clicked = at;
            bool shown = false;
            testing::waitFor(
                [&] {
                    readLog();
                    shown = log.find("Tray menu shown", before) != std::string::npos;
                    return shown || ((at = trayIcon()) && at != clicked);
                },
                10s);
            if (shown) return true;
            if (!at || at == clicked) break;
        }
        whyNot = "the icon at " + std::to_string(at ? at->first : -1) + "," + std::to_string(at ? at->second : -1) +
                 " was clicked; the menu never said it was shown; the windows are\n" +
                 testing::outputOf("xwininfo", {"-root", "-tree"}, environment);
        return false;
    }
    std::string whyNot;  // why the menu did not open

    // What the program has logged so far.
    void readLog() {
        kolvex.waitForReadyRead(0);
        log += kolvex.readAllStandardError().toStdString();
    }

    // The frame of Kolvex's window titled `title` that is larger than the tray icon; none while
    // there is no such window.
    std::optional<testing::WindowFrame> windowTitled(const std::string& title) {
        for (const auto& frame : windowsTitled(title))
            if (frame.width > 64 && frame.height > 64) return frame;
        return std::nullopt;
    }
};

// Recent ▸ a converted file whose name is not UTF-8 asks the file manager to show that very
// file: its URI carries the name's bytes.
TEST(TheTrayMenu, RevealsARecentFileWhoseNameIsNotUtf8) {
    TrayDesktop desktop;
    const std::string name = std::string(kOdd) + ".md";
    const auto output = desktop.home.write("odd/" + name, "# Hello\n");
    std::string hex;
    for (unsigned char c : output.native()) hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
    const std::string defaults =
        R"({"KolvexDidShowWelcome": {"type": "bool", "value": true}, "KolvexRecentConversions": {"type": "data",)"
        R"( "json": [{"outputPath": "odd", "outputPathBytes": ")" +
        hex + R"(", "sourceName": "odd.txt", "date": 786000000}]}})";
    if (const auto whyNot = desktop.start(defaults); !whyNot.empty()) GTEST_SKIP() << whyNot;

    FakeFileManager fileManager;
    QDBusConnection bus = QDBusConnection::connectToBus(desktop.environment.value("DBUS_SESSION_BUS_ADDRESS"), "fake-file-manager");
    ASSERT_TRUE(bus.isConnected());
    ASSERT_TRUE(bus.registerVirtualObject("/org/freedesktop/FileManager1", &fileManager));
    ASSERT_TRUE(bus.registerService("org.freedesktop.FileManager1"));

    FakeInput input(desktop.xvfb->display());
    ASSERT_TRUE(input.ok());
    ASSERT_TRUE(desktop.openMenu(input)) << desktop.whyNot << "\n" << desktop.log;
    // "Convert Files…", then "Recent", into it, and its first item.
    press(input, "Down");
    press(input, "Down");
    press(input, "Right");
    press(input, "Return");
    ASSERT_TRUE(testing::pumpUntil([&] { return !fileManager.shown.empty(); }, 5s)) << "the file manager was not asked\n" << desktop.log;
    ASSERT_EQ(fileManager.shown.front().size(), 1);
    // A file URI whose percent-decoded path is the file's bytes, with no replacement character.
    const QString uri = fileManager.shown.front().front();
    ASSERT_TRUE(uri.startsWith("file:///")) << uri.toStdString();
    const QByteArray path = QByteArray::fromPercentEncoding(uri.mid(7).toLatin1());
    EXPECT_EQ(path.toStdString(), output.native()) << uri.toStdString();
    EXPECT_FALSE(uri.contains(QChar(0xfffd)) || uri.contains("%EF%BF%BD")) << uri.toStdString();
    bus.unregisterService("org.freedesktop.FileManager1");
    QDBusConnection::disconnectFromBus("fake-file-manager");
}

// Convert Files… lists a file whose name is not UTF-8 in the desktop's own chooser, and the
// Portal opens for it: chosen with the keys in the home folder the chooser opens in, converted
// beside it under its own name.
TEST(TheTrayMenu, ConvertFilesListsANameThatIsNotUtf8) {
    TrayDesktop desktop;
    const auto odd = desktop.home.write(std::string(kOdd) + ".txt", "Hello\n");
    if (const auto whyNot = desktop.start(R"({"KolvexDidShowWelcome": {"type": "bool", "value": true}})"); !whyNot.empty())
        GTEST_SKIP() << whyNot;
    FakeInput input(desktop.xvfb->display());
    ASSERT_TRUE(input.ok());
    ASSERT_TRUE(desktop.openMenu(input)) << desktop.whyNot << "\n" << desktop.log;
    press(input, "Down");  // "Convert Files…"
    press(input, "Return");
    ASSERT_TRUE(testing::waitFor([&] { return desktop.hasFocus("Choose files to send through the Portal"); }, 10s))
        << "the chooser did not open with the keyboard\n" << desktop.log;

    // The rows go by name: the file ("caf…") comes before the folders "config" and "dconf".
    // The folder is listed on its own time, and Return on a list not yet filled chooses
    // nothing: the first row is taken again until the Portal opens.
    const QString chooser = "Choose files to send through the Portal";
    bool chosen = false;
    for (int attempt = 0; attempt < 10 && !chosen; ++attempt) {
        press(input, "Home");
        press(input, "Return");
        chosen = testing::waitFor([&] { return !desktop.hasFocus(chooser); }, 1s);
    }
    std::string listing;
    for (const auto& entry : fs::directory_iterator(desktop.home.path())) listing += entry.path().filename().string() + " ";
    ASSERT_TRUE(chosen && testing::waitForLog(desktop.kolvex, desktop.log, "RING n=", 10s))
        << "the Portal never opened; home holds " << listing << "\n" << desktop.log;
    ASSERT_TRUE(testing::waitFor([&] { return input.focusedWindowTitle() == "Kolvex Portal"; }, 10s))
        << "the Portal does not have the keyboard: \"" << input.focusedWindowTitle() << "\"\n" << desktop.log;
    press(input, "Left");  // the last chip of a text file's ring: Markdown
    press(input, "Return");
    ASSERT_TRUE(testing::waitForLog(desktop.kolvex, desktop.log, "Commit 1 file(s)", 10s)) << desktop.log;
    EXPECT_TRUE(testing::waitFor(
        [&] {
            for (const auto& entry : fs::directory_iterator(odd.parent_path()))
                if (entry.path() != odd && entry.path().filename().native().rfind(std::string(kOdd) + ".", 0) == 0) return true;
            return false;
        },
        10s))
        << desktop.log;
}

// The Keep Both / Skip question up (a drop on a name already taken, with "Ask what to do"), the
// tray menu still opens over it and takes its own keys: they choose Settings…, the question stays
// unanswered and nothing is written, until the user answers it in its own window. Also when the
// menu opens right after the keyboard left the program for another one's window: the keys go to
// the menu, not to that window.
TEST(TheTrayMenu, OpensAndTakesItsKeysWhileTheKeepBothQuestionIsUp) {
    for (const bool keyboardLeaves : {false, true}) {
        SCOPED_TRACE(keyboardLeaves ? "as the keyboard leaves for another program" : "over the question");
        TrayDesktop desktop;
        const auto source = desktop.home.write("a.txt", "Hello\n");
        desktop.home.write("a.md", "taken\n");
        const std::string defaults =
            R"({"KolvexDidShowWelcome": {"type": "bool", "value": true}, "KolvexPreferences": {"type": "data", "json":)"
            R"( {"outputLocation":"sameAsSource","conflictBehaviour":"ask","preserveMetadata":true,)"
            R"("showNotifications":false,"imageQuality":0.85,"videoQuality":0.7,"audioBitrate":192000,)"
            R"("parallelLimit":0,"appearance":"system","debugLogging":false,"triggerModifier":"shift"}}})";
        if (const auto whyNot = desktop.start(defaults); !whyNot.empty()) GTEST_SKIP() << whyNot;
        FakeInput input(desktop.xvfb->display());
        ASSERT_TRUE(input.ok());
        // Another program's window, clear of the question in the middle and of the tray.
        std::map<std::string, std::string> environment = testing::desktopEnvironment(desktop.xvfb->display(), desktop.home.path());
        testing::ChildProgram other(KOLVEX_KEY_WINDOW_GTK, {"40", "560", "200", "160"}, environment);
        ASSERT_TRUE(other.waitForLine("ready", 10s));

        // a.txt handed to the running copy opens the Portal with the keyboard; its last chip
        // (Markdown) taken with the keys asks about the name a.md.
        QProcess second;
        second.setProcessEnvironment(desktop.environment);
        second.start(KOLVEX_PROGRAM, {QString::fromStdString(source.string())});
        ASSERT_TRUE(second.waitForFinished(20000));
        ASSERT_TRUE(testing::waitForLog(desktop.kolvex, desktop.log, "RING n=", 20s)) << desktop.log;
        ASSERT_TRUE(testing::waitFor([&] { return input.focusedWindowTitle() == "Kolvex Portal"; }, 10s))
            << "the Portal does not have the keyboard: \"" << input.focusedWindowTitle() << "\"\n" << desktop.log;
        press(input, "Left");
        press(input, "Return");
        ASSERT_TRUE(testing::waitFor([&] { return desktop.windowTitled("Kolvex").has_value(); }, 15s))
            << "no question came up\n" << desktop.log;
        ASSERT_TRUE(testing::waitFor([&] { return input.focusedWindowTitle() == "Kolvex"; }, 10s))
            << "the question does not have the keyboard: \"" << input.focusedWindowTitle() << "\"\n" << desktop.log;

        // The tray menu (opened at once after a click that gives the other window the keyboard),
        // and in it Settings… with the keys.
        if (keyboardLeaves) {
            input.moveTo(140, 640);
            input.button(1, true);
            input.button(1, false);
            input.sync();
            ASSERT_TRUE(other.waitUntilPrinted("focus-in", 10s)) << "the other window did not take the keyboard";
        }
        ASSERT_TRUE(desktop.openMenu(input)) << "the tray menu did not open over the question: " << desktop.whyNot << "\n"
                                             << desktop.log;
        for (const char* key : {"Down", "Down", "Down", "Return"}) press(input, key);  // Convert Files…, Recent, Settings…
        EXPECT_TRUE(testing::waitFor([&] { return testing::windowIsViewable(desktop.environment, "Kolvex Settings"); }, 10s))
            << "the menu's keys did not reach it\n" << desktop.log;
        const fs::path made = desktop.home.path() / "a 2.md";
        EXPECT_FALSE(fs::exists(made)) << "the menu's keys answered the question";
        EXPECT_TRUE(desktop.windowTitled("Kolvex").has_value()) << "the question went without an answer\n" << desktop.log;
        for (const auto& line : other.lines())
            EXPECT_EQ(line.rfind("key ", 0), std::string::npos) << "the menu's keys went to the other window: " << line;

        // Answered in its own window: Keep Both, its default button.
        ASSERT_TRUE(testing::waitFor(
            [&] {
                if (input.focusedWindowTitle() == "Kolvex") return true;
                if (const auto frame = desktop.windowTitled("Kolvex")) {
                    input.moveTo(frame->x + frame->width / 2, frame->y + 12);
                    input.button(1, true);
                    input.button(1, false);
                    input.sync();
                }
                return false;
            },
            10s))
            << "the question could not be given the keyboard: \"" << input.focusedWindowTitle() << "\"\n" << desktop.log;
        press(input, "Return");
        EXPECT_TRUE(testing::waitFor([&] { return fs::exists(made); }, 30s)) << desktop.log;
    }
}

// Convert Files… opened while the question of an earlier choice is up (the "Ask each time"
// folder chooser): the file then chosen reaches a Portal that takes
// the keys, the earlier choice is told as not converted and its question goes, one question is
// on screen at a time, and the new choice converts once answered.
TEST(TheTrayMenu, ConvertFilesWhileAQuestionIsUpReachesAPortalThatTakesKeys) {
    struct Row {
        const char* name;
        const char* location;
        const char* conflict;
        QString question;  // the title of the question's window
        const char* made;  // the output, in "out" or beside the source
    };
    for (const Row& row : {Row{"the folder chooser", "ask", "rename", "Where should the converted files go?", "out/a.md"},
                           Row{"the Keep Both box", "sameAsSource", "ask", "Kolvex", "a 2.md"}}) {
        SCOPED_TRACE(row.name);
        TrayDesktop desktop;
        desktop.home.write("a.txt", "Hello\n");
        desktop.home.write("a.md", "taken\n");
        const fs::path out = desktop.home.path() / "out";
        fs::create_directories(out);
        const std::string defaults =
            R"({"KolvexDidShowWelcome": {"type": "bool", "value": true}, "KolvexLastOutputFolder": {"type": "string",)"
            R"( "value": ")" + out.string() + R"("}, "KolvexPreferences": {"type": "data", "json": {"outputLocation":")" +
            row.location + R"(","conflictBehaviour":")" + row.conflict +
            R"(","preserveMetadata":true,"showNotifications":false,"imageQuality":0.85,"videoQuality":0.7,)"
            R"("audioBitrate":192000,"parallelLimit":0,"appearance":"system","debugLogging":false,)"
            R"("triggerModifier":"shift"}}})";
        if (const auto whyNot = desktop.start(defaults); !whyNot.empty()) GTEST_SKIP() << whyNot;
        FakeInput input(desktop.xvfb->display());
        ASSERT_TRUE(input.ok());
        const QString files = "Choose files to send through the Portal";
        const auto count = [&](const std::string& text) {
            desktop.kolvex.waitForReadyRead(20);
            desktop.log += desktop.kolvex.readAllStandardError().toStdString();
            size_t n = 0;
            for (auto at = desktop.log.find(text); at != std::string::npos; at = desktop.log.find(text, at + 1)) ++n;
            return n;
        };
        // Convert Files… from the tray, a.txt typed into the chooser's location field, and the
        // Portal's last chip (Markdown for a text) taken with the keys.
        const auto convertWithTheKeys = [&](size_t round) {
            ASSERT_TRUE(desktop.openMenu(input)) << desktop.whyNot << "\n" << desktop.log;
            press(input, "Down");  // "Convert Files…"
            press(input, "Return");
            ASSERT_TRUE(testing::waitFor([&] { return desktop.hasFocus(files); }, 10s))
                << "the chooser did not open with the keyboard\n" << desktop.log;
            const auto typeTheName = [&] {
                input.key("Control_L", true);
                press(input, "l");  // the location field, its text selected
                input.key("Control_L", false);
                // The whole path: a "/" opens the location field even where Control+L was lost,
                // and the field finds a bare name only in the folder it lists, which GTK leaves
                // when lost keys started a search instead.
                type(input, (desktop.home.path() / "a.txt").string());
                press(input, "Return");
            };
            typeTheName();
            // Keys typed the moment the chooser comes up can be lost while the window manager
            // settles the keyboard: typed again while the chooser, still up, has it back.
            for (int attempt = 0; attempt < 5 && !testing::waitFor([&] { return count("RING n=") >= round; }, 3s);
                 ++attempt)
                if (input.focusedWindowTitle() == files.toStdString()) typeTheName();
            ASSERT_TRUE(testing::waitFor([&] { return count("RING n=") >= round; }, 15s))
                << "the Portal never opened\n" << desktop.log;
            ASSERT_TRUE(testing::waitFor([&] { return input.focusedWindowTitle() == "Kolvex Portal"; }, 10s))
                << "the Portal does not have the keyboard: \"" << input.focusedWindowTitle() << "\"\n" << desktop.log;
            press(input, "Left");
            press(input, "Return");
            // The commit asks before anything runs.
            ASSERT_TRUE(testing::waitFor([&] { return input.focusedWindowTitle() == row.question.toStdString(); }, 15s))
                << "the Portal took no key; the keyboard is with \"" << input.focusedWindowTitle() << "\"\n"
                << desktop.log;
        };

        // Windows of the question's title (the tray icon's window may share it).
        const auto titled = [&] {
            const std::string tree = testing::outputOf("xwininfo", {"-root", "-tree"}, desktop.environment);
            const std::string title = "\"" + row.question.toStdString() + "\"";
            size_t n = 0;
            for (auto at = tree.find(title); at != std::string::npos; at = tree.find(title, at + 1)) ++n;
            return n;
        };
        convertWithTheKeys(1);
        if (HasFatalFailure()) return;
        const size_t withOneQuestion = titled();
        convertWithTheKeys(2);
        if (HasFatalFailure()) return;
        EXPECT_EQ(count("Not converted, 1 file(s) for Markdown: Other files were opened in Kolvex before its question "
                        "was answered"),
                  1u)
            << "the first choice is told as not converted, for what replaced it\n" << desktop.log;
        EXPECT_EQ(titled(), withOneQuestion) << "a second question stacked on the first";

        // "Convert Here" in the last folder chosen; "Keep Both".
        const fs::path made = desktop.home.path() / row.made;
        EXPECT_TRUE(testing::answerWithKey(input, "Return", row.question.toStdString(), [&] { return fs::exists(made); },
                                           30s))
            << desktop.log;
        size_t written = 0;
        for (const auto& folder : {desktop.home.path(), out})
            for (const auto& entry : fs::directory_iterator(folder))
                written += entry.is_regular_file() && entry.path().extension() == ".md" ? 1 : 0;
        EXPECT_EQ(written, 2u) << "one choice answered, one file written beside the one that was there";
    }
}

}  // namespace
}  // namespace kolvex
