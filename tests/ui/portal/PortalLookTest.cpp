// SPDX-License-Identifier: GPL-3.0-or-later
// The Portal keeps its look while it paints less: each frame the view puts on screen from its
// cached layers matches the same frame drawn shape by shape, in every phase and theme, and
// while nothing but the aperture's ring turns only the ring is drawn again.

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include <QPaintEvent>
#include <QPainter>
#include <QTest>

#include "PortalModelTestSupport.h"
#include "ui/portal/PortalStyle.h"
#include "ui/portal/PortalView.h"

namespace kolvex::testing {
namespace {

using Kind = PortalPhase::Kind;

struct Difference {
    int worst = 0;           // the largest difference of one channel
    double mean = 0;         // per channel, over every pixel
    double overFour = 0;     // the share of pixels with a channel more than 4 apart
};

Difference compare(const QImage& a, const QImage& b) {
    Difference d;
    long long sum = 0, over = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* la = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* lb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const int diff = std::max({std::abs(qRed(la[x]) - qRed(lb[x])), std::abs(qGreen(la[x]) - qGreen(lb[x])),
                                       std::abs(qBlue(la[x]) - qBlue(lb[x])), std::abs(qAlpha(la[x]) - qAlpha(lb[x]))});
            d.worst = std::max(d.worst, diff);
            sum += diff;
            if (diff > 4) ++over;
        }
    }
    const double pixels = static_cast<double>(a.width()) * a.height();
    d.mean = static_cast<double>(sum) / pixels;
    d.overFour = static_cast<double>(over) / pixels;
    return d;
}

class PortalLookTest : public PortalModelTest {
protected:
    void SetUp() override {
        PortalModelTest::SetUp();
        view = std::make_unique<PortalView>(*model, nullptr, clock, [this] { return reduce; });
        view->resize(480, 480);
    }
    void TearDown() override {
        view.reset();
        PortalStyle::setTheme(PortalStyle::Theme::dark);
    }
    QImage blank() {
        QImage image(480, 480, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        return image;
    }
    // The frame as the view puts it on screen (through its layers).
    QImage shown() {
        QImage image = blank();
        view->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
        return image;
    }
    QImage direct() {
        QImage image = blank();
        QPainter p(&image);
        view->paintDirectly(p);
        return image;
    }
    // Both ways at the same moment.
    Difference frame() {
        const QImage a = shown();
        const QImage b = direct();
        return compare(a, b);
    }

    std::shared_ptr<ManualAnimationClock> clock = std::make_shared<ManualAnimationClock>();
    std::unique_ptr<PortalView> view;
};

// The Appearance setting can change the Portal's theme without changing the application's
// palette (System on a desktop without a palette of its own, and Light): no event reaches the
// view. Shown again after such a change, every layer is drawn in the new theme, as a fresh
// frame is, both ways.
TEST_F(PortalLookTest, EveryLayerFollowsAThemeChangedWithoutAPaletteEvent) {
    using Theme = PortalStyle::Theme;
    for (const auto& [from, to] : {std::pair{Theme::dark, Theme::light}, std::pair{Theme::light, Theme::dark}}) {
        PortalStyle::setTheme(from);
        browse({"/tmp/a.png"}, 1);
        model->setRevealed(true);
        clock->advance(2);
        shown();
        model->setRevealed(false);
        clock->advance(2);
        shown();
        PortalStyle::setTheme(to);
        model->setRevealed(true);
        clock->advance(2);
        const Difference d = frame();
        const char* what = to == Theme::light ? "dark to light" : "light to dark";
        EXPECT_LE(d.overFour, 0.002) << what << ": worst " << d.worst << ", mean " << d.mean;
        EXPECT_LE(d.worst, 24) << what;
        model->setRevealed(false);
        clock->advance(2);
    }
}

TEST_F(PortalLookTest, CachedLayersShowWhatTheShapesDrawInEveryPhase) {
    struct Step {
        std::string what;
        std::function<void()> act;
        bool steady = true;  // not scaled or faded: drawn pixel for pixel
    };
    const std::vector<Step> steps{
        {"a chip chosen", [&] { browse({"/tmp/a.png"}, 1); model->setRevealed(true); clock->advance(2); }},
        {"the ring turned further", [&] { clock->advance(0.37); }},
        {"the next chip", [&] { pointAt(2); clock->advance(0.05); }},
        {"nothing chosen, from the keyboard",
         [&] { browse({"/tmp/a.png", "/tmp/b.png"}, std::nullopt); model->setKeyboardDriven(true); clock->advance(2); }},
        {"opening", [&] { model->setRevealed(false); clock->advance(2); model->setRevealed(true); clock->advance(0.06); }, false},
        {"the search list", [&] { clock->advance(2); model->beginFormatSearch("p"); clock->advance(0.3); }},
        {"converting", [&] { model->endFormatSearch(); pointAt(0); model->commit(); clock->advance(0.5); }},
        {"a success", [&] { scheduler->runBackground(); scheduler->advance(0.7); clock->advance(0.08); }},
        {"its bubble settled", [&] { clock->advance(2); }},
        {"a failure",
         [&] {
             model->resetToBrowsing();
             service->scriptedResults.push_back(
                 {failure("/tmp/a.png", ConversionError::backendFailure("image", -1, "a reason at length"))});
             browse({"/tmp/a.png"}, 0);
             model->commit();
             scheduler->runBackground();
             scheduler->advance(0.7);
             clock->advance(2);
         }},
        {"without a compositor", [&] { view->setOpaque(true); clock->advance(0.1); }},
        {"the light theme",
         [&] {
             PortalStyle::setTheme(PortalStyle::Theme::light);
             QEvent change(QEvent::PaletteChange);
             QCoreApplication::sendEvent(view.get(), &change);
         }},
        {"light and open", [&] { view->setOpaque(false); model->resetToBrowsing(); browse({"/tmp/a.png"}, 3); clock->advance(2); }},
        {"closing", [&] { model->setRevealed(false); clock->advance(0.05); }, false},
    };
    for (const Step& step : steps) {
        step.act();
        const Difference d = frame();
        if (step.steady) {
            EXPECT_LE(d.overFour, 0.002) << step.what << ": worst " << d.worst << ", mean " << d.mean;
            EXPECT_LE(d.worst, 24) << step.what;
        } else {
            // Scaled as one image rather than shape by shape, each layer fading as a whole: the
            // same picture, resampled, a little more see-through where shapes overlap.
            EXPECT_LE(d.mean, 2.5) << step.what << ": worst " << d.worst;
            EXPECT_LE(d.overFour, 0.1) << step.what;
        }
    }
    model->resetToBrowsing();
}

// Paints the view receives, by their rectangles.
class PaintRecorder : public QObject {
public:
    std::vector<QRect> rects;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) rects.push_back(static_cast<QPaintEvent*>(event)->rect());
        return false;
    }
};

