#include <filesystem>
#include <fstream>
#include <set>
#include <memory>

#include <gtest/gtest.h>
#include <vips/vips8>

#include "core/conversion/ConversionCoordinator.h"
#include "core/engines/image/ImageEngine.h"
#include "core/engines/image/VipsRuntime.h"
#include "core/format/ConversionError.h"
#include "core/format/FormatRegistry.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

class CoordinatorWithImageEngine : public ::testing::Test {
protected:
    void SetUp() override {
        image::ensureVipsStarted();
        m_coordinator = std::make_unique<ConversionCoordinator>(
            FormatRegistry::loadBundled(), ConversionCoordinator::Engines{std::make_shared<ImageEngine>()});
    }

    fs::path picture(const std::string& name) {
        const fs::path path = m_dir / name;
        vips::VImage::black(16, 12, vips::VImage::option()->set("bands", 3)).linear(1.0, 200.0).cast(VIPS_FORMAT_UCHAR).write_to_file(path.c_str());
        return path;
    }

    static std::string magic(const fs::path& file, size_t bytes) { return testing::readFile(file).substr(0, bytes); }

    TempDir m_dir;
    std::unique_ptr<ConversionCoordinator> m_coordinator;
};

TEST_F(CoordinatorWithImageEngine, SameStemsBecomeSeparateFiles) {
    const auto png = picture("photo.png");
    const auto tiff = picture("photo.tiff");
    const auto results = m_coordinator->submit(ConversionIntent{{png, tiff}, "jpg", ConversionOptions::defaults(), {}});
    ASSERT_EQ(results.size(), 2u);
    std::set<fs::path> outputs;
    for (const auto& result : results) {
        ASSERT_TRUE(result.succeeded()) << (result.error ? result.error->shortDescription() : "");
        outputs.insert(result.outputs.at(0));
        EXPECT_EQ(magic(result.outputs.at(0), 3), "\xFF\xD8\xFF");
    }
    EXPECT_EQ(outputs, (std::set<fs::path>{m_dir / "photo.jpg", m_dir / "photo 2.jpg"}));
}

TEST_F(CoordinatorWithImageEngine, ImageToolsGoToTheImageEngine) {
    const auto png = picture("-shot.png");
    ToolIntent compress{{png}, "compress", ConversionOptions::defaults(), std::nullopt};
    const auto jobs = m_coordinator->plan(compress);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].capability.engine, engine_ids::image);
    EXPECT_EQ(jobs[0].destination, m_dir / "-shot 2.png");

    const auto results = m_coordinator->submit(compress);
    ASSERT_TRUE(results.at(0).succeeded());
    EXPECT_EQ(magic(results[0].outputs.at(0), 4), "\x89PNG");

    // No in-process engine trims a video, and a PNG is not something to trim.
    EXPECT_EQ(m_coordinator->submit(ToolIntent{{png}, "trim", ConversionOptions::defaults(), std::nullopt}).at(0).error,
              ConversionError::unsupportedCombination("PNG", "Trim"));
}

TEST_F(CoordinatorWithImageEngine, DamagedInputLeavesNoOutput) {
    const auto fake = m_dir / "not-really.png";
    std::ofstream(fake) << "this is text, not a picture";
    const auto results = m_coordinator->submit(ConversionIntent{{fake}, "jpg", ConversionOptions::defaults(), {}});
    ASSERT_TRUE(results.at(0).error);
    EXPECT_FALSE(fs::exists(m_dir / "not-really.jpg"));
}

}  // namespace
}  // namespace kolvex
