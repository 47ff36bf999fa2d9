// SPDX-License-Identifier: GPL-3.0-or-later
// The Portal of the real program, driven from the keyboard and the mouse on a desktop of its own:
// a failure the user can read, and a tool sheet that shows a PDF's page.
#include <algorithm>
#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QStandardPaths>

#include "KolvexOnDesktop.h"
#include "support/BinaryFixtures.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using namespace std::chrono_literals;
using testing::FakeInput;

// A PNG whose header chunk fails its checksum, as after a flipped bit on a disc.
std::string damagedPng() {
    const auto chunk = [](const std::string& type, const std::string& data, uint32_t damage) {
        return testing::bigEndian32(static_cast<uint32_t>(data.size())) + type + data +
               testing::bigEndian32(testing::crc32(type + data) ^ damage);
    };
    const std::string header = testing::bigEndian32(64) + testing::bigEndian32(64) + std::string("\x08\x02\x00\x00\x00", 5);
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header, 0x5a) + chunk("IDAT", std::string(200, '\x5a'), 0) +
           chunk("IEND", "", 0);
}

// The first launch's guide was seen long ago: no welcome window in the way.
void skipWelcome(const testing::TempDir& home) {
    home.write("config/kolvex/defaults.json", R"({"KolvexDidShowWelcome": {"type": "bool", "value": true}})");
}

// The Portal window's middle, once it is on screen.
std::optional<std::pair<int, int>> portalCentre(const QProcessEnvironment& environment) {
    std::optional<testing::WindowFrame> frame;
    testing::waitFor([&] { return (frame = testing::viewableWindow(environment, "Kolvex Portal")).has_value(); }, 10s);
    if (!frame) return std::nullopt;
    return std::make_pair(frame->x + frame->width / 2, frame->y + frame->height / 2);
}

