// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "core/conversion/CompressionGuard.h"
#include "core/services/Log.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;

Format imageFormat(const std::string& id, const std::string& label) {
    return Format{FormatID(id), FormatCategory::image, {id}, {"image/" + id}, {FormatCapability::lossy}, label};
}

ConversionJob makeJob(const fs::path& source, const fs::path& destination, const std::string& from,
                      const std::string& to, std::optional<std::string> tool) {
    ConversionOptions options;
    options.tool = std::move(tool);
    return ConversionJob(source, {}, destination, imageFormat(from, "JPEG " + from), imageFormat(to, to),
                         ConversionCapability{FormatID(from), FormatID(to), engine_ids::image}, options);
}

std::size_t entryCount(const fs::path& folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++count;
    return count;
}

TEST(CompressionGuard, KeepsTheSmallerFileOnlyForSameFormatCompress) {
    struct Row {
        const char* name;
        std::optional<std::string> tool;
        const char* to;
        std::size_t producedSize;
        bool replaced;
    };
    const Row rows[] = {
        {"larger compress output", "compress", "jpg", 150, true},
        {"equal size counts as not smaller", "compress", "jpg", 100, true},
        {"smaller compress output", "compress", "jpg", 99, false},
        {"format change keeps a larger output", "compress", "png", 150, false},
        {"other tool keeps a larger output", "resize", "jpg", 150, false},
        {"plain conversion keeps a larger output", std::nullopt, "jpg", 150, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string original(100, 'S');
        const std::string produced(row.producedSize, 'P');
        auto source = dir.write("photo.jpg", original);
        auto output = dir.write("photo 2.jpg", produced);

        auto outcome = CompressionGuard::keepSmaller(makeJob(source, output, "jpg", row.to, row.tool), output);

        EXPECT_EQ(outcome.url, output);
        EXPECT_EQ(outcome.wasAlreadySmallest, row.replaced);
        EXPECT_EQ(readFile(output), row.replaced ? original : produced);
        EXPECT_EQ(readFile(source), original);
        EXPECT_EQ(entryCount(dir.path()), 2u) << "no temporary file may be left behind";
    }
}

TEST(CompressionGuard, ReplacementLogsAndKeepsTheOutputsPermissions) {
    TempDir dir;
    auto source = dir.write("a.png", std::string(10, 'S'));
    auto output = dir.write("a 2.png", std::string(20, 'P'));
    fs::permissions(output, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    LogCapture capture;

    auto outcome = CompressionGuard::keepSmaller(makeJob(source, output, "png", "png", "compress"), output);

    ASSERT_TRUE(outcome.wasAlreadySmallest);
    EXPECT_EQ(fs::status(output).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_TRUE(capture.contains("engine", "compress: JPEG png could not be made smaller, kept the original"));
}

TEST(CompressionGuard, UnknownSizesLeaveTheOutputAlone) {
    TempDir dir;
    auto output = dir.write("b.jpg", "produced");
    auto missing = CompressionGuard::keepSmaller(makeJob(dir / "gone.jpg", output, "jpg", "jpg", "compress"), output);
    EXPECT_FALSE(missing.wasAlreadySmallest);
    EXPECT_EQ(readFile(output), "produced");

    auto source = dir.write("c.jpg", "");
    auto absent = CompressionGuard::keepSmaller(makeJob(source, dir / "none.jpg", "jpg", "jpg", "compress"),
                                                dir / "none.jpg");
    EXPECT_EQ(absent.url, dir / "none.jpg");
    EXPECT_FALSE(absent.wasAlreadySmallest);
    EXPECT_FALSE(fs::exists(dir / "none.jpg"));
}

TEST(CompressionGuard, KeepsTheProducedFileWhenTheCopyCannotBeMade) {
    // A folder where no new file can be created, even by root: the copy fails, and the
    // produced output must survive untouched.
    const fs::path produced = "/proc/version";
    if (!fs::is_regular_file(produced)) GTEST_SKIP() << "no /proc on this machine";
    TempDir dir;
    auto source = dir.write("empty.jpg", "");
    const std::string before = readFile(produced);
    LogCapture capture;

    auto outcome = CompressionGuard::keepSmaller(makeJob(source, produced, "jpg", "jpg", "compress"), produced);

    EXPECT_FALSE(outcome.wasAlreadySmallest);
    EXPECT_EQ(outcome.url, produced);
    EXPECT_EQ(readFile(produced), before);
    EXPECT_FALSE(capture.contains("engine", "could not be made smaller"));
}

TEST(CompressionGuard, NeverReplacesAFileWithItself) {
    TempDir dir;
    auto source = dir.write("same.jpg", "bytes");
    auto outcome = CompressionGuard::keepSmaller(makeJob(source, source, "jpg", "jpg", "compress"), source);
    EXPECT_FALSE(outcome.wasAlreadySmallest);
    EXPECT_EQ(readFile(source), "bytes");
}

}  // namespace
}  // namespace kolvex
