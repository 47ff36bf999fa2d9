// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "ui/sheets/ImageSheetModels.h"

namespace kolvex {
namespace {

constexpr double kTolerance = 1e-9;

void expectRect(const CropModel::Rect& r, double x, double y, double w, double h) {
    EXPECT_NEAR(r.x, x, kTolerance);
    EXPECT_NEAR(r.y, y, kTolerance);
    EXPECT_NEAR(r.width, w, kTolerance);
    EXPECT_NEAR(r.height, h, kTolerance);
}

TEST(CompressModelTest, PresetTintAndPercent) {
    CompressModel model;
    const auto& balanced = CompressModel::presets()[1];
    EXPECT_TRUE(model.isPresetActive(balanced));
    model.quality = 0.605;
    EXPECT_TRUE(model.isPresetActive(balanced));
    model.quality = 0.62;
    EXPECT_FALSE(model.isPresetActive(balanced));
    model.quality = 0.29;
    EXPECT_EQ(model.qualityText(), "29%");
}

TEST(CompressModelTest, SavingsLine) {
    EXPECT_EQ(CompressModel::savings(500, 1000), (std::pair<std::string, bool>{"50% smaller", true}));
    EXPECT_EQ(CompressModel::savings(1000, 1000), (std::pair<std::string, bool>{"0% larger", false}));
    EXPECT_EQ(CompressModel::savings(1500, 1000), (std::pair<std::string, bool>{"50% larger", false}));
    EXPECT_EQ(CompressModel::savings(std::nullopt, 1000), std::nullopt);
    EXPECT_EQ(CompressModel::savings(10, 0), std::nullopt);
}

TEST(ResizeModelTest, ResolvesPercentageAndLongestSide) {
    ResizeModel model(4000, 3000, false);
    EXPECT_DOUBLE_EQ(model.longestSide, 1920);
    EXPECT_EQ(model.resultLabel(), "2000 \u00D7 1500");
    model.mode = ResizeModel::Mode::longestSide;
    EXPECT_EQ(model.resultLabel(), "1920 \u00D7 1440");
    EXPECT_TRUE(model.canApply());

    ResizeModel video(1001, 501, true);
    EXPECT_EQ(video.resolvedLongestSide(), 501);
    EXPECT_EQ(video.resultLabel(), "500 \u00D7 250");
}

TEST(ResizeModelTest, ApplyOnlyWhenTheSizeChanges) {
    ResizeModel model(1280, 720, false);
    model.mode = ResizeModel::Mode::longestSide;
    EXPECT_FALSE(model.canApply());
    model.longestSide = 1278;
    EXPECT_TRUE(model.canApply());
    model.longestSide = 1282;  // no enlargement: the original's size, which changes nothing
    EXPECT_EQ(model.resolvedLongestSide(), 1280);
    EXPECT_FALSE(model.canApply());
    model.mode = ResizeModel::Mode::percentage;
    model.percentage = 100;
    EXPECT_FALSE(model.canApply());

    ResizeModel tiny(0, 0, false);
    EXPECT_EQ(tiny.resolvedLongestSide(), 1);
    EXPECT_EQ(tiny.resultLabel(), "1 \u00D7 1");
}

TEST(ResizeModelTest, SizeLabel) {
    EXPECT_EQ(ResizeModel::sizeLabel(false, 1000, false, true), std::nullopt);
    EXPECT_EQ(ResizeModel::sizeLabel(true, std::nullopt, true, true), "measuring\u2026");
    EXPECT_EQ(ResizeModel::sizeLabel(true, std::nullopt, false, true), std::nullopt);
    const auto exact = ResizeModel::sizeLabel(true, 2000000, false, true);
    const auto estimated = ResizeModel::sizeLabel(true, 2000000, false, false);
    ASSERT_TRUE(exact && estimated);
    EXPECT_EQ("~" + *exact, *estimated);
}

TEST(CropModelTest, AspectPresetsFitTheSelection) {
    // A square on a wide picture: the crop sheet's test applies it.
    CropModel square(1000, 1000);
    square.setAspect(CropModel::AspectPreset::wide);
    expectRect(square.selection, 0.1, 0.1, 0.8, 0.45);
    EXPECT_EQ(square.dimensionsLabel(), "800 \u00D7 450");

    square.setAspect(CropModel::AspectPreset::free);
    expectRect(square.selection, 0.1, 0.1, 0.8, 0.45);

    square.setAspect(CropModel::AspectPreset::classic);
    square.reset();
    EXPECT_NEAR(square.selection.x, 0.1, kTolerance);
    EXPECT_NEAR(square.selection.y, 0.1, kTolerance);
    EXPECT_NEAR(square.selection.width / square.selection.height, 4.0 / 3.0, kTolerance);
    EXPECT_LE(square.selection.maxY(), 1.0 + kTolerance);

    CropModel initial(300, 200);
    const auto rect = initial.normalisedForCoreGraphics();
    EXPECT_NEAR(rect.y, 0.1, kTolerance);
    EXPECT_NEAR(rect.width, 0.8, kTolerance);
}

TEST(CropModelTest, DragsStopAtEdgesAndKeepTheMinimum) {
    CropModel model(1000, 1000);
    const CropModel::Rect fit{0, 0, 100, 100};
    model.drag(CropModel::Handle::left, 500, 0, fit);
    EXPECT_NEAR(model.selection.minX(), 0.9 - 0.03, kTolerance);
    model.endDrag();

    model.reset();
    model.drag(CropModel::Handle::right, 500, 0, fit);
    EXPECT_NEAR(model.selection.maxX(), 1.0, kTolerance);
    model.endDrag();

    model.reset();
    model.drag(CropModel::Handle::move, -500, 700, fit);
    expectRect(model.selection, 0.0, 0.2, 0.8, 0.8);
    // The result depends only on the total translation: back to the start restores it.
    model.drag(CropModel::Handle::move, 0, 0, fit);
    expectRect(model.selection, 0.1, 0.1, 0.8, 0.8);
    model.endDrag();
    EXPECT_FALSE(model.dragOrigin.has_value());

    model.drag(CropModel::Handle::bottomRight, -20, 13, fit);
    model.drag(CropModel::Handle::bottomRight, 0, 0, fit);
    expectRect(model.selection, 0.1, 0.1, 0.8, 0.8);
}

TEST(CropModelTest, LockedDragsLeadWithTheRightSide) {
    CropModel model(1000, 1000);
    model.setAspect(CropModel::AspectPreset::wide);  // (0.1, 0.1, 0.8, 0.45)
    const CropModel::Rect fit{0, 0, 100, 100};
    model.drag(CropModel::Handle::top, 0, -5, fit);
    EXPECT_NEAR(model.selection.minX(), 0.1, kTolerance);
    EXPECT_NEAR(model.selection.height, 0.5, kTolerance);
    EXPECT_NEAR(model.selection.width, 0.5 * 16 / 9, kTolerance);
    model.endDrag();

    model.reset();
    const auto before = model.selection;
    model.drag(CropModel::Handle::topLeft, 10, 0, fit);
    EXPECT_NEAR(model.selection.maxX(), before.maxX(), kTolerance);
    EXPECT_NEAR(model.selection.maxY(), before.maxY(), kTolerance);
    EXPECT_NEAR(model.selection.width / model.selection.height, 16.0 / 9.0, kTolerance);
}

TEST(CropModelTest, FitCentresThePicture) {
    CropModel model(1600, 900);
    const auto f = model.fit(400, 400);
    EXPECT_NEAR(f.width, 400, kTolerance);
    EXPECT_NEAR(f.height, 225, kTolerance);
    EXPECT_NEAR(f.y, 87.5, kTolerance);
    const auto tall = CropModel(100, 400).fit(400, 200);
    EXPECT_NEAR(tall.height, 200, kTolerance);
    EXPECT_NEAR(tall.x, 175, kTolerance);
    model.selection = {0, 0, 0.005, 0.5};
    EXPECT_FALSE(model.canApply());
}

TEST(RotateModelTest, InitialStateForRotateAndFlip) {
    RotateModel rotate(400, 200, false);
    EXPECT_DOUBLE_EQ(rotate.angle, 90);
    EXPECT_FALSE(rotate.isNoOp());
    EXPECT_FALSE(rotate.showsResampleNote());
    EXPECT_EQ(rotate.resultLabel(), "400 \u00D7 200  \u2192  200 \u00D7 400");

    RotateModel flip(400, 200, true);
    EXPECT_DOUBLE_EQ(flip.angle, 0);
    EXPECT_TRUE(flip.flipHorizontal);
    EXPECT_FALSE(flip.isNoOp());
    flip.flipHorizontal = false;
    EXPECT_TRUE(flip.isNoOp());
}

TEST(RotateModelTest, TurnsStayWithinAFullCircle) {
    RotateModel model(400, 200, true);
    model.turnLeft();
    EXPECT_DOUBLE_EQ(model.angle, 270);
    model.turnRight();
    EXPECT_DOUBLE_EQ(model.angle, 0);
    model.stepDown();
    EXPECT_DOUBLE_EQ(model.angle, 359);
    model.angle = 359.5;
    model.stepUp();
    EXPECT_DOUBLE_EQ(model.angle, 0.5);
    model.setSliderAngle(400);
    EXPECT_DOUBLE_EQ(model.angle, 359.9);
    model.angle = 30;
    EXPECT_TRUE(model.showsResampleNote());
    model.angle = 45;
    EXPECT_EQ(model.resultLabel(), "400 \u00D7 200  \u2192  424 \u00D7 424");
    model.angle = 180;
    EXPECT_FALSE(model.showsResampleNote());
    EXPECT_EQ(model.resultLabel(), "400 \u00D7 200  \u2192  400 \u00D7 200");
    model.angle = 37.48;
    EXPECT_EQ(model.angleText(), "37.5\u00B0");
    EXPECT_DOUBLE_EQ(RotateModel::normalised(-90), 270);
    EXPECT_DOUBLE_EQ(RotateModel::normalised(720), 0);
}

}  // namespace
}  // namespace kolvex
