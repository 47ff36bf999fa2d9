// SPDX-License-Identifier: GPL-3.0-or-later
// The settings that leave a choice to the user at each drop — the folder, taken names — asked
// before anything runs with the Portal out of the way, and the concurrency every request carries.

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
    // "Ask what to do", with the questions recorded.
    void askAboutNames() {
        Preferences prefs;
        prefs.conflictBehaviour = Preferences::ConflictBehaviour::ask;
        use(prefs);
        model->onNamesTaken = [this](const std::vector<fs::path>& names, std::function<void(bool)> answer) {
            namesAsked.push_back(names);
            answers.push_back(std::move(answer));
        };
        model->onAsking = [this](bool away) { asking.push_back(away); };
    }
    std::vector<std::vector<fs::path>> namesAsked;
    std::vector<std::function<void(bool)>> answers;
    std::vector<bool> asking;
};

// The folder is asked beside the window the files were dragged out of, so that the chooser
// leaves it in view and hands it back the keyboard; a drop from the keyboard Portal has none.
TEST_F(PortalAskTest, TheFolderIsAskedBesideTheWindowTheDragCameFrom) {
    Preferences prefs;
    prefs.outputLocation = Preferences::OutputLocation::ask;
    use(prefs);
    std::vector<std::uint64_t> besides;
    model->onChooseOutputFolder = [&](std::uint64_t window, std::function<void(std::optional<fs::path>)>) {
        besides.push_back(window);
    };
    DragPayload dragged(std::vector<fs::path>{"/tmp/a.png"});
    dragged.sourceWindow = 0x2a00007;
    model->beginGesture(dragged, PortalMode::convert);
    pointAt(0);
    ASSERT_TRUE(model->commit());
    scheduler->runBackground();
    model->resetToBrowsing();
    drop({"/tmp/b.png"});
    scheduler->runBackground();
    EXPECT_EQ(besides, (std::vector<std::uint64_t>{0x2a00007, 0}));
}

