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

TEST(ConversionNotifier, ContentNamesTheFilesOrCountsThem) {
    struct Case {
        std::vector<std::filesystem::path> outputs, sources;
        std::string title, body;
    };
    const std::vector<Case> cases{
        {{"/v/clip.webm"}, {"/v/clip.mov"}, "clip.webm", "Saved next to clip.mov"},
        {{"/v/clip.webm"}, {}, "clip.webm", "Saved next to the original"},
        {{"/p/a.png", "/p/b.png"}, {"/p/a.heic", "/p/b.heic"}, "2 files converted", "a.png, b.png"},
        {{"/1", "/2", "/3", "/4", "/5"}, {"/s"}, "5 files converted", "1, 2, 3"},
        {{}, {}, "0 files converted", ""},
    };
    for (const auto& c : cases) {
        const Notification n = ConversionNotifier::content(c.outputs, c.sources, false);
        EXPECT_EQ(n.title, c.title);
        EXPECT_EQ(n.body, c.body);
        EXPECT_EQ(n.identifier.size(), 36u);
    }
    EXPECT_NE(ConversionNotifier::content({"/a"}, {}, false).identifier,
              ConversionNotifier::content({"/a"}, {}, false).identifier);
}

TEST(ConversionNotifier, SoundOnlyForBackgroundRuns) {
    Fixture f;
    f.state->answers = {true};
    f.notifier.announce({"/a.png"}, {"/a.heic"}, false);
    f.notifier.announce({"/b.png"}, {"/b.heic"}, true);
    ASSERT_EQ(f.state->posted.size(), 2u);
    EXPECT_FALSE(f.state->posted[0].playsSound);
    EXPECT_TRUE(f.state->posted[1].playsSound);
    EXPECT_EQ(f.state->requests, 1) << "a granted permission is not asked for again";
}

TEST(ConversionNotifier, SwitchedOffAsksNothingAndPostsNothing) {
    Fixture f;
    f.state->answers = {true};
    Preferences off;
    off.showNotifications = false;
    PreferencesStore::save(off, f.defaults);
    f.notifier.announce({"/a.png"}, {"/a.heic"}, true);
    EXPECT_EQ(f.state->requests, 0);
    EXPECT_TRUE(f.state->posted.empty());
}

TEST(ConversionNotifier, RefusalAndFailureAskAgainNextTime) {
    Fixture f;
    LogCapture log;
    f.state->answers = {false, std::nullopt, true};
    f.notifier.announce({"/a.png"}, {}, false);
    EXPECT_TRUE(f.state->posted.empty());
    f.notifier.announce({"/a.png"}, {}, false);
    EXPECT_TRUE(f.state->posted.empty());
    EXPECT_TRUE(log.contains("app", "Notification authorisation unavailable"));
    EXPECT_FALSE(f.notifier.isAuthorised());
    f.notifier.requestAuthorisationIfNeeded();
    EXPECT_TRUE(f.notifier.isAuthorised());
    f.notifier.announce({"/a.png"}, {}, false);
    EXPECT_EQ(f.state->posted.size(), 1u);
    EXPECT_EQ(f.state->requests, 3);
}

}  // namespace
}  // namespace kolvex
