// SPDX-License-Identifier: GPL-3.0-or-later
// The Portal window, headless, on the hand-moved clock.

#include <QKeyEvent>
#include <QTest>
#include <QWindow>

#include "PortalPanelTestSupport.h"
#include "ui/portal/PortalDropView.h"
#include "ui/portal/PortalPanel.h"

namespace kolvex::testing {
namespace {

using Kind = PortalPhase::Kind;

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

// Two heads side by side, one scaled and one not, in either order: a pointer on any head's
// first or last column or row opens the Portal whole on that head, centred on the pointer as
// far as the head allows, never on the neighbour whose frame ends where this one begins.
TEST_F(PortalPanelTest, ThePortalOpensOnTheHeadUnderThePointerAtEverySeam) {
    for (const auto& scales : std::vector<std::vector<double>>{{1, 2}, {2, 1}, {1, 1.5}, {1.5, 1}, {1.25, 2}}) {
        // Heads of 1280 × 1440 pixels each; Qt keeps each one's top-left corner and divides its size.
        screens.clear();
        rootHeight = 0;
        for (std::size_t i = 0; i < scales.size(); ++i)
            rootHeight = std::max(rootHeight, std::round(1440 / scales[i]));
        std::vector<Rect> rootRects;
        for (std::size_t i = 0; i < scales.size(); ++i) {
            const double left = 1280.0 * static_cast<double>(i);
            const Size logical{std::round(1280 / scales[i]), std::round(1440 / scales[i])};
            const Rect frame{{left, rootHeight - logical.height}, logical};
            screens.push_back(PortalScreen{frame, frame, Rect{{left, 0}, {1280, 1440}}, scales[i]});
            rootRects.push_back(Rect{{left, 0}, {1280, 1440}});
        }
        for (std::size_t head = 0; head < scales.size(); ++head) {
            const Rect& r = rootRects[head];
            for (const double x : {r.minX(), r.minX() + 1, r.maxX() - 1}) {
                for (const double y : {0.0, 720.0, 1439.0}) {
                    SCOPED_TRACE(::testing::Message() << "scales " << scales[0] << "|" << scales[1] << ", pointer at "
                                                      << x << "," << y << " on head " << head);
                    LogCapture log;
                    const Point at = panel->fromRoot({x, y});
                    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, at);
                    const Rect& on = screens[head].frame;
                    const Point o = panel->anchor();
                    EXPECT_GE(o.x, on.minX());
                    EXPECT_LE(o.x + 480, on.maxX());
                    EXPECT_GE(o.y, on.minY());
                    EXPECT_LE(o.y + 480, on.maxY());
                    EXPECT_EQ(model->cursorVector(),
                              (PortalPlacement::CursorVector{at.x - (o.x + 240), at.y - (o.y + 240)}));
                    EXPECT_FALSE(log.contains("interaction", "is not inside any screen frame"));
                }
            }
        }
    }
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

}  // namespace
}  // namespace kolvex::testing
