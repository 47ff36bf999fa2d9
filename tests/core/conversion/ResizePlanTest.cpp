// SPDX-License-Identifier: GPL-3.0-or-later
// The one decision of what a resize makes of each file: a share is of the file's own size, a
// side never enlarges, and a file the resize would not shrink is left as it is.
#include <gtest/gtest.h>

#include "core/conversion/ResizePlan.h"

namespace kolvex {
namespace {

TEST(ResizePlan, EachFileGetsItsOwnShareAndNoFileGrows) {
    struct Row {
        std::optional<int64_t> max;
        std::optional<double> percent;
        int64_t width, height;
        int64_t side;    // the result's longest side
        bool leftAlone;  // the resize tool leaves the file as it is
    };
    // The batch of the report: 400×200, 1600×1200 and 800×600 at 50 %, then at a side of 854.
    const Row rows[] = {
        {{}, 50, 400, 200, 200, false},   {{}, 50, 1600, 1200, 800, false}, {{}, 50, 800, 600, 400, false},
        {854, {}, 400, 200, 400, true},   {854, {}, 1600, 1200, 854, false}, {854, {}, 800, 600, 800, true},
        {854, 50, 1600, 1200, 800, false}, {{}, 100, 640, 480, 640, true},   {{}, 25, 3, 1, 1, false},
        {0, {}, 320, 240, 1, false},       {{}, {}, 320, 240, 320, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.width) + "x" + std::to_string(row.height) + " max " +
                     std::to_string(row.max.value_or(-1)) + " percent " + std::to_string(row.percent.value_or(-1)));
        ConversionOptions options;
        options.tool = "resize";
        options.maxDimension = row.max;
        options.scalePercent = row.percent;
        const int64_t longest = std::max(row.width, row.height);
        EXPECT_EQ(ResizePlan::longestSide(options, longest), row.side);
        EXPECT_DOUBLE_EQ(ResizePlan::factor(options, longest), static_cast<double>(row.side) / longest);
        const bool asks = row.max || row.percent;
        EXPECT_EQ(ResizePlan::leftAsItIs(options, row.width, row.height).has_value(), asks && row.leftAlone);

        // Other work on the picture still runs, and so does any tool but resize.
        ConversionOptions cropped = options;
        cropped.cropRect = UnitRect{0, 0, 0.5, 0.5};
        EXPECT_FALSE(ResizePlan::leftAsItIs(cropped, row.width, row.height));
        ConversionOptions converted = options;
        converted.tool.reset();
        EXPECT_FALSE(ResizePlan::leftAsItIs(converted, row.width, row.height));
    }
}

}  // namespace
}  // namespace kolvex
