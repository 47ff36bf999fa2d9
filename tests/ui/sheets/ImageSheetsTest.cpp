// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <atomic>
#include <latch>

#include <QCheckBox>
#include <QSlider>
#include <QTest>

#include "core/conversion/SizeEstimator.h"
#include "support/qt/QtEnvironments.h"
#include "ui/sheets/CompressView.h"
#include "ui/sheets/CropView.h"
#include "ui/sheets/ResizeView.h"
#include "ui/sheets/RotateView.h"
#include "ui/sheets/SheetKit.h"

namespace kolvex {
namespace {

bool waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, 5000);
}

QImage picture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return image;
}

// Shown and active, as the parameter window is, so the sheet's keys reach it.
void showActive(QWidget& w) {
    w.show();
    w.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
}

class ImageSheetsTest : public ::testing::Test {
protected:
    void SetUp() override { testing::sharedApplication("test-ui-sheets"); }
};

TEST_F(ImageSheetsTest, CompressShowsTheMeasuredSizeAndSavings) {
    std::atomic<int> calls{0};
    CompressView view("photo.jpg", 1000, true,
                      [&](double, std::stop_token) -> std::optional<int64_t> {
                          ++calls;
                          return 500;
                      },
                      std::nullopt, nullptr, nullptr);
    view.setDebounce(20);
    EXPECT_EQ(view.afterText(), "\u2014");
    EXPECT_EQ(view.confirmButton()->text(), "Compress");
    EXPECT_TRUE(sheetkit::isTinted(view.presetButtons()[1]));
    view.show();
    ASSERT_TRUE(waitFor([&] { return view.estimate().has_value(); }));
    EXPECT_EQ(view.afterText(), QString::fromStdString(SizeEstimator::format(500)));
    EXPECT_EQ(view.savingsText(), "50% smaller");
    EXPECT_FALSE(view.measuring());

    // Quick slider moves measure once, after the last one.
    const int before = calls;
    for (double q : {0.5, 0.45, 0.4, 0.35}) view.setQuality(q);
    ASSERT_TRUE(waitFor([&] { return calls == before + 1 && !view.measuring(); }));
    QTest::qWait(60);
    EXPECT_EQ(calls, before + 1);
    view.choosePreset(2);
    EXPECT_DOUBLE_EQ(view.quality(), 0.85);
    EXPECT_TRUE(sheetkit::isTinted(view.presetButtons()[2]));
}

TEST_F(ImageSheetsTest, CompressDropsResultsForAnOlderQuality) {
    std::latch release(1);
    std::atomic<bool> firstAsked{false};
    CompressView view("photo.jpg", 1000, false,
                      [&](double q, std::stop_token) -> std::optional<int64_t> {
                          if (q == 0.6) {
                              firstAsked = true;
                              release.wait();
                              return 100;
                          }
                          return 1000;
                      },
                      std::nullopt, nullptr, nullptr);
    view.setDebounce(0);
    view.show();
    ASSERT_TRUE(waitFor([&] { return firstAsked.load(); }));
    EXPECT_EQ(view.afterText(), "measuring\u2026");
    view.setQuality(0.3);
    release.count_down();
    ASSERT_TRUE(waitFor([&] { return view.estimate().has_value(); }));
    EXPECT_EQ(*view.estimate(), 1000);
    EXPECT_EQ(view.savingsText(), "0% larger");
}

TEST_F(ImageSheetsTest, CompressNoFigureAndBatchTitles) {
    std::optional<std::pair<double, BatchChoice>> applied;
    CompressView view("a.png", 0, false, [](double, std::stop_token) { return std::optional<int64_t>{}; },
                      BatchPrompt{3, std::nullopt, true, "Compress"},
                      [&](double q, BatchChoice c) { applied = {q, c}; }, nullptr);
    view.setDebounce(0);
    showActive(view);
    ASSERT_TRUE(waitFor([&] { return !view.measuring(); }));
    EXPECT_EQ(view.afterText(), "\u2014");
    EXPECT_EQ(view.savingsText(), "");
    EXPECT_EQ(view.confirmButton()->text(), "Compress 3 files");
    ASSERT_NE(view.batchOptions(), nullptr);
    ASSERT_NE(view.batchOptions()->individuallyBox(), nullptr);
    EXPECT_EQ(view.batchOptions()->startsImmediatelyBox(), nullptr);
    view.batchOptions()->individuallyBox()->setChecked(true);
    EXPECT_EQ(view.confirmButton()->text(), "Next");
    QTest::keyClick(&view, Qt::Key_Return);
    ASSERT_TRUE(applied.has_value());
    EXPECT_DOUBLE_EQ(applied->first, 0.6);
    EXPECT_TRUE(applied->second.setEachIndividually);

    CompressView single("a.png", 10, false, nullptr, BatchPrompt{1, std::nullopt, true, "Compress"}, nullptr, nullptr);
    EXPECT_EQ(single.batchOptions(), nullptr);
    EXPECT_EQ(single.confirmButton()->text(), "Compress");
}

