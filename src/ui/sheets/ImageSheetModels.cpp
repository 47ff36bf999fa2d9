// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sheets/ImageSheetModels.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "core/conversion/SizeEstimator.h"
#include "core/conversion/RotatedSize.h"

namespace kolvex {

namespace {

// Whole percent of a fraction. The nudge keeps 0.29 from reading 28 % after the binary
// floating-point product 28.999….
int64_t wholePercent(double fraction) {
    return static_cast<int64_t>(std::floor(fraction * 100 + 1e-9));
}

std::string sizeText(int64_t width, int64_t height) {
    return fmt::format("{} \u00D7 {}", width, height);
}

}  // namespace

// ---- compress ----------------------------------------------------------------------------

const std::vector<CompressModel::Preset>& CompressModel::presets() {
    static const std::vector<Preset> list{
        {"Smallest", 0.3, "email, chat"},
        {"Balanced", 0.6, "most uses"},
        {"High", 0.85, "keep the detail"},
    };
    return list;
}

std::string CompressModel::qualityText() const {
    return fmt::format("{}%", wholePercent(quality));
}

bool CompressModel::isPresetActive(const Preset& preset) const {
    return std::abs(quality - preset.quality) < 0.01;
}

std::optional<std::pair<std::string, bool>> CompressModel::savings(std::optional<int64_t> estimate,
                                                                    int64_t originalBytes) {
    if (!estimate || originalBytes < 1) return std::nullopt;
    const double s = 1.0 - static_cast<double>(*estimate) / static_cast<double>(originalBytes);
    if (s > 0) return std::pair{fmt::format("{}% smaller", wholePercent(s)), true};
    return std::pair{fmt::format("{}% larger", wholePercent(-s)), false};
}

// ---- resize ------------------------------------------------------------------------------

const std::vector<ResizeModel::Preset>& ResizeModel::videoPresets() {
    static const std::vector<Preset> list{
        {"480p", 854}, {"720p", 1280}, {"1080p", 1920}, {"1440p", 2560}, {"4K", 3840}};
    return list;
}

const std::vector<ResizeModel::Preset>& ResizeModel::imagePresets() {
    static const std::vector<Preset> list{
        {"640", 640}, {"1280", 1280}, {"1920", 1920}, {"2560", 2560}, {"4096", 4096}};
    return list;
}

const std::vector<double>& ResizeModel::percentagePresets() {
    static const std::vector<double> list{25, 50, 75};
    return list;
}

const char* ResizeModel::modeLabel(Mode mode) {
    return mode == Mode::percentage ? "Percentage" : "Longest side";
}

ResizeModel::ResizeModel(double width, double height, bool isVideo)
    : width(width), height(height), isVideo(isVideo), longestSide(std::min(std::max({width, height, 1.0}), 1920.0)) {}

double ResizeModel::longest() const {
    return std::max({width, height, 1.0});
}

int64_t ResizeModel::resolvedLongestSide() const {
    const double value = mode == Mode::percentage ? longest() * percentage / 100 : longestSide;
    const double rounded = std::round(value);
    if (!(rounded >= 1)) return 1;
    return std::min(static_cast<int64_t>(std::min(rounded, 1.0e9)), largestSide());
}

int64_t ResizeModel::largestSide() const {
    return std::max<int64_t>(static_cast<int64_t>(std::round(std::min(longest(), 1.0e9))), 1);
}

int64_t ResizeModel::smallestSide() const {
    return std::min<int64_t>(64, largestSide());
}

std::vector<ResizeModel::Preset> ResizeModel::presets() const {
    std::vector<Preset> offered;
    for (const auto& preset : isVideo ? videoPresets() : imagePresets())
        if (preset.side <= largestSide()) offered.push_back(preset);
    return offered;
}

std::pair<int64_t, int64_t> ResizeModel::resultSize() const {
    const double scale = static_cast<double>(resolvedLongestSide()) / longest();
    auto side = [&](double length) {
        auto value = static_cast<int64_t>(std::round(std::max(length, 0.0) * scale));
        if (isVideo) value -= value % 2;
        return std::max<int64_t>(value, 1);
    };
    return {side(width), side(height)};
}

std::string ResizeModel::resultLabel() const {
    const auto [w, h] = resultSize();
    return sizeText(w, h);
}

std::string ResizeModel::originalLabel() const {
    return sizeText(static_cast<int64_t>(std::floor(std::max(width, 0.0))),
                    static_cast<int64_t>(std::floor(std::max(height, 0.0))));
}

bool ResizeModel::canApply() const {
    const auto unchanged = std::max<int64_t>(static_cast<int64_t>(std::round(std::max(width, height))), 1);
    return resolvedLongestSide() != unchanged;
}

std::optional<std::string> ResizeModel::sizeLabel(bool hasMeasure, std::optional<int64_t> estimate, bool measuring,
                                                  bool isExact) {
    if (!hasMeasure) return std::nullopt;
    if (estimate) {
        return (isExact ? "" : "~") + SizeEstimator::format(*estimate);
    }
    if (measuring) return std::string("measuring\u2026");
    return std::nullopt;
}

// ---- crop --------------------------------------------------------------------------------

const std::vector<CropModel::AspectPreset>& CropModel::allPresets() {
    static const std::vector<AspectPreset> list{AspectPreset::free,   AspectPreset::square,  AspectPreset::wide,
                                                AspectPreset::screen, AspectPreset::classic, AspectPreset::tall};
    return list;
}

const char* CropModel::label(AspectPreset preset) {
    switch (preset) {
    case AspectPreset::free: return "Free";
    case AspectPreset::square: return "1:1";
    case AspectPreset::wide: return "16:9";
    case AspectPreset::screen: return "16:10";
    case AspectPreset::classic: return "4:3";
    case AspectPreset::tall: return "9:16";
    }
    return "Free";
}

std::optional<double> CropModel::ratio(AspectPreset preset) {
    switch (preset) {
    case AspectPreset::free: return std::nullopt;
    case AspectPreset::square: return 1.0;
    case AspectPreset::wide: return 16.0 / 9.0;
    case AspectPreset::screen: return 1.6;
    case AspectPreset::classic: return 4.0 / 3.0;
    case AspectPreset::tall: return 0.5625;
    }
    return std::nullopt;
}

const std::vector<CropModel::Handle>& CropModel::allHandles() {
    static const std::vector<Handle> list{Handle::move,        Handle::topLeft, Handle::topRight,
                                          Handle::bottomLeft,  Handle::bottomRight, Handle::top,
                                          Handle::bottom,      Handle::left,    Handle::right};
    return list;
}

bool CropModel::isLeftSide(Handle h) {
    return h == Handle::topLeft || h == Handle::bottomLeft || h == Handle::left;
}
bool CropModel::isRightSide(Handle h) {
    return h == Handle::topRight || h == Handle::bottomRight || h == Handle::right;
}
bool CropModel::isTopSide(Handle h) {
    return h == Handle::topLeft || h == Handle::topRight || h == Handle::top;
}
bool CropModel::isBottomSide(Handle h) {
    return h == Handle::bottomLeft || h == Handle::bottomRight || h == Handle::bottom;
}

std::pair<double, double> CropModel::anchor(Handle h) {
    switch (h) {
    case Handle::topLeft: return {0, 0};
    case Handle::topRight: return {1, 0};
    case Handle::bottomLeft: return {0, 1};
    case Handle::bottomRight: return {1, 1};
    case Handle::top: return {0.5, 0};
    case Handle::bottom: return {0.5, 1};
    case Handle::left: return {0, 0.5};
    case Handle::right: return {1, 0.5};
    case Handle::move: return {0.5, 0.5};
    }
    return {0.5, 0.5};
}

CropModel::CropModel(double imageWidth, double imageHeight) : imageWidth(imageWidth), imageHeight(imageHeight) {}

double CropModel::pictureAspect() const {
    return std::max(imageWidth, 0.0) / std::max(imageHeight, 1.0);
}

CropModel::Rect CropModel::fit(double areaWidth, double areaHeight) const {
    double a = pictureAspect();
    if (!(a > 0)) a = 1;  // a picture without width still gets a drawable frame
    Rect r;
    if (areaHeight < areaWidth / a) {
        r.height = areaHeight;
        r.width = areaHeight * a;
    } else {
        r.width = areaWidth;
        r.height = areaWidth / a;
    }
    r.x = (areaWidth - r.width) / 2;
    r.y = (areaHeight - r.height) / 2;
    return r;
}

CropModel::Rect CropModel::selectionRect(const Rect& f) const {
    return {f.minX() + selection.minX() * f.width, f.minY() + selection.minY() * f.height,
            selection.width * f.width, selection.height * f.height};
}

void CropModel::drag(Handle handle, double translationX, double translationY, const Rect& f) {
    if (!dragOrigin) dragOrigin = selection;
    const Rect origin = *dragOrigin;
    const double dx = f.width > 0 ? translationX / f.width : 0;
    const double dy = f.height > 0 ? translationY / f.height : 0;
    if (handle == Handle::move) {
        const double x = std::min(std::max(origin.minX() + dx, 0.0), 1 - origin.width);
        const double y = std::min(std::max(origin.minY() + dy, 0.0), 1 - origin.height);
        selection = {x, y, origin.width, origin.height};
        return;
    }
    double minX = origin.minX(), minY = origin.minY(), maxX = origin.maxX(), maxY = origin.maxY();
    if (isLeftSide(handle)) minX = std::min(std::max(origin.minX() + dx, 0.0), maxX - kMinimumSide);
    if (isRightSide(handle)) maxX = std::max(std::min(maxX + dx, 1.0), minX + kMinimumSide);
    if (isTopSide(handle)) minY = std::min(std::max(origin.minY() + dy, 0.0), maxY - kMinimumSide);
    if (isBottomSide(handle)) maxY = std::max(std::min(maxY + dy, 1.0), minY + kMinimumSide);
    Rect rect{minX, minY, maxX - minX, maxY - minY};
    if (auto r = ratio(aspect)) rect = constrain(rect, *r, handle);
    selection = rect;
}

CropModel::Rect CropModel::constrain(Rect rect, double preset, Handle handle) const {
    double a = pictureAspect();
    if (!(a > 0)) a = 1;
    const double r = preset / a;
    if (isLeftSide(handle) || isRightSide(handle)) {
        const double oldMaxY = rect.maxY();
        rect.height = rect.width / r;
        if (isTopSide(handle)) rect.y = oldMaxY - rect.height;
    } else {
        rect.width = r * rect.height;
    }
    constexpr double eps = std::numeric_limits<double>::epsilon();
    const double w = std::max(rect.width, eps), h = std::max(rect.height, eps);
    double s = 1;
    if (rect.minX() < 0) s = std::min(s, rect.minX() / w + 1);
    if (rect.minY() < 0) s = std::min(s, rect.minY() / h + 1);
    if (rect.maxX() > 1) s = std::min(s, (1 - rect.minX()) / w);
    if (rect.maxY() > 1) s = std::min(s, (1 - rect.minY()) / h);
    if (s > 0 && s < 1) {
        const double maxX = rect.maxX(), maxY = rect.maxY();
        rect.width *= s;
        rect.height *= s;
        rect.x = isLeftSide(handle) ? maxX - rect.width : rect.x;
        rect.y = isTopSide(handle) ? maxY - rect.height : rect.y;
    }
    rect.x = std::min(std::max(rect.x, 0.0), 1 - rect.width);
    rect.y = std::min(std::max(rect.y, 0.0), 1 - rect.height);
    return rect;
}

void CropModel::setAspect(AspectPreset preset) {
    aspect = preset;
    applyAspect();
}

void CropModel::applyAspect() {
    if (auto r = ratio(aspect)) selection = constrain(selection, *r, Handle::bottomRight);
}

void CropModel::reset() {
    selection = initialSelection();
    applyAspect();
}

bool CropModel::canApply() const {
    return selection.width >= kApplyMinimum && selection.height >= kApplyMinimum;
}

std::string CropModel::dimensionsLabel() const {
    return sizeText(static_cast<int64_t>(std::round(selection.width * imageWidth)),
                    static_cast<int64_t>(std::round(selection.height * imageHeight)));
}

UnitRect CropModel::normalisedForCoreGraphics() const {
    return {selection.minX(), 1 - selection.maxY(), selection.width, selection.height};
}

// ---- rotate ------------------------------------------------------------------------------

const std::vector<double>& RotateModel::quarterTurns() {
    static const std::vector<double> list{0, 90, 180, 270};
    return list;
}

const std::vector<double>& RotateModel::fineAngles() {
    static const std::vector<double> list{15, 30, 45, 60};
    return list;
}

RotateModel::RotateModel(double imageWidth, double imageHeight, bool emphasisesFlip)
    : imageWidth(imageWidth), imageHeight(imageHeight), angle(emphasisesFlip ? 0 : 90), flipHorizontal(emphasisesFlip) {}

double RotateModel::normalised(double degrees) {
    if (!std::isfinite(degrees)) return 0;
    double r = std::fmod(degrees, 360.0);
    if (r < 0) r += 360;
    if (r >= 360) r = 0;  // −1e-14 + 360 rounds up to 360
    return r;
}

void RotateModel::setSliderAngle(double degrees) {
    angle = std::min(std::max(degrees, 0.0), kSliderMaximum);
}

std::string RotateModel::resultLabel() const {
    const auto w = static_cast<int64_t>(std::round(imageWidth));
    const auto h = static_cast<int64_t>(std::round(imageHeight));
    const auto [w2, h2] = rotatedSize(w, h, angle);
    return sizeText(w, h) + "  \u2192  " + sizeText(w2, h2);
}

bool RotateModel::isNoOp() const {
    return std::fmod(angle, 360.0) == 0 && !flipHorizontal && !flipVertical;
}

bool RotateModel::showsResampleNote() const {
    return std::fmod(angle, 90.0) != 0;
}

std::string RotateModel::angleText() const {
    return fmt::format("{:.1f}\u00B0", angle);
}

}  // namespace kolvex
