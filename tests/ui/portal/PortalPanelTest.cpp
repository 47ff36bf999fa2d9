// SPDX-License-Identifier: GPL-3.0-or-later
// The Portal window and its drop view, headless, on the hand-moved clock.

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <QWindow>

#include "PortalModelTestSupport.h"
#include "ui/portal/PortalController.h"
#include "ui/portal/PortalDropView.h"
#include "ui/portal/PortalPanel.h"
#include "core/services/UserDefaults.h"

namespace kolvex::testing {
namespace {

using Kind = PortalPhase::Kind;

// One 1920 × 1080 screen (y upwards) with a 40-point panel at the bottom.
class PortalPanelTest : public PortalModelTest {
protected:
    void SetUp() override {
        PortalModelTest::SetUp();
        panel = std::make_unique<PortalPanel>(*model, panelEnvironment());
    }
    PortalPanel::Environment panelEnvironment() {
        PortalPanel::Environment env;
        env.scheduler = scheduler;
        env.reduceMotion = [this] { return reduce; };
        env.rootHeight = [this] { return rootHeight; };
        env.screens = [this] { return screens; };
        env.mainScreen = [this]() -> std::optional<PortalScreen> {
            if (screens.empty()) return std::nullopt;
            return screens.front();
        };
        env.nudgePointer = [this](int dx, int dy) { nudges.emplace_back(dx, dy); };
        env.pointer = [this] { return pointer; };
        return env;
    }
    void TearDown() override { panel.reset(); }

    double rootHeight = 1080;
    std::vector<PortalScreen> screens{{Rect{{0, 0}, {1920, 1080}}, Rect{{0, 40}, {1920, 1040}}}};
    std::vector<std::pair<int, int>> nudges;
    std::optional<Point> pointer;  // root pixels, y down; none: the window system cannot tell
    std::unique_ptr<PortalPanel> panel;
};

TEST_F(PortalPanelTest, RevealAnchorsUnderThePointerAndNudgesIt) {
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {1900, 50});
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(model->isRevealed());
    EXPECT_FALSE(panel->isKeyboardDriven());
    EXPECT_FALSE(model->isKeyboardDriven());
    // Clamped into the visible frame on both axes.
    EXPECT_EQ(panel->anchor(), (Point{1440, 40}));
    EXPECT_EQ(panel->frame(), (Rect{{1440, 40}, {480, 480}}));
    EXPECT_EQ(model->cursorVector(), (PortalPlacement::CursorVector{1900 - 1680, 50 - 280}));
    EXPECT_TRUE(panel->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_TRUE(panel->windowFlags() & Qt::X11BypassWindowManagerHint);
    EXPECT_EQ(nudges, (std::vector<std::pair<int, int>>{{1, 0}}));
    scheduler->advance(0.03);
    EXPECT_EQ(nudges, (std::vector<std::pair<int, int>>{{1, 0}, {-1, 0}}));
}

TEST_F(PortalPanelTest, PointerOffEveryScreenIsLeftUnclamped) {
    LogCapture log;
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {3000, 500});
    EXPECT_EQ(panel->anchor(), (Point{2760, 260}));
    EXPECT_TRUE(log.contains("interaction",
                             "Cursor at 3000,500 is not inside any screen frame; Portal left unclamped"));
}

// A 1920 × 1200 pixel screen scaled by Qt: the pointer comes in the root window's pixels and
// the Portal opens centred on it in logical pixels, clamped on screen near every edge.
TEST_F(PortalPanelTest, OnAScaledScreenThePortalOpensWhereThePointerIs) {
    for (const double scale : {1.0, 1.25, 1.5, 2.0}) {
        SCOPED_TRACE(scale);
        const Size logical{1920 / scale, 1200 / scale};
        rootHeight = logical.height;
        screens = {PortalScreen{Rect{{0, 0}, logical}, Rect{{0, 0}, {logical.width, logical.height - 30}},
                                Rect{{0, 0}, {1920, 1200}}, scale}};
        const Point mid = panel->fromRoot({960, 600});
        EXPECT_NEAR(mid.x, logical.width / 2, 1e-9);
        EXPECT_NEAR(mid.y, logical.height / 2, 1e-9);
        LogCapture log;
        panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, mid);
        EXPECT_EQ(panel->anchor(), (Point{mid.x - 240, mid.y - 240}));
        EXPECT_EQ(model->cursorVector(), (PortalPlacement::CursorVector{0, 0}));
        // Near each edge and corner the window stays whole inside the visible frame.
        for (const Point root : {Point{335, 5}, Point{1915, 600}, Point{960, 1195}, Point{3, 600}, Point{1919, 0}}) {
            const Point at = panel->fromRoot(root);
            EXPECT_NEAR(at.x, root.x / scale, 1e-9);
            EXPECT_NEAR(at.y, logical.height - root.y / scale, 1e-9);
            panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, at);
            const Point o = panel->anchor();
            EXPECT_GE(o.x, 0);
            EXPECT_LE(o.x + 480, logical.width);
            EXPECT_GE(o.y, 0);
            EXPECT_LE(o.y + 480, logical.height - 30);
            // The selection measures from the window's real centre.
            EXPECT_EQ(model->cursorVector(), (PortalPlacement::CursorVector{at.x - (o.x + 240), at.y - (o.y + 240)}));
        }
        EXPECT_FALSE(log.contains("interaction", "is not inside any screen frame"));
    }
}

