// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/format/ConversionOptions.h"

namespace kolvex {

// The arithmetic behind the compress, resize, crop and rotate sheets, kept apart from the
// widgets so that it can be checked without a display. Plain values; GUI thread.

// The compress sheet's quality, presets and savings line.
struct CompressModel {
    struct Preset {
        const char* name;
        double quality;
        const char* detail;
    };
    static const std::vector<Preset>& presets();
    static constexpr double kMinimumQuality = 0.1;
    static constexpr double kMaximumQuality = 1.0;

    double quality = 0.6;

    // "60%": the whole percent of the quality.
    std::string qualityText() const;
    bool isPresetActive(const Preset& preset) const;
    // "50% smaller" (true: a saving) or "0% larger"; none without an estimate or original size.
    static std::optional<std::pair<std::string, bool>> savings(std::optional<int64_t> estimate, int64_t originalBytes);
};

// The resize sheet: a percentage or a longest side, resolved to one longest side in pixels.
struct ResizeModel {
    enum class Mode { percentage, longestSide };
    struct Preset {
        const char* label;
        int64_t side;
    };
    static const std::vector<Preset>& videoPresets();
    static const std::vector<Preset>& imagePresets();
    static const std::vector<double>& percentagePresets();
    static const char* modeLabel(Mode mode);

    ResizeModel(double width, double height, bool isVideo);

    double width;
    double height;
    bool isVideo;
    Mode mode = Mode::percentage;
    double percentage = 50;
    double longestSide;

    // The one number the sheet produces: at least 1, and never more than the original's longest
    // side (a resize never enlarges).
    int64_t resolvedLongestSide() const;
    // The longest sides the sheet offers: from 64 (or the original's, when smaller) up to the
    // original's.
    int64_t smallestSide() const;
    int64_t largestSide() const;
    // The new pixel size (even sides for a video, each at least 1), and its "w × h" text.
    std::pair<int64_t, int64_t> resultSize() const;
    std::string resultLabel() const;
    std::string originalLabel() const;
    // Apply is offered only when the size changes.
    bool canApply() const;
    // The presets of the kind up to the original's size: none would enlarge it.
    std::vector<Preset> presets() const;

    // The expected size line under AFTER: none without a measure.
    static std::optional<std::string> sizeLabel(bool hasMeasure, std::optional<int64_t> estimate, bool measuring,
                                                bool isExact);

private:
    double longest() const;
};

// The crop sheet's selection, in unit coordinates of the picture with the origin at the top
// left and y growing downwards.
struct CropModel {
    struct Rect {
        double x = 0, y = 0, width = 0, height = 0;
        double minX() const { return x; }
        double minY() const { return y; }
        double maxX() const { return x + width; }
        double maxY() const { return y + height; }
        bool operator==(const Rect&) const = default;
    };
    enum class AspectPreset { free, square, wide, screen, classic, tall };
    enum class Handle { move, topLeft, topRight, bottomLeft, bottomRight, top, bottom, left, right };

    static const std::vector<AspectPreset>& allPresets();
    static const char* label(AspectPreset preset);
    static std::optional<double> ratio(AspectPreset preset);
    static const std::vector<Handle>& allHandles();
    static bool isLeftSide(Handle handle);
    static bool isRightSide(Handle handle);
    static bool isTopSide(Handle handle);
    static bool isBottomSide(Handle handle);
    // The handle's point as fractions of the selection's width and height from its top left.
    static std::pair<double, double> anchor(Handle handle);

    static constexpr double kMinimumSide = 0.03;   // what a drag leaves at least
    static constexpr double kApplyMinimum = 0.01;  // thinner selections cannot be applied
    static Rect initialSelection() { return {0.1, 0.1, 0.8, 0.8}; }

    // `imageWidth` × `imageHeight`: the preview picture's size.
    CropModel(double imageWidth, double imageHeight);

    double imageWidth;
    double imageHeight;
    Rect selection = initialSelection();
    AspectPreset aspect = AspectPreset::free;
    std::optional<Rect> dragOrigin;

    // The picture's aspect, a height of 1 or less counting as 1.
    double pictureAspect() const;
    // The picture fitted without distortion into a W × H area, centred.
    Rect fit(double areaWidth, double areaHeight) const;
    // The selection in the view points of `fit`.
    Rect selectionRect(const Rect& fit) const;

    // One change of a drag of `handle` by the total translation since the drag began.
    void drag(Handle handle, double translationX, double translationY, const Rect& fit);
    void endDrag() { dragOrigin.reset(); }
    // Keeps `rect` on the ratio and inside the unit square.
    Rect constrain(Rect rect, double ratio, Handle handle) const;
    void setAspect(AspectPreset preset);
    void applyAspect();
    void reset();

    bool canApply() const;
    std::string dimensionsLabel() const;
    // The selection with its origin at the bottom left, as the image engine reads it.
    UnitRect normalisedForCoreGraphics() const;
};

// The rotate and flip sheet's angle and flips.
struct RotateModel {
    static const std::vector<double>& quarterTurns();
    static const std::vector<double>& fineAngles();
    static constexpr double kSliderMaximum = 359.9;

    RotateModel(double imageWidth, double imageHeight, bool emphasisesFlip);

    double imageWidth;
    double imageHeight;
    double angle;
    bool flipHorizontal;
    bool flipVertical = false;

    // x folded into [0, 360).
    static double normalised(double degrees);
    void turnLeft() { angle = normalised(angle - 90); }
    void turnRight() { angle = normalised(angle + 90); }
    void stepUp() { angle = normalised(angle + 1); }
    void stepDown() { angle = normalised(angle - 1); }
    // The slider keeps the angle within 0…359.9.
    void setSliderAngle(double degrees);

    std::string resultLabel() const;
    bool isNoOp() const;
    bool showsResampleNote() const;
    std::string angleText() const;
};

}  // namespace kolvex