TEST_F(ImageSheetsTest, ResizeTitlesHintsAndApply) {
    std::optional<int64_t> applied;
    bool cancelled = false;
    ResizeView view(QSizeF(1280, 720), picture(128, 72), false, 0, false, nullptr, std::nullopt,
                    [&](int64_t side, BatchChoice) { applied = side; }, [&] { cancelled = true; });
    showActive(view);
    EXPECT_EQ(view.resultText(), "640 \u00D7 360");
    EXPECT_EQ(view.sizeText(), "");
    EXPECT_FALSE(view.measuring());
    view.setMode(ResizeModel::Mode::longestSide);
    EXPECT_FALSE(view.confirmButton()->isEnabled());
    // Sizes up to the original's only: no preset, slider position or typed side enlarges it.
    ASSERT_EQ(view.sidePresetButtons().size(), 2u);
    EXPECT_EQ(view.sidePresetButtons()[1]->text(), "1280");
    EXPECT_TRUE(sheetkit::isTinted(view.sidePresetButtons()[1]));
    view.setLongestSide(4096);
    EXPECT_EQ(view.resultText(), "1280 \u00D7 720");
    EXPECT_FALSE(view.confirmButton()->isEnabled());
    EXPECT_EQ(view.hintText(), "Aspect ratio is preserved.");
    view.sidePresetButtons()[0]->click();
    EXPECT_EQ(view.resultText(), "640 \u00D7 360");
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(applied, 640);
    QTest::keyClick(&view, Qt::Key_Escape);
    EXPECT_TRUE(cancelled);
}

// A small picture or clip offers nothing above its own size, whatever the kind's presets say.
TEST_F(ImageSheetsTest, ResizeOffersNoEnlargement) {
    struct Case {
        QSizeF size;
        bool video;
        std::vector<QString> presets;
    };
    for (const auto& [size, video, presets] : std::vector<Case>{{{400, 200}, true, {}},
                                                                {{400, 200}, false, {}},
                                                                {{1280, 720}, true, {"480p", "720p"}},
                                                                {{2000, 3000}, false, {"640", "1280", "1920", "2560"}},
                                                                {{40, 30}, false, {}}}) {
        SCOPED_TRACE(QString("%1x%2 %3").arg(size.width()).arg(size.height()).arg(video).toStdString());
        ResizeView view(size, std::nullopt, video, 0, false, nullptr, std::nullopt, nullptr, nullptr);
        std::vector<QString> offered;
        for (auto* button : view.sidePresetButtons()) offered.push_back(button->text());
        EXPECT_EQ(offered, presets);
        view.setMode(ResizeModel::Mode::longestSide);
        view.setLongestSide(6000);
        const int64_t longest = static_cast<int64_t>(std::max(size.width(), size.height()));
        EXPECT_EQ(view.model().resolvedLongestSide(), longest);
        EXPECT_FALSE(view.confirmButton()->isEnabled()) << "the original's own size changes nothing";
        view.setLongestSide(1);
        EXPECT_EQ(view.model().resolvedLongestSide(), std::min<int64_t>(64, longest));
        view.setMode(ResizeModel::Mode::percentage);
        view.setPercentage(400);
        EXPECT_EQ(view.model().resolvedLongestSide(), longest);
    }
}