// Qt keeps each screen's top-left corner and divides its size: a scaled screen beside an
// unscaled one, and a point beyond both, carried over by the first screen's scale.
TEST_F(PortalPanelTest, EachScreenConvertsByItsOwnScale) {
    rootHeight = 1024;
    screens = {PortalScreen{Rect{{0, 160}, {1536, 864}}, Rect{{0, 160}, {1536, 864}}, Rect{{0, 0}, {1920, 1080}}, 1.25},
               PortalScreen{Rect{{1920, 0}, {1280, 1024}}, Rect{{1920, 0}, {1280, 1024}}, Rect{{1920, 0}, {1280, 1024}}, 1}};
    EXPECT_EQ(panel->fromRoot({335, 936}), (Point{268, 1024 - 748.8}));
    EXPECT_EQ(panel->fromRoot({2000, 100}), (Point{2000, 924}));
    EXPECT_EQ(panel->fromRoot({-50, 0}), (Point{-40, 1024}));
}

TEST_F(PortalPanelTest, TrackMeasuresFromTheCentre) {
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    panel->track({960 + 150, 540}, PortalMode::convert);
    EXPECT_EQ(model->cursorVector(), (PortalPlacement::CursorVector{150, 0}));
    EXPECT_EQ(model->selectedIndex(), 1);
    panel->track({960, 540 + 150}, PortalMode::tools);
    EXPECT_EQ(model->mode(), PortalMode::tools);
    EXPECT_EQ(model->selectedIndex(), 0);
}

TEST_F(PortalPanelTest, DismissHidesThenOrdersOutThenClears) {
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    scheduler->advance(0.05);
    nudges.clear();
    panel->dismiss(false);
    EXPECT_TRUE(model->isRevealed());  // the next turn
    scheduler->advance(0);
    EXPECT_FALSE(model->isRevealed());
    // The drag goes on: while the Portal fades, input passes through it and the source is made
    // to look again for the window under the pointer.
    EXPECT_TRUE(panel->windowHandle()->flags() & Qt::WindowTransparentForInput);
    scheduler->advance(0.03);
    EXPECT_EQ(nudges, (std::vector<std::pair<int, int>>{{1, 0}, {-1, 0}}));
    scheduler->advance(0.119);
    EXPECT_TRUE(panel->isVisible());
    scheduler->advance(0.002);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_TRUE(model->payload());
    scheduler->advance(0.3);
    EXPECT_FALSE(model->payload());
}

TEST_F(PortalPanelTest, DropWithinTheGraceKeepsThePortal) {
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    panel->track({960 + 150, 540}, PortalMode::convert);
    panel->dismiss(true);
    scheduler->advance(0.1);
    ASSERT_TRUE(model->commit());
    scheduler->advance(0.5);
    EXPECT_TRUE(model->isRevealed());
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(model->phase().is(Kind::converting));
    panel->dismiss(false);  // ignored while converting
    scheduler->advance(0.5);
    EXPECT_TRUE(model->isRevealed());
}