// The middle of the accent-coloured text ("Show details") inside the Portal's centre disc around
// (cx, cy), whose rim is drawn in the accent colour too; none when there is none.
std::optional<std::pair<int, int>> accentText(FakeInput& input, int cx, int cy) {
    constexpr int kRadius = 56;  // inside the rim
    const auto pixels = input.pixels(cx - kRadius, cy - kRadius, 2 * kRadius, 2 * kRadius);
    int left = kRadius, right = -kRadius, top = kRadius, bottom = -kRadius;
    for (int y = -kRadius; y < kRadius; ++y)
        for (int x = -kRadius; x < kRadius; ++x) {
            if (x * x + y * y >= kRadius * kRadius) continue;
            const unsigned p = pixels[static_cast<std::size_t>((y + kRadius) * 2 * kRadius + x + kRadius)];
            const int r = static_cast<int>(p >> 16 & 0xff), g = static_cast<int>(p >> 8 & 0xff), b = static_cast<int>(p & 0xff);
            if (b > 140 && b > r + 70 && g > r + 20) {
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
        }
    if (right - left < 20 || right - left > 120 || bottom - top > 20) return std::nullopt;  // a line of text
    return std::make_pair(cx + (left + right) / 2, cy + (top + bottom) / 2);
}

void press(FakeInput& input, const std::string& key) {
    input.key(key, true);
    input.key(key, false);
}

void click(FakeInput& input, int x, int y) {
    input.moveTo(x, y);
    input.button(1, true);
    input.button(1, false);
}

// How a user is done reading a failure's details.
enum class Away { escape, leaving };

class AFailureOnTheDesktop : public ::testing::TestWithParam<Away> {};

TEST_P(AFailureOnTheDesktop, ShowsItsReasonAndStaysWhileTheDetailsAreOpen) {
    std::string whyNot;
    auto xvfb = testing::Xvfb::start(whyNot);
    if (!xvfb) GTEST_SKIP() << whyNot;
    if (QStandardPaths::findExecutable("xwininfo").isEmpty()) GTEST_SKIP() << "xwininfo is not installed";
    testing::TempDir home;
    skipWelcome(home);
    // A name too long for the centre: the reason shows first, and the details hold the whole
    // sentence. (A short name says all there is in the centre and offers no details.)
    const std::string name = "scanned-letters-from-the-tax-office-about-the-year-two-thousand-and-nineteen.png";
    const auto damaged = home.write(name, damagedPng());
    const auto environment = testing::kolvexEnvironment(*xvfb, home);

    QProcess kolvex;
    testing::startKolvex(kolvex, *xvfb, home, {QString::fromStdString(damaged.string())});
    ASSERT_TRUE(kolvex.waitForStarted(10000));
    std::string log;
    ASSERT_TRUE(testing::waitForLog(kolvex, log, "RING n=", 20s)) << log;
    const auto centre = portalCentre(environment);
    ASSERT_TRUE(centre) << "the Portal never showed\n" << log;
    const auto [cx, cy] = *centre;
    FakeInput input(xvfb->display());
    ASSERT_TRUE(input.ok());
    ASSERT_TRUE(testing::waitFor([&] { return input.focusedWindowTitle() == "Kolvex Portal"; }, 10s))
        << "the Portal never took the keyboard\n" << log;
    press(input, "Return");
    ASSERT_TRUE(testing::waitForLog(kolvex, log, "All 1 job(s) failed", 10s)) << log;

    // The failure shows, with "Show details" under its message; a click on it opens them.
    std::optional<std::pair<int, int>> link;
    ASSERT_TRUE(testing::pumpUntil([&] { return (link = accentText(input, cx, cy)).has_value(); }, testing::patience(10s)))
        << "no \"Show details\" under the failure\n" << log;
    click(input, link->first, link->second);
    ASSERT_TRUE(testing::pumpUntil([&] { return !accentText(input, cx, cy); }, testing::patience(1s))) << "the click did not open the details";
    // The details' text appears below the message, lighter than anything else there.
    const auto textShown = [&] {
        int light = 0;
        for (unsigned p : input.pixels(cx - 100, cy - 5, 200, 60))
            if ((p >> 16 & 0xff) > 140 && (p >> 8 & 0xff) > 140 && (p & 0xff) > 140) ++light;
        return light > 30;
    };
    ASSERT_TRUE(testing::pumpUntil(textShown, testing::patience(2s))) << "no details under the message";

    // The details read as text: the reason, with the file named once at most. (Their box starts
    // below the message, which takes three lines with this name.)
    input.moveTo(cx - 105, cy + 25);
    input.button(1, true);
    for (int step = 0; step < 12; ++step) input.moveBy(18, 8);
    input.button(1, false);
    std::string details;
    testing::pumpUntil([&] { return !(details = input.selectionText("PRIMARY")).empty(); }, testing::patience(2s));
    EXPECT_NE(details.find("damaged"), std::string::npos) << "[" << details << "]";
    EXPECT_EQ(details.find(name + ": " + name), std::string::npos) << details;
    EXPECT_NE(details, damaged.string()) << "a bare path is no reason";

    // Past the failure's linger the Portal is still up, the pointer still on it.
    ASSERT_TRUE(testing::waitForLog(kolvex, log, "The failure stays up while its details are read", 10s))
        << "the linger never ended with the details open\n" << log;
    EXPECT_TRUE(testing::windowIsViewable(environment, "Kolvex Portal")) << "the open details did not keep the Portal\n" << log;

    if (GetParam() == Away::escape) {
        press(input, "Escape");
    } else {
        for (int step = 0; step < 20; ++step) input.moveBy(-30, -20);  // off the Portal, as a hand goes
    }
    EXPECT_TRUE(testing::waitFor([&] { return !testing::windowIsViewable(environment, "Kolvex Portal"); }, 5s))
        << "the Portal stayed after the user was done with it\n" << log;
    kolvex.terminate();
    EXPECT_TRUE(kolvex.waitForFinished(15000));
}

INSTANTIATE_TEST_SUITE_P(Away, AFailureOnTheDesktop, ::testing::Values(Away::escape, Away::leaving),
                         [](const auto& info) { return info.param == Away::escape ? "Escape" : "Leaving"; });

// The pixel size of a PNG file, from its header.
std::pair<int, int> pngSize(const std::filesystem::path& png) {
    std::ifstream in(png, std::ios::binary);
    std::string header(24, '\0');
    in.read(header.data(), 24);
    const auto word = [&header](int at) {
        int value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(header[static_cast<std::size_t>(at + i)]);
        return value;
    };
    return {word(16), word(20)};
}

// Rotate on a PDF: the sheet shows the page and offers quarter turns only, and applying it writes
// a PDF whose page is a quarter turn round, as a reader shows it.
TEST(KolvexOnADesktop, RotatingAPdfShowsItsPageAndWritesItTurned) {
    for (const char* program : {"xwininfo", "pdfinfo", "pdftoppm"})
        if (QStandardPaths::findExecutable(program).isEmpty()) GTEST_SKIP() << program << " is not installed";
    std::string whyNot;
    auto xvfb = testing::Xvfb::start(whyNot);
    if (!xvfb) GTEST_SKIP() << whyNot;
    testing::TempDir home;
    skipWelcome(home);
    const auto folder = home / "papers";
    std::filesystem::create_directories(folder);
    // One portrait page, 200 × 300 points, all green.
    const std::string content = "0 1 0 rg 0 0 200 300 re f";
    const auto pdf = home.write("papers/page.pdf",
                                testing::pdfFromObjects({"<< /Type /Catalog /Pages 2 0 R >>",
                                                         "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                                         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 300] /Contents 4 0 R >>",
                                                         "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" +
                                                             content + "\nendstream"}));
    const auto environment = testing::kolvexEnvironment(*xvfb, home);

    QProcess kolvex;
    testing::startKolvex(kolvex, *xvfb, home, {QString::fromStdString(pdf.string())});
    ASSERT_TRUE(kolvex.waitForStarted(10000));
    std::string log;
    ASSERT_TRUE(testing::waitForLog(kolvex, log, "RING n=", 20s)) << log;
    ASSERT_TRUE(portalCentre(environment)) << log;
    FakeInput input(xvfb->display());
    ASSERT_TRUE(input.ok());
    ASSERT_TRUE(testing::waitFor([&] { return input.focusedWindowTitle() == "Kolvex Portal"; }, 10s))
        << "the Portal never took the keyboard\n" << log;

    // Tab to the tools, then along the ring to Rotate.
    press(input, "Tab");
    ASSERT_TRUE(testing::waitForLog(kolvex, log, " Rotate@", 5s)) << log;
    const auto steps = testing::chipSteps(log, "Rotate");
    ASSERT_TRUE(steps) << log;
    // The keys reach the Portal in the order they are pressed: no wait between them.
    for (int i = 0; i < *steps; ++i) press(input, "Right");
    press(input, "Return");

    // The sheet opens, showing the green page.
    ASSERT_TRUE(testing::waitForLog(kolvex, log, "Sheet ready: Rotate page.pdf", 10s)) << "the Rotate sheet never opened\n" << log;
    std::optional<testing::WindowFrame> sheet;
    ASSERT_TRUE(testing::waitFor([&] { return (sheet = testing::viewableWindow(environment, "Rotate page.pdf")).has_value(); }, 10s))
        << "the Rotate sheet never opened\n" << log;
    int green = 0;
    testing::pumpUntil(
        [&] {
            green = 0;
            for (unsigned p : input.pixels(sheet->x, sheet->y, sheet->width, sheet->height))
                if ((p >> 8 & 0xff) > 200 && (p >> 16 & 0xff) < 80 && (p & 0xff) < 80) ++green;
            return green > 5000;
        },
        testing::patience(5s));
    EXPECT_GT(green, 5000) << "the sheet does not show the page";
    EXPECT_EQ(log.find("appears to be damaged"), std::string::npos) << log;

    // Quarter turns only: from the first field, seven Tabs pass ↺, ↻, 0°, 90°, 180°, 270° and
    // Cancel and reach Apply (an any-angle row or flip boxes would come before Cancel). Space there
    // applies the opening choice, a quarter turn to the right.
    for (int i = 0; i < 7; ++i) press(input, "Tab");
    press(input, "space");
    std::filesystem::path output;
    testing::waitFor(
        [&] {
            for (const auto& entry : std::filesystem::directory_iterator(folder))
                if (entry.path() != pdf && entry.path().extension() == ".pdf" && !entry.path().filename().string().starts_with("."))
                    output = entry.path();
            return !output.empty();
        },
        10s);
    ASSERT_FALSE(output.empty()) << log;
    int code = -1;
    const std::string info = testing::outputOf("pdfinfo", {QString::fromStdString(output.string())}, environment, &code);
    EXPECT_EQ(code, 0) << info;
    EXPECT_NE(info.find("Page rot:        90"), std::string::npos) << info;
    testing::outputOf("pdftoppm", {"-r", "36", "-png", "-singlefile", QString::fromStdString(output.string()),
                                   QString::fromStdString((home / "shown").string())},
                      environment, &code);
    ASSERT_EQ(code, 0);
    EXPECT_EQ(pngSize(home / "shown.png"), std::make_pair(150, 100)) << "the page reads landscape";
    kolvex.terminate();
    EXPECT_TRUE(kolvex.waitForFinished(15000));
}

}  // namespace
}  // namespace kolvex