TEST_F(ImageSheetsTest, ResizeEstimatesFollowTheResolvedSide) {
    std::atomic<int> calls{0};
    ResizeView view(QSizeF(4000, 3000), std::nullopt, false, 4000000, false,
                    [&](int64_t side, std::stop_token) -> std::optional<int64_t> {
                        ++calls;
                        return side * 1000;
                    },
                    BatchPrompt{2, "File 1 of 2", false, "Next"}, nullptr, nullptr);
    view.setDebounce(0);
    view.show();
    ASSERT_TRUE(waitFor([&] { return view.estimate().has_value(); }));
    EXPECT_EQ(view.sizeText(), "~" + QString::fromStdString(SizeEstimator::format(2000000)));
    EXPECT_EQ(view.savingsText(), "50% smaller");
    EXPECT_EQ(view.confirmButton()->text(), "Next");
    ASSERT_NE(view.batchOptions()->startsImmediatelyBox(), nullptr);
    const int before = calls;
    view.setPercentage(50.01);  // still 2000 px: no new measurement
    QTest::qWait(30);
    EXPECT_EQ(calls, before);
}

TEST_F(ImageSheetsTest, CropDragsWithTheMouseAndAppliesBottomLeftRect) {
    std::optional<UnitRect> applied;
    CropView view(picture(1600, 900), BatchPrompt{3, "File 1 of 3", false, "Next"},
                  [&](UnitRect r, BatchChoice) { applied = r; }, nullptr);
    view.show();
    EXPECT_EQ(view.confirmButton()->text(), "Next");
    EXPECT_EQ(view.dimensionsText(), "1280 \u00D7 720");
    auto* canvas = view.canvas();
    const auto fit = canvas->fitRect();
    const auto s = view.model().selectionRect(fit);
    const QPoint centre(static_cast<int>(s.x + s.width / 2), static_cast<int>(s.y + s.height / 2));
    EXPECT_EQ(canvas->handleAt(centre), CropModel::Handle::move);
    EXPECT_EQ(canvas->handleAt(QPointF(s.x, s.y)), CropModel::Handle::topLeft);
    QTest::mousePress(canvas, Qt::LeftButton, {}, centre);
    QTest::mouseMove(canvas, centre + QPoint(-1000, -1000));
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, centre + QPoint(-1000, -1000));
    EXPECT_NEAR(view.model().selection.x, 0, 1e-9);
    EXPECT_NEAR(view.model().selection.y, 0, 1e-9);
    EXPECT_NEAR(view.model().selection.width, 0.8, 1e-9);
    view.reset();
    view.aspectButtons()[1]->click();
    EXPECT_EQ(view.dimensionsText(), "810 \u00D7 810");
    view.confirmButton()->click();
    ASSERT_TRUE(applied.has_value());
    EXPECT_NEAR(applied->x, 0.1, 1e-9);
    EXPECT_NEAR(applied->y, 0.0, 1e-9);
    EXPECT_NEAR(applied->width, 0.50625, 1e-9);
    EXPECT_NEAR(applied->height, 0.9, 1e-9);
}

TEST_F(ImageSheetsTest, RotateAndFlip) {
    std::optional<std::tuple<double, bool, bool>> applied;
    RotateView flip(picture(400, 200), true, [&](double a, bool h, bool v) { applied = {a, h, v}; }, nullptr);
    showActive(flip);
    EXPECT_TRUE(flip.flipHorizontalBox()->isChecked());
    EXPECT_TRUE(sheetkit::isTinted(flip.quarterButtons()[0]));
    EXPECT_TRUE(flip.applyButton()->isEnabled());
    flip.flipHorizontalBox()->setChecked(false);
    EXPECT_FALSE(flip.applyButton()->isEnabled());
    QTest::keyClick(&flip, Qt::Key_Return);
    EXPECT_FALSE(applied.has_value());

    RotateView rotate(picture(400, 200), false, [&](double a, bool h, bool v) { applied = {a, h, v}; }, nullptr);
    rotate.show();
    EXPECT_TRUE(sheetkit::isTinted(rotate.quarterButtons()[1]));
    EXPECT_FALSE(rotate.showsNote());
    rotate.slider()->setValue(rotate.slider()->maximum());
    EXPECT_DOUBLE_EQ(rotate.model().angle, 359.9);
    rotate.setSliderPosition(37.48);
    EXPECT_TRUE(rotate.showsNote());
    EXPECT_FALSE(sheetkit::isTinted(rotate.quarterButtons()[0]));
    rotate.applyButton()->click();
    ASSERT_TRUE(applied.has_value());
    EXPECT_DOUBLE_EQ(std::get<0>(*applied), 37.48);
    rotate.turnLeftButton()->click();
    rotate.model().angle = 45;
    rotate.refresh();
    EXPECT_EQ(rotate.resultText(), "400 \u00D7 200  \u2192  424 \u00D7 424");
}

}  // namespace
}  // namespace kolvex