TEST_F(PortalLookTest, WhileOnlyTheRingTurnsOnlyTheRingIsDrawnAgain) {
    browse({"/tmp/a.png"}, 1);
    view->show();
    model->setRevealed(true);
    clock->advance(3);  // everything but the endless turn has settled
    ASSERT_TRUE(view->needsFrames());
    QTest::qWait(50);  // the frames asked for before it settled
    PaintRecorder recorder;
    view->installEventFilter(&recorder);
    QTest::qWait(150);
    view->removeEventFilter(&recorder);
    ASSERT_GE(recorder.rects.size(), 2u) << "the ring goes on turning";
    for (const QRect& r : recorder.rects) {
        EXPECT_LE(r.width(), 150) << "a frame drew more than the ring";
        EXPECT_LE(r.height(), 150);
        EXPECT_TRUE(r.contains(QPoint(240, 240 - 66))) << "the ring's top is drawn";
    }
    // Gone: nothing moves and nothing is drawn.
    model->setRevealed(false);
    clock->advance(3);
    QTest::qWait(50);
    EXPECT_FALSE(view->needsFrames());
    recorder.rects.clear();
    view->installEventFilter(&recorder);
    QTest::qWait(100);
    view->removeEventFilter(&recorder);
    EXPECT_TRUE(recorder.rects.empty());
}

TEST(PortalTheme, FollowsTheAppearanceSetting) {
    testApplication();
    QPalette light(QColor(240, 240, 240));
    QPalette dark(QColor(40, 40, 44));
    QPalette standard(QColor(239, 239, 239));
    using A = Preferences::Appearance;
    using T = PortalStyle::Theme;
    EXPECT_EQ(PortalStyle::themeFor(A::light, standard, standard), T::light);
    EXPECT_EQ(PortalStyle::themeFor(A::dark, light, standard), T::dark);
    EXPECT_EQ(PortalStyle::themeFor(A::system, light, standard), T::light) << "a light desktop";
    EXPECT_EQ(PortalStyle::themeFor(A::system, dark, standard), T::dark) << "a dark desktop";
    EXPECT_EQ(PortalStyle::themeFor(A::system, standard, standard), T::dark) << "a desktop that says nothing";
    // Under light the ink is dark on light backdrops, and the other way round.
    PortalStyle::setTheme(T::light);
    EXPECT_LT(PortalStyle::ink(1).lightness(), 80);
    EXPECT_GT(PortalStyle::shade(1).lightness(), 200);
    EXPECT_GT(PortalStyle::material().lightness(), 200);
    PortalStyle::setTheme(T::dark);
    EXPECT_EQ(PortalStyle::ink(1), QColor(Qt::white));
    EXPECT_EQ(PortalStyle::shade(0.5), PortalStyle::black(0.5));
}

}  // namespace
}  // namespace kolvex::testing
