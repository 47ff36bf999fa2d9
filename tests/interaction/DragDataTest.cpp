// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "interaction/DragData.h"
#include "interaction/DragSessionTracker.h"

namespace kolvex {
namespace {

using Paths = std::vector<std::filesystem::path>;

TEST(DragData, FileUris) {
    struct Row {
        const char* uri;
        std::optional<std::filesystem::path> path;
    };
    const Row rows[] = {
        {"file:///home/a/b%20c.png", "/home/a/b c.png"},
        {"file:///home/a/%C3%A4rger.txt", "/home/a/ärger.txt"},
        {"file:///home/a/ärger und mehr.txt", "/home/a/ärger und mehr.txt"},  // raw UTF-8, literal blanks
        {"FILE:///x", "/x"},
        {"file://localhost/x/y", "/x/y"},
        {"file:/x", "/x"},
        {"file:///-rf", "/-rf"},
        {"file:///100%", "/100%"},          // a lone % stays
        {"file:///50%zz", "/50%zz"},        // no valid escape
        {"file:///a%2Fb", "/a/b"},
        {"file://otherhost/x", std::nullopt},
        {"file://localhostx/x", std::nullopt},
        {"file://", std::nullopt},
        {"file:relative/x", std::nullopt},
        {"https://example.com/a.png", std::nullopt},
        {"/home/a/plain path", std::nullopt},
        {"file:///a%00b", std::nullopt},    // a NUL would cut the name short
        {"", std::nullopt},
    };
    for (const Row& row : rows) EXPECT_EQ(drag_data::pathFromFileUri(row.uri), row.path) << row.uri;
}

TEST(DragData, ListsOfEveryKind) {
    using namespace drag_data;
    EXPECT_EQ(filesFromUriList("file:///a/x.png\r\nfile:///a/b%20c.jpg\r\n"), (Paths{"/a/x.png", "/a/b c.jpg"}));
    EXPECT_EQ(filesFromUriList("# comment\nfile:///a\nhttp://x/y\n\nfile:///b"), (Paths{"/a", "/b"}));
    EXPECT_EQ(filesFromUriList(std::string_view("file:///a\r\n\0", 12)), (Paths{"/a"}));
    EXPECT_EQ(filesFromUriList(""), Paths{});

    // Firefox: UTF-16LE "URL\nTitle" pairs.
    const std::u16string moz = u"file:///home/a/%C3%A9t%C3%A9.pdf\nété.pdf\nfile:///b\nb";
    const std::string mozBytes(reinterpret_cast<const char*>(moz.data()), moz.size() * 2);
    EXPECT_EQ(filesFromMozUrl(mozBytes), (Paths{"/home/a/été.pdf", "/b"}));
    EXPECT_EQ(filesFromMozUrl("\xFF\xFE" + mozBytes), (Paths{"/home/a/été.pdf", "/b"}));
    // A title that looks like a file URL is still a title.
    const std::u16string tricky = u"https://x/\nfile:///etc/passwd";
    EXPECT_EQ(filesFromMozUrl(std::string(reinterpret_cast<const char*>(tricky.data()), tricky.size() * 2)), Paths{});
    EXPECT_EQ(filesFromMozUrl("\x41"), Paths{}) << "an odd byte is dropped";

    EXPECT_EQ(filesFromNetscapeUrl("file:///a%20b\na b"), (Paths{"/a b"}));
    EXPECT_EQ(filesFromPlainText("  file:///a \nhello\nfile:///b\n"), (Paths{"/a", "/b"}));
    EXPECT_EQ(filesFrom("text/uri-list", "file:///a"), (Paths{"/a"}));
    EXPECT_EQ(filesFrom("image/png", "file:///a"), Paths{});
}

TEST(DragData, Utf16Decoding) {
    using drag_data::utf8FromUtf16;
    const std::u16string text = u"a€😀";
    EXPECT_EQ(utf8FromUtf16(std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2)), "a€😀");
    EXPECT_EQ(utf8FromUtf16(std::string("\x00\x41", 2), true), "A");
    EXPECT_EQ(utf8FromUtf16(std::string("\x00\xD8\x41\x00", 4)), "\xEF\xBF\xBD" "A") << "lone high surrogate";
    EXPECT_EQ(utf8FromUtf16(std::string("\x00\xDC", 2)), "\xEF\xBF\xBD") << "lone low surrogate";
}

TEST(DragSessionTracker, WhenADragIsUnderWay) {
    struct Step {
        char what;  // p press, o owner set, n owner gone, e Escape
        std::uint32_t time;
    };
    struct Row {
        const char* name;
        std::vector<Step> steps;
        bool buttonDown;
        std::optional<std::uint32_t> drag;
        bool cancelled;
    };
    const Row rows[] = {
        {"nothing yet", {}, true, std::nullopt, false},
        {"press then owner", {{'p', 100}, {'o', 120}}, true, 120, false},
        {"owner at the press time", {{'p', 100}, {'o', 100}}, true, 100, false},
        {"button released", {{'p', 100}, {'o', 120}}, false, std::nullopt, false},
        {"stale owner, new press", {{'p', 100}, {'o', 120}, {'p', 500}}, true, std::nullopt, false},
        {"owner released", {{'p', 100}, {'o', 120}, {'n', 130}}, true, std::nullopt, false},
        {"Escape cancels", {{'p', 100}, {'o', 120}, {'e', 150}}, true, std::nullopt, true},
        {"Escape then release", {{'p', 100}, {'o', 120}, {'e', 150}, {'n', 151}}, false, std::nullopt, true},
        {"old Escape", {{'e', 50}, {'p', 100}, {'o', 120}}, true, 120, false},
        {"next drag after Escape", {{'p', 100}, {'o', 120}, {'e', 150}, {'p', 200}, {'o', 210}}, true, 210, false},
        {"clock wrap", {{'p', 0xFFFFFFF0u}, {'o', 5}}, true, 5, false},
        {"no press seen", {{'o', 120}}, true, std::nullopt, false},
    };
    for (const Row& row : rows) {
        DragSessionTracker tracker;
        for (const Step& step : row.steps) {
            switch (step.what) {
            case 'p': tracker.buttonPressed(step.time); break;
            case 'o': tracker.ownerChanged(true, step.time, step.time); break;
            case 'n': tracker.ownerChanged(false, step.time, step.time); break;
            case 'e': tracker.escapePressed(step.time); break;
            }
        }
        const auto drag = tracker.currentDrag(row.buttonDown);
        EXPECT_EQ(drag.has_value(), row.drag.has_value()) << row.name;
        if (drag && row.drag) {
            EXPECT_EQ(drag->selectionTime, *row.drag) << row.name;
        }
        EXPECT_EQ(tracker.cancelled(), row.cancelled) << row.name;
    }
}

TEST(DragSessionTracker, IdentityIsTheSelectionTimestampNotTheEventTime) {
    DragSessionTracker tracker;
    tracker.buttonPressed(1000);
    tracker.ownerChanged(true, 1010, 990);  // stamped a little before it took effect
    ASSERT_TRUE(tracker.currentDrag(true));
    EXPECT_EQ(tracker.currentDrag(true)->selectionTime, 990u);
}

}  // namespace
}  // namespace kolvex