// The drop of a drag let go over a chip with the trigger held is owed to the Portal: it waits
// for it past the grace and takes it however late it comes. A drop on a Portal that hid (the
// trigger let go) is refused.
TEST_F(PortalPanelTest, TakesALateOwedDropAndRefusesOneOnAHiddenPortal) {
    LogCapture log;
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    panel->track({960 + 150, 540}, PortalMode::convert);
    model->setCursorInside(true);
    panel->dismiss(true);
    scheduler->advance(1.0);
    EXPECT_TRUE(model->isRevealed()) << "the Portal went while its drop was owed";
    EXPECT_TRUE(log.contains("interaction", "The drop is late; still waiting for it"));
    EXPECT_TRUE(panel->takesDrop());
    ASSERT_TRUE(model->commit());
    EXPECT_TRUE(model->phase().is(Kind::converting));

    // A Portal that hid because the trigger was let go takes no drop.
    model->resetToBrowsing();
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    EXPECT_TRUE(panel->takesDrop());
    panel->dismiss(false);
    scheduler->advance(0.01);
    EXPECT_FALSE(panel->takesDrop());
    EXPECT_TRUE(log.contains("interaction", "DROP on a hidden Portal refused"));

    // An owed drop that never comes: the Portal closes after a while and says so.
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    model->setCursorInside(true);
    panel->dismiss(true);
    scheduler->advance(PortalPanel::kDropWait + 0.2);
    EXPECT_FALSE(model->isRevealed());
}

TEST_F(PortalPanelTest, RevealSoonAfterDismissKeepsWindowAndGesture) {
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    panel->dismiss(false);
    scheduler->advance(0.05);
    panel->reveal(DragPayload({"/tmp/b.png"}), PortalMode::convert, {960, 540});
    EXPECT_FALSE(panel->windowHandle()->flags() & Qt::WindowTransparentForInput);
    scheduler->advance(1);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(model->isRevealed());
    EXPECT_EQ(model->payload()->urls.front(), "/tmp/b.png");
}

TEST_F(PortalPanelTest, FinishOrdersOutAndForgetsTheFiles) {
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    panel->finish();
    EXPECT_FALSE(model->isRevealed());
    scheduler->advance(0.16);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(model->payload());
}

TEST_F(PortalPanelTest, CollapseShrinksIntoTheTrayIcon) {
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    const Rect start = panel->frame();
    // The tray reports its icon y down: 58 px from the top of a 1080 px desktop.
    EXPECT_EQ(panel->upwardRect(QRect(1000, 58, 30, 22)), (Rect{{1000, 1000}, {30, 22}}));
    panel->collapse(panel->upwardRect(QRect(1000, 58, 30, 22)));
    scheduler->advance(0.3);
    const Rect mid = panel->frame();
    EXPECT_LT(mid.size.width, start.size.width);
    EXPECT_GT(mid.size.width, 48);
    EXPECT_TRUE(panel->isVisible());
    scheduler->advance(0.26);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(panel->frame(), (Rect{panel->anchor(), {480, 480}}));
}

TEST_F(PortalPanelTest, CollapseWithoutRectangleOnlyHidesWhenStillCollapsed) {
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    panel->collapse(std::nullopt);
    scheduler->advance(0.3);
    EXPECT_TRUE(panel->isVisible());  // the model is not collapsed

    panel->track({960 + 150, 540}, PortalMode::convert);
    model->commit();
    scheduler->advance(7.1);  // the model collapses on its own timer
    ASSERT_TRUE(model->isCollapsed());
    reduce = true;
    panel->collapse(Rect{{1000, 1000}, {30, 22}});
    scheduler->advance(0.19);
    EXPECT_TRUE(panel->isVisible());
    scheduler->advance(0.02);
    EXPECT_FALSE(panel->isVisible());
}

