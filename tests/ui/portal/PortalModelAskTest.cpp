// The settings that leave a choice to the user at each run: the folder, taken names, concurrency.

#include "PortalModelTestSupport.h"

namespace kolvex::testing {
namespace {

using Kind = PortalPhase::Kind;
namespace fs = std::filesystem;

class PortalAskTest : public PortalRunFixture {
protected:
    void use(const Preferences& preferences) {
        model->preferencesProvider = [preferences] { return preferences; };
    }
};

TEST_F(PortalAskTest, AskEachTimeWritesNothingUntilAFolderIsChosen) {
    Preferences prefs;
    prefs.outputLocation = Preferences::OutputLocation::ask;
    use(prefs);
    std::vector<std::function<void(std::optional<fs::path>)>> questions;
    model->onChooseOutputFolder = [&](std::function<void(std::optional<fs::path>)> answer) {
        questions.push_back(std::move(answer));
    };

    drop({"/tmp/a.png"});
    scheduler->runBackground();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_TRUE(service->requests.empty()) << "nothing is planned before the folder is chosen";
    questions.front()(fs::path("/tmp/chosen"));
    finishRuns();
    ASSERT_EQ(service->requests.size(), 1u);
    EXPECT_EQ(std::get<ConversionIntent>(service->requests.front()).outputDirectory, fs::path("/tmp/chosen"));
    scheduler->advance(2);
    model->resetToBrowsing();

    drop({"/tmp/b.png"});
    scheduler->runBackground();
    ASSERT_EQ(questions.size(), 2u);
    questions.back()(std::nullopt);  // Cancel
    finishRuns();
    EXPECT_EQ(service->requests.size(), 1u) << "a cancelled choice converts nothing";
    EXPECT_TRUE(model->phase().is(Kind::failed));
    EXPECT_EQ(model->phase().message, "Nothing converted");
}

TEST_F(PortalAskTest, EveryRequestCarriesTheUsersRules) {
    struct Row {
        Preferences::ConflictBehaviour conflict;
        int64_t limit;
        bool asks;
    };
    for (const auto [conflict, limit, asks] : {Row{Preferences::ConflictBehaviour::rename, 0, false},
                                               Row{Preferences::ConflictBehaviour::ask, 1, true},
                                               Row{Preferences::ConflictBehaviour::replace, 8, false}}) {
        Preferences prefs;
        prefs.conflictBehaviour = conflict;
        prefs.parallelLimit = limit;
        use(prefs);
        service->requests.clear();
        drop({"/tmp/a.png"});
        finishRuns();
        ASSERT_EQ(service->requests.size(), 1u);
        const RunRules& rules = std::get<ConversionIntent>(service->requests.front()).rules;
        EXPECT_EQ(rules.parallelLimit, limit);
        EXPECT_EQ(static_cast<bool>(rules.keepBothWhenTaken), asks);
        scheduler->advance(2);
        model->resetToBrowsing();
    }
}

TEST_F(PortalAskTest, SkippedFilesAreSaidApartFromWhatConvertedOrFailed) {
    ConversionResult skipped;
    skipped.source = "/tmp/b.png";
    skipped.skipped = true;
    skipped.note = "b.jpg already exists";
    struct Case {
        const char* name;
        std::vector<ConversionResult> results;
        PortalPhase expected;
        size_t failures;
    };
    const std::vector<Case> cases{
        {"one converted, one skipped", {success("/tmp/a.png", {"/tmp/a.jpg"}), skipped},
         PortalPhase::succeeded("a.jpg", "Skipped b.png: b.jpg already exists"), 0},
        {"all skipped", {skipped}, PortalPhase::failed("Nothing converted", "b.png: skipped, b.jpg already exists"), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        completed.clear();
        service->scriptedResults.push_back(c.results);
        drop({"/tmp/a.png"});
        finishRuns();
        EXPECT_EQ(model->phase(), c.expected);
        size_t failures = 0;
        for (const auto& report : completed) failures += report.failures.size();
        EXPECT_EQ(failures, c.failures) << "a skipped file is the user's choice, not a failure";
        scheduler->advance(2);
        model->resetToBrowsing();
    }
}

}  // namespace
}  // namespace kolvex::testing
