// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ImageFixtures.h"
#include "core/engines/image/ImageEngine.h"
#include "core/format/ConversionError.h"
#include "support/TempDir.h"

namespace kolvex::testing {

// Runs the job through a fresh engine.
inline std::vector<std::filesystem::path> run(const ConversionJob& job) { return ImageEngine().convert(job, {}, {}); }

// The error the job fails with (a failure of the test when it succeeds).
inline ConversionError failure(const ConversionJob& job) {
    try {
        run(job);
    } catch (const ConversionError& error) {
        return error;
    }
    ADD_FAILURE() << "conversion of " << job.source << " did not fail";
    return ConversionError::cancelled();
}

// The default options with the tool named.
inline ConversionOptions withTool(std::string tool) {
    ConversionOptions options;
    options.tool = std::move(tool);
    return options;
}

// A folder of the test's own and the quadrant picture saved in it as a PNG.
class ImageEngineTest : public ::testing::Test {
protected:
    std::filesystem::path pngSource(int width = 40, int height = 20, bool alpha = false) {
        auto path = dir / "source.png";
        save(quadrants(width, height, alpha), path, "pngsave");
        return path;
    }

    TempDir dir;
};

}  // namespace kolvex::testing