TEST_F(PortalPanelTest, PresentCentresOnTheMainScreenWithFocus) {
    panel->present(DragPayload({"/tmp/a.png"}), PortalMode::convert);
    EXPECT_TRUE(panel->isKeyboardDriven());
    EXPECT_TRUE(model->isKeyboardDriven());
    EXPECT_EQ(panel->anchor(), (Point{720, 320}));
    EXPECT_EQ(model->selectedIndex(), 0);
    EXPECT_FALSE(panel->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(nudges.empty());
    // A drag reveal afterwards takes the focus-less flags back.
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    EXPECT_TRUE(panel->windowFlags() & Qt::WindowDoesNotAcceptFocus);
}

// The keyboard Portal after the user clicked another window: a click on the Portal takes the
// keyboard back, and until then Escape pressed anywhere closes it while it waits for a choice.
TEST_F(PortalPanelTest, TheKeyboardPortalTakesTheKeyboardBackOrClosesOnEscapeAnywhere) {
    QWidget elsewhere;
    elsewhere.resize(200, 100);
    auto focusOn = [](QWidget& w) {
        w.show();
        w.activateWindow();
        return QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == w.windowHandle(); }, 2000);
    };
    panel->present(DragPayload({"/tmp/a.png"}), PortalMode::convert);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == panel->windowHandle(); }, 2000));
    panel->escapePressedAnywhere();  // its own key handling has it
    EXPECT_TRUE(model->isRevealed());

    ASSERT_TRUE(focusOn(elsewhere));
    QTest::mousePress(panel->windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(240, 240));
    QTest::mouseRelease(panel->windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(240, 240));
    EXPECT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == panel->windowHandle(); }, 2000))
        << "a click on the Portal gives it the keyboard";
    EXPECT_EQ(QApplication::focusWidget(), panel->dropView());

    ASSERT_TRUE(focusOn(elsewhere));
    QKeyEvent typed(QEvent::KeyPress, Qt::Key_P, Qt::NoModifier, QStringLiteral("P"));
    QCoreApplication::sendEvent(panel->dropView(), &typed);  // a search under way ends with the Portal
    EXPECT_TRUE(model->isShowingFormatList());
    panel->escapePressedAnywhere();
    EXPECT_FALSE(model->isRevealed());
    EXPECT_FALSE(model->isShowingFormatList());

    // A drag's Portal, and a keyboard Portal busy converting, are not Escape's to close.
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    panel->escapePressedAnywhere();
    EXPECT_TRUE(model->isRevealed());
    panel->present(DragPayload({"/tmp/a.png"}), PortalMode::convert);
    model->commit();
    ASSERT_TRUE(focusOn(elsewhere));
    panel->escapePressedAnywhere();
    EXPECT_TRUE(model->phase().is(Kind::converting));
}

TEST_F(PortalPanelTest, ScreenChangeAwayFromThePortalDismissesIt) {
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    panel->handleScreenChange();
    EXPECT_TRUE(panel->isVisible());
    LogCapture log;
    screens = {{Rect{{2000, 0}, {1000, 800}}, Rect{{2000, 0}, {1000, 800}}}};
    panel->handleScreenChange();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(model->isRevealed());
    EXPECT_TRUE(log.contains("interaction", "Portal anchor left the display layout; dismissing"));
}

// --- Drop view ---

