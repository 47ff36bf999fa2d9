// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/image/ImageTransforms.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "core/conversion/RotatedSize.h"
#include "core/engines/image/ImageEngine.h"

namespace kolvex::image {

using vips::VImage;

double ImageTransforms::maxAlpha(const VImage& picture) {
    const VipsInterpretation interpretation = picture.interpretation();
    return interpretation == VIPS_INTERPRETATION_RGB16 || interpretation == VIPS_INTERPRETATION_GREY16 ? 65535 : 255;
}

VImage ImageTransforms::cropped(const VImage& picture, const UnitRect& rect) {
    const ConversionError noArea = ConversionError::unsupportedCombination("crop region", "an image with area");
    if (!std::isfinite(rect.x) || !std::isfinite(rect.y) || !std::isfinite(rect.width) ||
        !std::isfinite(rect.height)) {
        throw noArea;
    }
    const double width = picture.width();
    const double height = picture.height();
    // Unit coordinates grow upward from the bottom-left; pixel rows grow downward from the top.
    const double x = std::floor(rect.minX() * width);
    const double y = std::floor((1 - rect.maxY()) * height);
    const double w = std::round(rect.width * width);
    const double h = std::round(rect.height * height);
    const double left = std::max(x, 0.0);
    const double top = std::max(y, 0.0);
    const double right = std::min(x + w, width);
    const double bottom = std::min(y + h, height);
    if (!(right - left >= 1) || !(bottom - top >= 1)) throw noArea;
    return picture.extract_area(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                                static_cast<int>(bottom - top));
}

VImage ImageTransforms::turned(VImage picture, double degrees) {
    if (degrees == 90) return picture.rot(VIPS_ANGLE_D90);
    if (degrees == 180) return picture.rot(VIPS_ANGLE_D180);
    if (degrees == 270) return picture.rot(VIPS_ANGLE_D270);

    if (picture.interpretation() == VIPS_INTERPRETATION_CMYK) picture = picture.colourspace(VIPS_INTERPRETATION_sRGB);
    const VipsBandFormat format = picture.format();
    const double alphaMax = maxAlpha(picture);
    if (!picture.has_alpha()) picture = picture.bandjoin_const({alphaMax});

    const auto [canvasWidth, canvasHeight] = rotatedSize(picture.width(), picture.height(), degrees);
    const double radians = degrees * std::numbers::pi / 180;
    const double c = std::cos(radians);
    const double s = std::sin(radians);
    // Pixel rows grow downward, so this matrix turns clockwise as seen.
    VImage out = picture.premultiply(VImage::option()->set("max_alpha", alphaMax))
                     .affine({c, -s, s, c}, VImage::option()
                                                ->set("interpolate", vips::VInterpolate::new_from_name("bicubic"))
                                                ->set("oarea", std::vector<int>{0, 0, static_cast<int>(canvasWidth),
                                                                                static_cast<int>(canvasHeight)})
                                                ->set("idx", -picture.width() / 2.0)
                                                ->set("idy", -picture.height() / 2.0)
                                                ->set("odx", canvasWidth / 2.0)
                                                ->set("ody", canvasHeight / 2.0)
                                                ->set("background", std::vector<double>{0}));
    return out.unpremultiply(VImage::option()->set("max_alpha", alphaMax)).cast(format);
}

VImage ImageTransforms::shrunk(VImage picture, int64_t cap) {
    const int longest = std::max(picture.width(), picture.height());
    if (longest <= cap) return picture;
    if (picture.format() == VIPS_FORMAT_UCHAR) {
        const int side = static_cast<int>(cap);
        return picture.thumbnail_image(
            side, VImage::option()->set("height", side)->set("size", VIPS_SIZE_DOWN)->set("no_rotate", true));
    }
    // thumbnail_image hands back 8-bit sRGB; a deeper picture is resampled in its own depth and
    // colour space, so a 16-bit PNG or TIFF stays 16-bit (the saver lowers it only for a target
    // that cannot hold it). Alpha is premultiplied so clear pixels do not bleed their colour.
    const double scale = static_cast<double>(cap) / longest;
    const VipsBandFormat format = picture.format();
    const auto resized = [scale](const VImage& image) {
        return image.resize(scale, VImage::option()->set("vscale", scale)->set("kernel", VIPS_KERNEL_LANCZOS3));
    };
    if (!picture.has_alpha()) return resized(picture).cast(format);
    const double alphaMax = maxAlpha(picture);
    return resized(picture.premultiply(VImage::option()->set("max_alpha", alphaMax)))
        .unpremultiply(VImage::option()->set("max_alpha", alphaMax))
        .cast(format);
}

VImage ImageTransforms::apply(VImage picture, const ConversionJob& job, int64_t cap, double degrees) {
    picture = shrunk(picture, cap);
    if (job.options.cropRect) picture = cropped(picture, *job.options.cropRect);
    // Flips act on the picture before it is turned.
    if (job.options.flipHorizontal) picture = picture.flip(VIPS_DIRECTION_HORIZONTAL);
    if (job.options.flipVertical) picture = picture.flip(VIPS_DIRECTION_VERTICAL);
    if (degrees != 0) picture = turned(picture, degrees);
    return picture;
}

}  // namespace kolvex::image