TEST_F(PortalAskTest, AskEachTimeWritesNothingUntilAFolderIsChosen) {
    Preferences prefs;
    prefs.outputLocation = Preferences::OutputLocation::ask;
    use(prefs);
    std::vector<std::function<void(std::optional<fs::path>)>> questions;
    model->onChooseOutputFolder = [&](std::uint64_t, std::function<void(std::optional<fs::path>)> answer) {
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
    // A picture the resize had no need to shrink: no failure, on the Portal or in the report.
    ConversionResult left;
    left.source = "/tmp/tiny.png";
    left.skipped = true;
    left.note = "Left as it is: 1 × 1 is no larger than 250 px";
    left.leftAsItIs = ConversionResult::LeftAsItIs{"resize", "already no larger than 250 px"};
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
        {"all left as they were", {left},
         PortalPhase::succeeded("Left as it was", "tiny.png: Left as it is: 1 × 1 is no larger than 250 px"), 0},
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

TEST_F(PortalAskTest, TakenNamesAreAskedAboutBeforeAnythingSaysConverting) {
    askAboutNames();
    service->taken = {"/tmp/a.jpg"};
    drop({"/tmp/a.png"}, 1);
    EXPECT_FALSE(model->phase().is(Kind::converting));
    scheduler->runBackground();  // the names are looked up off the GUI thread
    ASSERT_EQ(namesAsked.size(), 1u);
    EXPECT_EQ(namesAsked[0], (std::vector<fs::path>{"/tmp/a.jpg"}));
    EXPECT_EQ(asking, (std::vector<bool>{true})) << "the Portal steps aside for the question";
    EXPECT_TRUE(service->requests.empty()) << "nothing runs while the user is asked";
    EXPECT_FALSE(model->phase().is(Kind::converting));
    EXPECT_EQ(model->activeCount(), 0);
    for (const auto& [progress, label] : reports) EXPECT_FALSE(progress) << "the tray counts nothing meanwhile";
    EXPECT_FALSE(model->isRevealed() && model->phase().is(Kind::converting));

    answers[0](false);  // Skip
    EXPECT_EQ(asking, (std::vector<bool>{true, false})) << "the Portal comes back for the run";
    EXPECT_TRUE(model->phase().is(Kind::converting));
    finishRuns();
    ASSERT_EQ(service->requests.size(), 1u);
    const RunRules& rules = std::get<ConversionIntent>(service->requests[0]).rules;
    ASSERT_TRUE(rules.keepBothWhenTaken);
    EXPECT_FALSE(rules.keepBothWhenTaken({"/tmp/a.jpg"})) << "the run keeps the answer and never asks again";
    EXPECT_EQ(namesAsked.size(), 1u);
}

TEST_F(PortalAskTest, NoTakenNameAsksNothingAndLeavesThePortalWhereItIs) {
    askAboutNames();
    drop({"/tmp/a.png"}, 1);
    scheduler->runBackground();
    EXPECT_TRUE(namesAsked.empty());
    EXPECT_TRUE(asking.empty());
    finishRuns();
    ASSERT_EQ(service->requests.size(), 1u);
    EXPECT_TRUE(std::get<ConversionIntent>(service->requests[0]).rules.keepBothWhenTaken({"/tmp/late.jpg"}))
        << "a name taken after the look-up keeps both";
}

TEST_F(PortalAskTest, AWalkAsksTheFolderBeforeItsFirstSheetAndTheNamesOnceAfterIt) {
    askAboutNames();
    Preferences prefs;
    prefs.conflictBehaviour = Preferences::ConflictBehaviour::ask;
    prefs.outputLocation = Preferences::OutputLocation::ask;
    use(prefs);
    std::vector<std::function<void(std::optional<fs::path>)>> folders;
    model->onChooseOutputFolder = [&](std::uint64_t, std::function<void(std::optional<fs::path>)> answer) {
        folders.push_back(std::move(answer));
    };
    service->taken = {"/out/a.png"};
    drop({"/tmp/a.png", "/tmp/b.png"}, 3, PortalMode::tools);  // Crop: a sheet per file
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_TRUE(needs.empty()) << "the folder comes before the first sheet";
    EXPECT_EQ(asking, (std::vector<bool>{true}));
    folders[0](fs::path("/out"));
    scheduler->runBackground();
    EXPECT_TRUE(service->lookedUp.empty()) << "the names wait for what the sheet chooses";
    ASSERT_EQ(needs.size(), 1u);
    EXPECT_EQ(asking, (std::vector<bool>{true})) << "the sheet comes next, with the Portal still away";
    EXPECT_TRUE(model->phase().is(Kind::needsParameters));

    ConversionOptions cropped;
    cropped.cropRect = UnitRect{0.1, 0.1, 0.5, 0.5};
    model->applyParameters(cropped, fs::path("/tmp/a.png"));
    // The second sheet is answered while the first file's names are still being asked about.
    model->finishParameterRun({{"/tmp/b.png", cropped}});
    scheduler->runBackground();
    ASSERT_EQ(service->lookedUp.size(), 1u);
    const auto& looked = std::get<ToolIntent>(service->lookedUp[0]);
    EXPECT_EQ(looked.outputDirectory, fs::path("/out"));
    EXPECT_EQ(looked.options.cropRect, cropped.cropRect) << "asked about the names the sheet's choice writes";
    EXPECT_TRUE(service->requests.empty()) << "nothing runs before the answer";
    ASSERT_EQ(answers.size(), 1u);
    answers[0](true);
    finishRuns();
    ASSERT_EQ(service->requests.size(), 2u);
    for (const auto& request : service->requests) {
        const auto& intent = std::get<ToolIntent>(request);
        EXPECT_EQ(intent.outputDirectory, fs::path("/out"));
        ASSERT_TRUE(intent.rules.keepBothWhenTaken);
        EXPECT_TRUE(intent.rules.keepBothWhenTaken({"/out/a.png"}));
    }
    EXPECT_EQ(folders.size(), 1u);
    EXPECT_EQ(namesAsked.size(), 1u) << "asked once per drop, not once per file";
    EXPECT_EQ(asking, (std::vector<bool>{true, true, false}))
        << "away for the folder and the sheet, away again for the names (the sheet's end brought it back), back for the run";
}

TEST_F(PortalAskTest, TheNamesAskedAboutAreTheOnesTheSheetChose) {
    askAboutNames();
    service->taken = {"/tmp/clip.mp3"};
    drop({"/tmp/clip.mp4"}, 0, PortalMode::tools);  // Resize: one sheet for the drop
    scheduler->runBackground();
    ASSERT_EQ(needs.size(), 1u);
    EXPECT_TRUE(service->lookedUp.empty()) << "no question about names the sheet has not chosen yet";
    EXPECT_TRUE(asking.empty());

    ConversionOptions chosen;
    chosen.outputFormat = FormatID("mp3");
    model->applyParameters(chosen);
    EXPECT_TRUE(service->requests.empty());
    scheduler->runBackground();
    ASSERT_EQ(service->lookedUp.size(), 1u);
    EXPECT_EQ(std::get<ToolIntent>(service->lookedUp[0]).options.outputFormat, std::optional<FormatID>(FormatID("mp3")));
    ASSERT_EQ(namesAsked.size(), 1u);
    EXPECT_EQ(asking, (std::vector<bool>{true})) << "the question is put up with the Portal away";
    EXPECT_TRUE(service->requests.empty()) << "nothing runs before the answer";
    answers[0](false);  // Skip
    EXPECT_EQ(asking, (std::vector<bool>{true, false}));
    finishRuns();
    ASSERT_EQ(service->requests.size(), 1u);
    const auto& intent = std::get<ToolIntent>(service->requests[0]);
    EXPECT_EQ(intent.options.outputFormat, std::optional<FormatID>(FormatID("mp3")));
    ASSERT_TRUE(intent.rules.keepBothWhenTaken);
    EXPECT_FALSE(intent.rules.keepBothWhenTaken({"/tmp/clip.mp3"}));
}

// Once the user answered Skip, a walk asks before each later sheet whether its file is
// skipped: only a file of the drop whose name, by the settings chosen, is taken. It is then
// told as skipped with the walk's results and never converted.
TEST_F(PortalAskTest, AfterSkipAWalkTellsAFileWhoseNameIsTakenAsSkipped) {
    askAboutNames();
    ConversionOptions cropped;
    cropped.cropRect = UnitRect{0.1, 0.1, 0.5, 0.5};
    EXPECT_FALSE(model->skipsInWalk(cropped, "/tmp/b.png")) << "no sheet pending";
    service->taken = {"/tmp/a cropped.png"};
    drop({"/tmp/a.png", "/tmp/b.png", "/tmp/c.png"}, 3, PortalMode::tools);  // Crop: a sheet per file
    scheduler->runBackground();
    ASSERT_EQ(needs.size(), 1u);
    EXPECT_FALSE(model->skipsInWalk(cropped, "/tmp/b.png")) << "nothing answered yet: asked after the sheet";
    model->applyParameters(cropped, fs::path("/tmp/a.png"));
    scheduler->runBackground();
    ASSERT_EQ(answers.size(), 1u);
    answers[0](false);  // Skip

    service->taken = {"/tmp/b cropped.png"};
    service->lookedUp.clear();
    EXPECT_FALSE(model->skipsInWalk(cropped, "/tmp/elsewhere.png")) << "not a file of this drop";
    EXPECT_TRUE(model->skipsInWalk(cropped, "/tmp/b.png"));
    ASSERT_EQ(service->lookedUp.size(), 1u);
    const auto& looked = std::get<ToolIntent>(service->lookedUp[0]);
    EXPECT_EQ(looked.urls, (std::vector<fs::path>{"/tmp/b.png"}));
    EXPECT_EQ(looked.options.cropRect, cropped.cropRect) << "judged by the names the chosen settings write";
    service->taken.clear();
    EXPECT_FALSE(model->skipsInWalk(cropped, "/tmp/c.png")) << "a free name gets its sheet";

    model->finishParameterRun({{"/tmp/c.png", cropped}});
    finishRuns();
    for (const auto& request : service->requests)
        EXPECT_NE(std::get<ToolIntent>(request).urls, (std::vector<fs::path>{"/tmp/b.png"})) << "b never runs";
    std::vector<RunReport::Failure> skipped;
    size_t converted = 0;
    for (const auto& report : completed) {
        skipped.insert(skipped.end(), report.skipped.begin(), report.skipped.end());
        converted += report.sources.size();
        EXPECT_TRUE(report.failures.empty());
    }
    EXPECT_EQ(skipped, (std::vector<RunReport::Failure>{{"/tmp/b.png", "b cropped.png already exists"}}));
    EXPECT_EQ(converted, 2u);
    EXPECT_EQ(namesAsked.size(), 1u);
}

// However the ask ends before its answer — a new drag, a hand-back, files opened in the
// program, Escape, the sheet's Cancel — its question goes with it, its files are told as not
// converted for the true reason, and a late answer starts nothing. A new drop asks its own
// question: never two on screen.
TEST_F(PortalAskTest, AQuestionIsTakenDownWhenItsAskEnds) {
    struct Row {
        std::string name;
        bool names;  // the names' question, else the folder's
        std::function<void()> end;
        std::string reason;  // what the files not converted are told
    };
    const auto newDrag = [this] { browse({"/tmp/other.png"}); };
    const auto filesOpened = [this] {
        model->beginGesture(DragPayload({"/tmp/other.png"}), PortalMode::convert, PortalModel::GestureStart::handedOver);
    };
    const auto escape = [this] { model->dismissByKeyboard(); };
    const std::string byDrag = "A new drag began before its question was answered";
    const std::string byFiles = "Other files were opened in Kolvex before its question was answered";
    const std::string byCancel = "Cancelled before its question was answered";
    std::vector<Row> rows;
    for (const bool names : {false, true}) {
        const std::string question = names ? "the names' question" : "the folder chooser";
        rows.push_back({"a new drag over " + question, names, newDrag, byDrag});
        rows.push_back({"files opened over " + question, names, filesOpened, byFiles});
        rows.push_back({"Escape while " + question + " is up", names, escape, byCancel});
    }
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        model = makeModel();
        Preferences prefs;
        if (row.names) prefs.conflictBehaviour = Preferences::ConflictBehaviour::ask;
        else prefs.outputLocation = Preferences::OutputLocation::ask;
        use(prefs);
        service->taken = {"/tmp/photo.png"};
        service->requests.clear();
        completed.clear();
        int up = 0;
        int withdrawn = 0;
        std::vector<std::function<void(std::optional<fs::path>)>> folders;
        std::vector<std::function<void(bool)>> names;
        model->onChooseOutputFolder = [&](std::uint64_t, std::function<void(std::optional<fs::path>)> answer) {
            ++up;
            folders.push_back(std::move(answer));
        };
        model->onNamesTaken = [&](const std::vector<fs::path>&, std::function<void(bool)> answer) {
            ++up;
            names.push_back(std::move(answer));
        };
        model->onWithdrawQuestion = [&] { --up, ++withdrawn; };

        drop({"/tmp/photo.jpg"});
        scheduler->runBackground();
        ASSERT_EQ(up, 1);
        row.end();
        EXPECT_EQ(up, 0) << "the question is taken down with its ask";
        EXPECT_EQ(withdrawn, 1);
        ASSERT_EQ(completed.size(), 1u) << "the drop is not lost without a word";
        ASSERT_EQ(completed[0].failures.size(), 1u);
        EXPECT_EQ(completed[0].failures[0].source, fs::path("/tmp/photo.jpg"));
        EXPECT_EQ(completed[0].failures[0].reason, row.reason);

        // Answered anyway (a window that could not be taken down): nothing runs, nothing more is said.
        if (row.names) names[0](true);
        else folders[0](fs::path("/tmp/late"));
        finishRuns();
        EXPECT_TRUE(service->requests.empty());
        EXPECT_EQ(completed.size(), 1u);

        // A new drop asks its own question, alone on screen, and its answer converts.
        model->resetToBrowsing();
        drop({"/tmp/photo.jpg"});
        scheduler->runBackground();
        EXPECT_EQ(up, 1) << "one question on screen, never two";
        if (row.names) names.back()(true);
        else folders.back()(fs::path("/tmp/chosen"));
        finishRuns();
        EXPECT_EQ(service->requests.size(), 1u);
        EXPECT_EQ(withdrawn, 1);
        scheduler->advance(3);
    }
}

TEST_F(PortalAskTest, AnAnswerAfterTheUserMovedOnStartsNothing) {
    Preferences prefs;
    prefs.outputLocation = Preferences::OutputLocation::ask;
    use(prefs);
    std::vector<std::function<void(std::optional<fs::path>)>> folders;
    model->onChooseOutputFolder = [&](std::uint64_t, std::function<void(std::optional<fs::path>)> answer) {
        folders.push_back(std::move(answer));
    };
    drop({"/tmp/a.png"});
    ASSERT_EQ(folders.size(), 1u);
    model->dismissByKeyboard();  // the tray's Cancel or Escape while the chooser is up
    EXPECT_TRUE(model->phase().is(Kind::browsing));
    EXPECT_EQ(finished, 1);
    folders[0](fs::path("/tmp/late"));
    finishRuns();
    EXPECT_TRUE(service->requests.empty());
    EXPECT_TRUE(model->phase().is(Kind::browsing));

    // A parameter answer is no answer to a question still open.
    drop({"/tmp/a.png"}, 3, PortalMode::tools);
    model->applyParameters(ConversionOptions{});
    finishRuns();
    EXPECT_TRUE(service->requests.empty());
    folders.back()(fs::path("/tmp/now"));
    EXPECT_EQ(needs.size(), 1u);
}

// The tray quits while the chooser is up: its late answer reaches a model that is gone, and
// must touch nothing of it.
TEST_F(PortalAskTest, AnAnswerAfterThePortalHasGoneTouchesNothing) {
    askAboutNames();
    Preferences prefs = model->preferencesProvider();
    prefs.outputLocation = Preferences::OutputLocation::ask;
    use(prefs);
    std::vector<std::function<void(std::optional<fs::path>)>> folders;
    model->onChooseOutputFolder = [&](std::uint64_t, std::function<void(std::optional<fs::path>)> answer) {
        folders.push_back(std::move(answer));
    };
    drop({"/tmp/a.png"});
    ASSERT_EQ(folders.size(), 1u);
    model.reset();
    folders[0](fs::path("/tmp/late"));
    scheduler->runBackground();
    EXPECT_TRUE(service->requests.empty());
    EXPECT_TRUE(namesAsked.empty());
}

}  // namespace
}  // namespace kolvex::testing
