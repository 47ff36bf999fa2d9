// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's own file chooser (GTK's), shown from a Qt program under a window manager:
// names that are not UTF-8 are listed and handed back byte for byte, in either mode, and the
// program's event loop turns while the chooser is up.
#include <chrono>
#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include <QProcess>

#include "KolvexOnDesktop.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string hex(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", c);
        out += two;
    }
    return out;
}

struct ChooserOnADesktop {
    std::unique_ptr<testing::Xvfb> xvfb;
    std::unique_ptr<testing::WindowManager> manager;
    testing::TempDir home;
    QProcess host;
    std::string out;

    // Starts the host on `folder`, which lists `entries` entries.
    std::string start(const std::string& mode, const fs::path& folder, int entries) {
        std::string whyNot;
        xvfb = testing::Xvfb::start(whyNot);
        if (!xvfb) return whyNot;
        manager = testing::WindowManager::start(xvfb->display(), home.path(), whyNot);
        if (!manager) return whyNot;
        host.setProcessEnvironment(testing::kolvexEnvironment(*xvfb, home));
        host.setProcessChannelMode(QProcess::MergedChannels);  // the chooser reports what it lists there
        host.start(KOLVEX_FILE_CHOOSER_HOST, {QString::fromStdString(mode), QString::fromStdString("hex:" + hex(folder.native())),
                                              "--report-listed", QString::number(entries)});
        if (!host.waitForStarted(10000)) return "the host did not start";
        if (!await("shown", 20s)) return "no chooser: " + out;
        if (!await("listed", 20s)) return "the chooser did not list its folder: " + out;
        return {};
    }
    ~ChooserOnADesktop() {
        host.kill();
        host.waitForFinished(5000);
    }
    bool await(const std::string& text, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (out.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline || host.state() == QProcess::NotRunning) {
                out += host.readAllStandardOutput().toStdString();
                return out.find(text) != std::string::npos;
            }
            host.waitForReadyRead(100);
            out += host.readAllStandardOutput().toStdString();
        }
        return true;
    }
    // True once the window titled `title` has the keyboard (the window manager's active window).
    bool isActive(const QString& title) {
        static const std::regex id(R"(0x[0-9a-f]+)");
        std::smatch window, active;
        const auto environment = host.processEnvironment();
        const std::string info = testing::outputOf("xwininfo", {"-name", title}, environment);
        const std::string root = testing::outputOf("xprop", {"-root", "_NET_ACTIVE_WINDOW"}, environment);
        return std::regex_search(info, window, id) && std::regex_search(root, active, id) &&
               std::stoul(window.str(), nullptr, 16) == std::stoul(active.str(), nullptr, 16);
    }
    void press(testing::FakeInput& input, const std::string& key, const std::string& with = {}) {
        if (!with.empty()) input.key(with, true);
        input.key(key, true);
        input.key(key, false);
        if (!with.empty()) input.key(with, false);
        input.sync();
    }
    std::set<std::string> chosen() const {
        std::set<std::string> names;
        for (size_t at = out.find("chosen "); at != std::string::npos; at = out.find("chosen ", at + 7))
            names.insert(out.substr(at + 7, out.find('\n', at) - at - 7));
        return names;
    }
};

// Every file of a folder, chosen together with the keys: the names come back as the bytes the
// folder holds, Latin-1 and a byte no UTF-8 has included.
TEST(TheDesktopFileChooser, HandsBackNamesThatAreNotUtf8ByteForByte) {
    testing::coreApplication("test-app-desktop");
    ChooserOnADesktop desktop;
    const fs::path folder = desktop.home / "old camera";
    const auto odd = desktop.home.write("old camera/caf\xe9 \xff.txt", "Hello\n");
    const auto plain = desktop.home.write("old camera/b\xc3\xa9.png", "x");
    const std::string whyNot = desktop.start("files", folder, 2);
    if (!desktop.xvfb || !desktop.manager) GTEST_SKIP() << whyNot;
    ASSERT_TRUE(whyNot.empty()) << whyNot;
    testing::FakeInput input(desktop.xvfb->display());
    ASSERT_TRUE(input.ok());
    // The keys go to the chooser once the window manager has given it the keyboard.
    ASSERT_TRUE(testing::waitFor([&] { return desktop.isActive("Choose files"); }, 10s));
    desktop.press(input, "a", "Control_L");
    desktop.press(input, "Return");
    ASSERT_TRUE(desktop.await("answered", 15s)) << desktop.out;
    EXPECT_EQ(desktop.chosen(), (std::set<std::string>{hex(odd.native()), hex(plain.native())})) << desktop.out;
}

// The folder chooser lists and hands back a folder whose own name is not UTF-8.
TEST(TheDesktopFileChooser, ChoosesAFolderNamedWithInvalidUtf8) {
    testing::coreApplication("test-app-desktop");
    ChooserOnADesktop desktop;
    const fs::path folder = desktop.home / "out \xff\xfe";
    fs::create_directories(folder);
    const std::string whyNot = desktop.start("folder", folder, 0);
    if (!desktop.xvfb || !desktop.manager) GTEST_SKIP() << whyNot;
    ASSERT_TRUE(whyNot.empty()) << whyNot;
    testing::FakeInput input(desktop.xvfb->display());
    ASSERT_TRUE(input.ok());
    ASSERT_TRUE(testing::waitFor([&] { return desktop.isActive("Choose a folder"); }, 10s));
    desktop.press(input, "Return");  // the folder it opened in
    ASSERT_TRUE(desktop.await("answered", 15s)) << desktop.out;
    EXPECT_EQ(desktop.chosen(), (std::set<std::string>{hex(folder.native())})) << desktop.out;
}

}  // namespace
}  // namespace kolvex
