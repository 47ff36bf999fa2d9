// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "app/ConversionNotifier.h"
#include "core/services/Log.h"
#include "core/services/Preferences.h"
#include "core/services/UserDefaults.h"

namespace kolvex {
namespace {

// Answers authorisation requests from a script and records what would have been shown.
class FakeSender final : public NotificationSender {
public:
    struct State {
        std::vector<std::optional<bool>> answers;  // consumed one per request; last one repeats
        int requests = 0;
        std::vector<Notification> posted;
    };
    explicit FakeSender(std::shared_ptr<State> state) : m_state(std::move(state)) {}
    void requestAuthorisation(std::function<void(std::optional<bool>)> done) override {
        const auto index = std::min<std::size_t>(static_cast<std::size_t>(m_state->requests), m_state->answers.size() - 1);
        ++m_state->requests;
        done(m_state->answers[index]);
    }
    void post(const Notification& notification) override { m_state->posted.push_back(notification); }

private:
    std::shared_ptr<State> m_state;
};

struct Fixture {
    std::shared_ptr<FakeSender::State> state = std::make_shared<FakeSender::State>();
    InMemoryUserDefaults defaults;
    ConversionNotifier notifier{std::make_unique<FakeSender>(state), defaults};
};

RunReport made(std::vector<std::filesystem::path> outputs, std::vector<std::filesystem::path> sources,
              std::vector<RunReport::Failure> failures = {}, bool wentToTray = false) {
    return RunReport{std::move(outputs), std::move(sources), std::move(failures), wentToTray};
}

RunReport skipping(RunReport report, std::vector<RunReport::Failure> skipped) {
    report.skipped = std::move(skipped);
    return report;
}

RunReport leaving(RunReport report, std::vector<std::filesystem::path> sources, std::string because) {
    for (auto& source : sources) report.leftAsTheyWere.push_back({std::move(source), {"resize", because}});
    return report;
}

TEST(ConversionNotifier, ContentNamesTheFilesOrCountsThemAndEveryFailureWithItsReason) {
    struct Case {
        RunReport report;
        std::string title, body, trayLine;
    };
    const std::vector<Case> cases{
        {made({"/v/clip.webm"}, {"/v/clip.mov"}), "clip.webm", "Saved next to clip.mov", ""},
        {made({"/v/clip.webm"}, {}), "clip.webm", "Saved next to the original", ""},
        {made({"/p/a.png", "/p/b.png"}, {"/p/a.heic", "/p/b.heic"}), "2 files converted", "a.png, b.png", ""},
        {made({"/1", "/2", "/3", "/4", "/5"}, {"/s"}), "5 files converted", "1, 2, 3", ""},
        {made({}, {}, {{"/v/clip.mov", "Conversion failed"}}), "Couldn't convert clip.mov", "Conversion failed",
         "Couldn't convert clip.mov: Conversion failed"},
        {made({"/p/a.jpg"}, {"/p/a.png"}, {{"/p/b.png", "b.png appears to be damaged"}, {"/p/c.png", "Cancelled"}}),
         "1 of 3 converted", "b.png: b.png appears to be damaged\nc.png: Cancelled", "1 of 3 converted"},
        {made({}, {}, {{"/a", "x"}, {"/b", "y"}, {"/c", "z"}, {"/d", "w"}}), "Couldn't convert 4 files",
         "a: x\nb: y\nc: z", "Couldn't convert 4 files"},
        // A folder chosen for the outputs is where the file was saved, not beside its source.
        {made({"/out/a.png"}, {"/p/a.jpg"}), "a.png", "Saved in out", ""},
        // Files left out by design are said, apart from what converted and what failed.
        {skipping(made({"/p/big 2.jpg"}, {"/p/big.jpg"}), {{"/p/small.png", "Left as it is: 400 × 200"}}),
         "big 2.jpg", "Saved next to big.jpg\nSkipped small.png: Left as it is: 400 × 200", ""},
        // Files the resize had no need to change are counted beside those it changed, with why.
        {leaving(made({"/p/big 2.jpg", "/p/mid 2.jpg"}, {"/p/big.jpg", "/p/mid.jpg"}), {"/p/small.png", "/p/square.png"},
                 "already no larger than 640 px"),
         "2 resized, 2 left as they were (already no larger than 640 px)", "big 2.jpg, mid 2.jpg", ""},
        {leaving(made({}, {}), {"/p/tiny.png"}, "already no larger than 250 px"),
         "tiny.png left as it was (already no larger than 250 px)", "", ""},
        {leaving(made({"/p/a 2.png"}, {"/p/a.png"}, {{"/p/b.png", "b.png appears to be damaged"}}), {"/p/c.png"},
                 "already no larger than 640 px"),
         "1 of 2 converted", "b.png: b.png appears to be damaged\nc.png left as it was (already no larger than 640 px)",
         "1 of 2 converted"},
        {skipping(made({}, {}), {{"/p/a.png", "a.jpg already exists"}}), "Nothing converted",
         "Skipped a.png: a.jpg already exists", ""},
        {skipping(made({"/p/a.jpg"}, {"/p/a.png"}, {{"/p/b.png", "Cancelled"}}), {{"/p/c.png", "c.jpg already exists"}}),
         "1 of 2 converted", "b.png: Cancelled\nSkipped c.png: c.jpg already exists", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        const Notification n = ConversionNotifier::content(c.report);
        EXPECT_EQ(n.title, c.title);
        EXPECT_EQ(n.body, c.body);
        EXPECT_EQ(n.identifier.size(), 36u);
        if (!c.trayLine.empty()) {
            EXPECT_EQ(ConversionNotifier::failureLine(c.report), c.trayLine);
        }
    }
    EXPECT_NE(ConversionNotifier::content(made({"/a"}, {})).identifier,
              ConversionNotifier::content(made({"/a"}, {})).identifier);
}

TEST(ConversionNotifier, SoundOnlyForWorkThatWentToTheTray) {
    Fixture f;
    f.state->answers = {true};
    f.notifier.announce(made({"/a.png"}, {"/a.heic"}));
    f.notifier.announce(made({"/b.png"}, {"/b.heic"}, {}, true));
    f.notifier.announce(made({}, {}, {{"/c.mov", "Conversion failed"}}, true));
    f.notifier.announce(made({}, {}));  // nothing to tell
    ASSERT_EQ(f.state->posted.size(), 3u);
    EXPECT_FALSE(f.state->posted[0].playsSound);
    EXPECT_TRUE(f.state->posted[1].playsSound);
    EXPECT_TRUE(f.state->posted[2].playsSound);
    EXPECT_EQ(f.state->posted[2].title, "Couldn't convert c.mov");
    EXPECT_EQ(f.state->requests, 1) << "a granted permission is not asked for again";
}

TEST(ConversionNotifier, SwitchedOffAsksNothingAndPostsNothing) {
    Fixture f;
    f.state->answers = {true};
    Preferences off;
    off.showNotifications = false;
    PreferencesStore::save(off, f.defaults);
    f.notifier.announce(made({"/a.png"}, {"/a.heic"}, {}, true));
    EXPECT_EQ(f.state->requests, 0);
    EXPECT_TRUE(f.state->posted.empty());
}

TEST(ConversionNotifier, RefusalAndFailureAskAgainNextTime) {
    Fixture f;
    LogCapture log;
    f.state->answers = {false, std::nullopt, true};
    f.notifier.announce(made({"/a.png"}, {}));
    EXPECT_TRUE(f.state->posted.empty());
    f.notifier.announce(made({"/a.png"}, {}));
    EXPECT_TRUE(f.state->posted.empty());
    EXPECT_TRUE(log.contains("app", "Notification authorisation unavailable"));
    EXPECT_FALSE(f.notifier.isAuthorised());
    f.notifier.requestAuthorisationIfNeeded();
    EXPECT_TRUE(f.notifier.isAuthorised());
    f.notifier.announce(made({"/a.png"}, {}));
    EXPECT_EQ(f.state->posted.size(), 1u);
    EXPECT_EQ(f.state->requests, 3);
}

}  // namespace
}  // namespace kolvex