class DropViewTest : public PortalPanelTest {
protected:
    bool drop(Qt::DropActions offered) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.png"))});
        QDragEnterEvent enter(QPoint(240, 240), offered, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(panel->dropView(), &enter);
        QDropEvent event(QPointF(240, 240), offered, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(panel->dropView(), &event);
        EXPECT_TRUE(event.isAccepted() == false || event.dropAction() == Qt::CopyAction);
        return event.isAccepted();
    }
    void key(int code, const QString& text = {}) {
        QKeyEvent event(QEvent::KeyPress, code, Qt::NoModifier, text);
        QCoreApplication::sendEvent(panel->dropView(), &event);
    }
};

TEST_F(DropViewTest, EntryIsAlwaysAcceptedAsCopyWhenOffered) {
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    LogCapture log;
    QMimeData data;
    for (Qt::DropActions offered : {Qt::DropActions(Qt::CopyAction | Qt::MoveAction), Qt::DropActions(Qt::MoveAction)}) {
        QDragEnterEvent enter(QPoint(240, 240), offered, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(panel->dropView(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        if (offered & Qt::CopyAction) {
            EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
        }
    }
    EXPECT_TRUE(model->isCursorInside());
    EXPECT_TRUE(log.contains("interaction", "DROP-ENTER selection=none"));
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(panel->dropView(), &leave);
    EXPECT_FALSE(model->isCursorInside());
}

TEST_F(DropViewTest, DropCommitsAndIsTakenOnlyAsCopy) {
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    EXPECT_FALSE(drop(Qt::CopyAction));  // nothing selected: refused, nothing started
    EXPECT_EQ(model->activeCount(), 0);
    panel->track({960 + 150, 540}, PortalMode::convert);
    LogCapture log;
    EXPECT_TRUE(drop(Qt::CopyAction | Qt::MoveAction));
    EXPECT_TRUE(log.contains("interaction", "DROP target=JPEG committed=true"));
    EXPECT_EQ(model->activeCount(), 1);
    EXPECT_FALSE(drop(Qt::CopyAction)) << "a second drop while converting starts nothing";
    EXPECT_EQ(model->activeCount(), 1);
    // A source that offers only a move: converted, but the drop is reported as not taken.
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    panel->track({960 + 150, 540}, PortalMode::convert);
    EXPECT_FALSE(drop(Qt::MoveAction));
    EXPECT_EQ(model->activeCount(), 2);
    // A Portal that has gone takes no drop: it belongs to the window under the pointer.
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    panel->track({960 + 150, 540}, PortalMode::convert);
    panel->dismiss(false);
    scheduler->advance(0.01);
    ASSERT_FALSE(model->isRevealed());
    EXPECT_FALSE(drop(Qt::CopyAction));
    EXPECT_EQ(model->activeCount(), 2);
}

// The last poll can trail a quick hand: the drop takes the chip the pointer is on when it
// lands, wherever the Portal was pushed to on screen, and a keyboard Portal keeps its own.
TEST_F(DropViewTest, DropTakesTheChipUnderThePointerAtTheDrop) {
    struct Case {
        const char* name;
        Point revealAt;  // y upwards, as the observer hands it over
    };
    for (const Case c : {Case{"centre", {960, 540}}, Case{"top edge", {960, 1070}}, Case{"corner", {10, 50}}}) {
        SCOPED_TRACE(c.name);
        panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, c.revealAt);
        const Point centre{panel->anchor().x + 240, panel->anchor().y + 240};
        panel->track({centre.x + 150, centre.y}, PortalMode::convert);  // the poll saw the right-hand chip
        const auto polled = model->selectedIndex();
        ASSERT_TRUE(polled);
        pointer = Point{centre.x, rootHeight - (centre.y + 150)};  // the hand is on the top chip
        LogCapture log;
        EXPECT_TRUE(drop(Qt::CopyAction));
        ASSERT_TRUE(model->selectedIndex());
        EXPECT_NE(*model->selectedIndex(), *polled);
        const std::string label = model->targets().at(static_cast<size_t>(*model->selectedIndex())).label;
        EXPECT_TRUE(log.contains("interaction", "DROP target=" + label + " committed=true"));
        pointer.reset();
    }
    panel->present(DragPayload({"/tmp/a.png"}), PortalMode::convert);
    key(Qt::Key_Right);
    const auto chosen = model->selectedIndex();
    pointer = Point{0, 0};
    EXPECT_TRUE(drop(Qt::CopyAction));
    EXPECT_EQ(model->selectedIndex(), chosen);
}

TEST_F(DropViewTest, PendingPayloadIsCompletedFromTheDrop) {
    panel->reveal(DragPayload::pendingFiles(), PortalMode::convert, {960, 540});
    EXPECT_TRUE(model->targets().empty());
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/dropped.png"))});
    QDragEnterEvent enter(QPoint(240, 240), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(panel->dropView(), &enter);
    ASSERT_TRUE(model->payload());
    EXPECT_FALSE(model->payload()->pending);
    EXPECT_EQ(model->payload()->urls, std::vector<std::filesystem::path>{"/tmp/dropped.png"});
    EXPECT_EQ(model->targets().size(), 4u);
}

TEST_F(DropViewTest, KeysDriveTheKeyboardPath) {
    panel->present(DragPayload({"/tmp/a.png"}), PortalMode::convert);
    key(Qt::Key_Right);
    EXPECT_EQ(model->selectedIndex(), 1);
    key(Qt::Key_Up);
    EXPECT_EQ(model->selectedIndex(), 0);
    key(Qt::Key_Tab);
    EXPECT_EQ(model->mode(), PortalMode::tools);
    key(Qt::Key_A, QStringLiteral("a"));
    EXPECT_TRUE(model->isShowingFormatList());
    EXPECT_EQ(model->formatQuery(), "a");
    key(Qt::Key_Escape);
    EXPECT_FALSE(model->isShowingFormatList());
    QKeyEvent hyphen(QEvent::KeyPress, Qt::Key_Minus, Qt::NoModifier, QStringLiteral("-"));
    QCoreApplication::sendEvent(panel->dropView(), &hyphen);
    EXPECT_FALSE(model->isShowingFormatList());
    EXPECT_FALSE(hyphen.isAccepted());  // passed on
    key(Qt::Key_P, QStringLiteral("P"));
    ASSERT_TRUE(model->isShowingFormatList());
    key(Qt::Key_Return);  // "Strip" is the first tool row with a p
    EXPECT_FALSE(model->isShowingFormatList());
    EXPECT_TRUE(model->phase().is(Kind::converting));
}

// --- Controller ---

class NoInput final : public DragInputSource {
public:
    bool open(std::function<void(Wake)>) override { return false; }
    void close() override {}
    std::optional<Drag> currentDrag() override { return std::nullopt; }
    bool lastDragCancelled() const override { return false; }
    Sample sample() override { return {}; }
};

class PortalControllerTest : public PortalPanelTest {
protected:
    void SetUp() override {
        PortalPanelTest::SetUp();
        panel.reset();
        controller = std::make_unique<PortalController>(TriggerModifier::shift, std::make_unique<NoInput>(), provider,
                                                        service, modelEnvironment(), panelEnvironment(), &defaults);
    }
    void TearDown() override { controller.reset(); }

    InMemoryUserDefaults defaults;
    std::unique_ptr<PortalController> controller;
};

TEST_F(PortalControllerTest, SignalsReachWindowAndModel) {
    auto& c = *controller;
    c.start();
    EXPECT_FALSE(c.panel().isVisible());
    c.observer().onSignal(DragObserver::Reveal{DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540}});
    EXPECT_TRUE(c.panel().isVisible());
    EXPECT_TRUE(c.model().isRevealed());
    c.observer().onSignal(DragObserver::Track{{960 + 150, 540}, PortalMode::convert});
    EXPECT_EQ(c.model().selectedIndex(), 1);
    c.observer().onSignal(DragObserver::Dismiss{false});
    scheduler->advance(0.5);
    EXPECT_FALSE(c.panel().isVisible());
    QCoreApplication::processEvents();  // the deferred end of the reveal interval
}

TEST_F(PortalControllerTest, FinishedConversionClosesTheWindow) {
    auto& c = *controller;
    std::vector<std::filesystem::path> outputs;
    c.setOnCompleted([&](const RunReport& report) { outputs = report.outputs; });
    c.present({"/tmp/a.png"}, PortalMode::convert);
    c.model().commit();
    EXPECT_EQ(c.activeConversionCount(), 1);
    scheduler->runBackground();
    scheduler->advance(3);
    EXPECT_EQ(outputs.size(), 1u);
    EXPECT_FALSE(c.panel().isVisible());
    EXPECT_TRUE(c.model().phase().is(Kind::browsing));
}

TEST_F(PortalControllerTest, CollapseAsksForTheTrayRectangle) {
    auto& c = *controller;
    int asked = 0;
    c.collapseTarget = [&]() -> std::optional<Rect> {
        ++asked;
        return std::nullopt;
    };
    c.present({"/tmp/a.png"}, PortalMode::convert);
    c.model().commit();
    scheduler->advance(7.1);
    EXPECT_EQ(asked, 1);
    scheduler->advance(0.21);
    EXPECT_FALSE(c.panel().isVisible());  // no rectangle: it only hides
    c.setPortalVisible(true);              // converting: shown again
    EXPECT_TRUE(c.panel().isVisible());
}

TEST_F(PortalControllerTest, PresentNeedsFilesAndAHiddenPortalStaysHidden) {
    auto& c = *controller;
    c.setPortalVisible(true);
    EXPECT_FALSE(c.panel().isVisible());
    c.present({}, PortalMode::convert);
    EXPECT_FALSE(c.panel().isVisible()) << "nothing to present without files";
    c.present({"/tmp/a.png"}, PortalMode::convert);
    EXPECT_TRUE(c.panel().isVisible());
    EXPECT_TRUE(c.panel().isKeyboardDriven());
    c.setPortalVisible(false);
    EXPECT_FALSE(c.panel().isVisible());
    c.setPortalVisible(true);
    EXPECT_TRUE(c.panel().isVisible());
    c.stop();
    EXPECT_FALSE(c.panel().isVisible());
}

}  // namespace
}  // namespace kolvex::testing
