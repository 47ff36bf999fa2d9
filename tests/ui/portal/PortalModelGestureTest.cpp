// SPDX-License-Identifier: GPL-3.0-or-later
// The model's state, gesture, ring, selection and keyboard path.

#include <numbers>

#include "PortalModelTestSupport.h"

namespace kolvex::testing {
namespace {

using Kind = PortalPhase::Kind;

TEST_F(PortalModelTest, PhasesAreEqualOnlyByCaseAndPayload) {
    EXPECT_EQ(PortalPhase::converting(0.5), PortalPhase::converting(0.5));
    EXPECT_NE(PortalPhase::converting(0.5), PortalPhase::converting(0.51));
    EXPECT_NE(PortalPhase::succeeded("a"), PortalPhase::succeeded("a", "n"));
    EXPECT_NE(PortalPhase::failed("m"), PortalPhase::succeeded("m"));
    EXPECT_EQ(PortalPhase::needsParameters(toolTarget("crop", "Crop")),
              PortalPhase::needsParameters(toolTarget("crop", "Crop")));
    EXPECT_EQ(PortalPhase::browsing(), PortalPhase{});
}

TEST_F(PortalModelTest, RingIsLoggedClockwiseFromTheTop) {
    LogCapture log;
    browse({"/tmp/a.heic"}, std::nullopt);
    ASSERT_EQ(model->targets().size(), 4u);
    bool found = false;
    for (const auto& e : log.entries()) {
        if (e.message.rfind("RING n=4 r=", 0) != 0) continue;
        found = true;
        EXPECT_NE(e.message.find("PNG@90°(+0,+"), std::string::npos) << e.message;
        EXPECT_NE(e.message.find("JPEG@0°(+"), std::string::npos) << e.message;
        EXPECT_NE(e.message.find("WebP@-90°(+0,-"), std::string::npos) << e.message;
        EXPECT_NE(e.message.find("TIFF@-180°(-"), std::string::npos) << e.message;
    }
    EXPECT_TRUE(found);
}

TEST_F(PortalModelTest, RingIsAskedForOncePerModeEvenWhenEmpty) {
    // A dead end stays quiet: track samples 120 times a second neither ask nor log again.
    provider->rings.erase(PortalMode::convert);
    LogCapture log;
    browse({"/tmp/a.xyz"}, std::nullopt);
    EXPECT_TRUE(model->targets().empty());
    EXPECT_TRUE(log.contains("interaction", "RING n=0 r="));
    EXPECT_FALSE(model->selectedIndex());
    const int calls = provider->targetCalls;
    log.clear();
    for (int i = 0; i < 120; ++i) {
        model->apply(PortalMode::convert);
        model->updateCursor({10, 10});
    }
    EXPECT_EQ(provider->targetCalls, calls);
    EXPECT_TRUE(log.entries().empty());

    provider->rings[PortalMode::convert] = {formatTarget("png", "PNG")};
    model->apply(PortalMode::tools);
    model->apply(PortalMode::convert);
    pointAt(0);
    ASSERT_EQ(model->selectedIndex(), 0);
    log.clear();
    const int before = provider->targetCalls;
    model->apply(PortalMode::convert);
    EXPECT_EQ(provider->targetCalls, before);
    EXPECT_EQ(model->selectedIndex(), 0);
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(PortalModelTest, PointerSelectsByDirectionAndLogsOnlyChanges) {
    browse({"/tmp/a.heic"}, std::nullopt);
    LogCapture log;
    pointAt(1);
    EXPECT_EQ(model->selectedIndex(), 1);
    EXPECT_EQ(model->selectedTarget()->label, "JPEG");
    EXPECT_TRUE(log.contains("interaction", "SELECT JPEG d=150 targets=4"));
    log.clear();
    model->updateCursor({2, 3});  // inside the dead zone
    EXPECT_FALSE(model->selectedIndex());
    model->updateCursor({3, 2});
    int lines = 0;
    for (const auto& e : log.entries()) lines += e.message.rfind("SELECT none", 0) == 0;
    EXPECT_EQ(lines, 1);
    EXPECT_EQ(model->cursorVector(), (PortalPlacement::CursorVector{3, 2}));
}

TEST_F(PortalModelTest, TheChipIsChosenByThePointersOffsetFromTheCentre) {
    // Near a screen edge the Portal is pushed back on screen and appears with the pointer away
    // from its centre: a pointer that already points at a chip selects it at once, and from
    // then on the selection follows where the pointer is, not how it moved.
    const auto& layout = model->layout();
    struct Row {
        const char* where;
        PortalPlacement::CursorVector revealedAt;
        std::optional<std::string> selects;
    };
    const std::vector<Row> rows{
        {"centred", {0, 0}, std::nullopt},
        {"inside the dead zone", {30, 30}, std::nullopt},
        {"pushed down from the top edge, pointer on PNG", {0, 150}, "PNG"},
        {"pushed left from the right edge, pointer on JPEG", {150, 0}, "JPEG"},
        {"pushed up from the bottom edge, pointer on WebP", {0, -150}, "WebP"},
        {"pushed right from the left edge, pointer on TIFF", {-150, 0}, "TIFF"},
        {"in a corner, beyond the disc", {-240, -240}, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.where);
        browse({"/tmp/a.heic"}, std::nullopt);
        model->anchorGesture(row.revealedAt);
        const auto target = model->selectedTarget();
        EXPECT_EQ(target ? std::optional<std::string>(target->label) : std::nullopt, row.selects);
        EXPECT_EQ(model->cursorVector(), row.revealedAt);
    }

    // Revealed at the right (JPEG); the pointer then moves onto each chip in turn: the chip
    // under it is selected whatever the way there.
    browse({"/tmp/a.heic"}, std::nullopt);
    model->anchorGesture({150, 0});
    for (int i : {0, 2, 3, 1}) {
        const double a = layout.angle(i);
        model->updateCursor({130 * std::cos(a), 130 * std::sin(a)});
        EXPECT_EQ(model->selectedIndex(), i);
    }
    // A few points across the boundary keep the current chip (hysteresis); clearly past it, the
    // next one is selected.
    const double boundary = (layout.angle(1) + layout.angle(2)) / 2;
    model->updateCursor({130 * std::cos(boundary + 0.02), 130 * std::sin(boundary + 0.02)});
    EXPECT_EQ(model->selectedIndex(), 1);
    model->updateCursor({130 * std::cos(boundary - 0.02), 130 * std::sin(boundary - 0.02)});
    EXPECT_EQ(model->selectedIndex(), 1) << "within the hysteresis the choice stands";
    model->updateCursor({130 * std::cos(boundary - 0.3), 130 * std::sin(boundary - 0.3)});
    EXPECT_EQ(model->selectedIndex(), 2);
    // Beyond the disc the pointer is over someone else's window: no chip stays lit.
    model->updateCursor({-500, 0});
    EXPECT_FALSE(model->selectedIndex());

    // The keyboard-driven Portal keeps its own choice where the pointer happens to be.
    browse({"/tmp/a.heic"}, std::nullopt);
    model->setKeyboardDriven(true);
    model->selectFirstTarget();
    model->anchorGesture({150, 0});
    EXPECT_EQ(model->selectedIndex(), 0);
    model->setKeyboardDriven(false);
}

TEST_F(PortalModelTest, CursorIsIgnoredOutsideBrowsing) {
    browse({"/tmp/a.heic"}, 0);
    ASSERT_TRUE(model->commit());
    const auto vector = model->cursorVector();
    model->updateCursor({-150, 0});
    EXPECT_EQ(model->cursorVector(), vector);
    EXPECT_EQ(model->selectedIndex(), 0);
}

TEST_F(PortalModelTest, HidingResetsDetailsSearchAndInside) {
    browse({"/tmp/a.heic"}, 0);
    model->setRevealed(true);
    EXPECT_TRUE(model->isRevealed());
    model->setCursorInside(true);
    model->setShowingDetails(true);
    model->beginFormatSearch("p");
    model->setRevealed(false);
    EXPECT_FALSE(model->isCursorInside());
    EXPECT_FALSE(model->showingDetails());
    EXPECT_FALSE(model->isShowingFormatList());
    EXPECT_EQ(model->formatQuery(), "");
}

TEST_F(PortalModelTest, RevealAnimatesWithSpringOrShortEaseOut) {
    Animation seen;
    QObject::connect(model.get(), &PortalModel::changed, [&](PortalModel::Field f) {
        if (f == PortalModel::Field::isRevealed) seen = model->currentAnimation();
    });
    model->setRevealed(true);
    EXPECT_EQ(seen, Animation::spring(0.26, 0.78));
    reduce = true;
    model->setRevealed(false);
    EXPECT_EQ(seen, Animation::easeOut(0.12));
    EXPECT_EQ(model->currentAnimation(), Animation::none());
}

TEST_F(PortalModelTest, ClearGestureOnlyWhileBrowsing) {
    browse({"/tmp/a.heic"}, 0);
    scheduler->runBackground();
    EXPECT_FALSE(model->thumbnail().isNull());
    model->clearGesture();
    EXPECT_FALSE(model->payload());
    EXPECT_TRUE(model->targets().empty());
    EXPECT_FALSE(model->selectedIndex());
    EXPECT_TRUE(model->thumbnail().isNull());

    browse({"/tmp/b.heic"}, 0);
    model->commit();
    model->clearGesture();
    EXPECT_TRUE(model->payload());
}

TEST_F(PortalModelTest, LateThumbnailOfAnEarlierGestureIsDropped) {
    browse({"/tmp/a.heic"}, 0);
    model->beginGesture(DragPayload({"/tmp/b.heic"}), PortalMode::convert);
    // Both pictures arrive now; the first belongs to a file no longer shown.
    int updates = 0;
    QObject::connect(model.get(), &PortalModel::changed, [&](PortalModel::Field f) {
        updates += f == PortalModel::Field::thumbnail && !model->thumbnail().isNull();
    });
    scheduler->runBackground();
    EXPECT_EQ(updates, 1);
    model->setPayload(DragPayload({"/tmp/c.heic"}));
    model->beginGesture(DragPayload({"/tmp/d.heic"}), PortalMode::convert);
    model->setPayload(DragPayload({"/tmp/e.heic"}));
    scheduler->runBackground();
    EXPECT_TRUE(model->thumbnail().isNull());
}

// --- Keyboard path ---

TEST_F(PortalModelTest, ReturnWithoutSelectionStartsNothing) {
    browse({"/tmp/a.heic"}, std::nullopt);
    EXPECT_FALSE(model->commit());
    EXPECT_TRUE(model->phase().is(Kind::browsing));
    EXPECT_EQ(scheduler->pendingBackground(), 1u);  // only the thumbnail
}

TEST_F(PortalModelTest, ArrowsWrapAroundTheRing) {
    browse({"/tmp/a.heic"}, std::nullopt, PortalMode::tools);
    model->moveSelection(-1);
    EXPECT_EQ(model->selectedIndex(), 4);
    model->moveSelection(1);
    EXPECT_EQ(model->selectedIndex(), 0);
    model->moveSelection(-1);
    EXPECT_EQ(model->selectedIndex(), 4);
    browse({"/tmp/a.heic"}, std::nullopt, PortalMode::tools);
    model->moveSelection(1);
    EXPECT_EQ(model->selectedIndex(), 1);
}

TEST_F(PortalModelTest, TabSwitchesBetweenConvertAndTools) {
    browse({"/tmp/a.heic"}, std::nullopt, PortalMode::advanced);
    model->cycleMode();
    EXPECT_EQ(model->mode(), PortalMode::convert);
    EXPECT_EQ(model->selectedIndex(), 0);
    model->cycleMode();
    EXPECT_EQ(model->mode(), PortalMode::tools);
    EXPECT_EQ(model->targets().front().label, "Resize");
}

TEST_F(PortalModelTest, CommitOfAToolNeedingSettingsAsksForThem) {
    browse({"/tmp/a.heic"}, 0, PortalMode::tools);
    EXPECT_TRUE(model->commit());
    EXPECT_EQ(model->phase(), PortalPhase::needsParameters(toolTarget("resize", "Resize")));
    ASSERT_EQ(needs.size(), 1u);
    EXPECT_EQ(needs[0].second.urls.front(), "/tmp/a.heic");
    EXPECT_FALSE(model->commit());  // a second drop while the sheet is pending
    EXPECT_EQ(needs.size(), 1u);
    EXPECT_EQ(model->activeCount(), 0);

    browse({"/tmp/a.heic"}, 1, PortalMode::tools);
    EXPECT_TRUE(model->commit());
    EXPECT_TRUE(model->phase().is(Kind::converting));
    EXPECT_EQ(model->activeCount(), 1);
}

TEST_F(PortalModelTest, CommitRecordsTheChipAngle) {
    EXPECT_DOUBLE_EQ(model->commitAngle(), std::numbers::pi / 2);  // the top, before any commit
    browse({"/tmp/a.heic"}, 1);
    model->commit();
    EXPECT_NEAR(model->commitAngle(), 0, 1e-12);
}

TEST_F(PortalModelTest, ACommitStartsSomethingOnlyWhileBrowsing) {
    browse({"/tmp/clip.heic"}, 0);
    ASSERT_TRUE(model->commit());
    EXPECT_FALSE(model->commit()) << "Return, Return";
    scheduler->runBackground();
    scheduler->advance(0.7);
    ASSERT_TRUE(model->phase().is(Kind::succeeded));
    EXPECT_FALSE(model->commit()) << "while the result shows";
    EXPECT_FALSE(model->commitDrop({"/tmp/clip.heic"}));
    EXPECT_EQ(service->requests.size(), 1u);
}

TEST_F(PortalModelTest, ADropConvertsTheFilesItCarries) {
    // Opened for old.png, dropped new.png on PNG: new.png converts.
    browse({"/tmp/old.png"}, 0);
    ASSERT_TRUE(model->commitDrop({"/tmp/new.png"}));
    scheduler->runBackground();
    ASSERT_EQ(service->requests.size(), 1u);
    EXPECT_EQ(std::get<ConversionIntent>(service->requests[0]).urls,
              std::vector<std::filesystem::path>{"/tmp/new.png"});
    // When the chosen target is not on the ring of the dropped files, the drop is refused.
    scheduler->advance(3);
    model->resetToBrowsing();
    browse({"/tmp/old.png"}, 0);
    provider->rings[PortalMode::convert] = {formatTarget("mp4", "MP4")};
    EXPECT_FALSE(model->commitDrop({"/tmp/new.mov"}));
    EXPECT_EQ(service->requests.size(), 1u);
    EXPECT_TRUE(model->phase().is(Kind::browsing));
}

TEST_F(PortalModelTest, EscapeWhileConvertingCancels) {
    browse({"/tmp/a.heic"}, 0);
    model->commit();
    model->dismissByKeyboard();
    EXPECT_TRUE(model->phase().is(Kind::browsing));
    EXPECT_EQ(model->activeCount(), 0);
    EXPECT_EQ(finished, 1);
}

TEST_F(PortalModelTest, NothingToOfferTexts) {
    provider->rings.clear();
    browse({"/tmp/a.heic"}, std::nullopt);
    EXPECT_TRUE(model->nothingToOffer());
    EXPECT_EQ(model->nothingHeadline(), "Nothing to convert");
    EXPECT_EQ(model->nothingDetail(), "a.heic");
    provider->categories = 2;
    browse({"/tmp/a.heic", "/tmp/b.mp4"}, std::nullopt);
    EXPECT_EQ(model->nothingHeadline(), "Pick one kind of file");
    EXPECT_EQ(model->nothingDetail(), "These are different kinds — drag videos with videos, images with images");
    model->clearGesture();
    EXPECT_FALSE(model->nothingToOffer());
    EXPECT_EQ(model->nothingDetail(), "");
}

TEST_F(PortalModelTest, NewSourcesAreNeverDropped) {
    auto other = std::make_shared<FakeProvider>();
    other->rings[PortalMode::convert] = {formatTarget("bmp", "BMP"), formatTarget("png", "PNG")};
    auto otherService = std::make_shared<FakeService>();

    // Arriving while a revealed Portal browses (a file opened at launch): the ring on screen
    // is built from them at once and a commit goes to the new service.
    browse({"/tmp/a.heic"}, std::nullopt);
    model->setRevealed(true);
    model->replaceProvider(other, std::shared_ptr<PortalConversionService>(otherService));
    EXPECT_EQ(model->targets().front().label, "BMP");
    pointAt(1);
    ASSERT_TRUE(model->commit());
    scheduler->runBackground();
    EXPECT_EQ(otherService->requests.size(), 1u);
    EXPECT_TRUE(service->requests.empty());

    // Arriving while a conversion shows: kept, and taken when the Portal browses again.
    auto third = std::make_shared<FakeProvider>();
    third->rings[PortalMode::convert] = {formatTarget("gif", "GIF")};
    browse({"/tmp/b.heic"}, 0);
    ASSERT_TRUE(model->commit());
    model->replaceProvider(third, std::shared_ptr<PortalConversionService>(service));
    EXPECT_EQ(model->targets().front().label, "BMP");
    model->cancelShownConversion();
    browse({"/tmp/c.heic"}, 0);
    EXPECT_EQ(model->targets().front().label, "GIF");
}

}  // namespace
}  // namespace kolvex::testing
