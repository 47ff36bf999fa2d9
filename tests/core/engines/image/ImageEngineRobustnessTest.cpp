// SPDX-License-Identifier: GPL-3.0-or-later
// The image engine against damaged and hostile files, awkward names and places, cancellation
// and several conversions at once.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ImageEngineTestSupport.h"
#include "ImageFixtures.h"
#include "core/conversion/ConversionCoordinator.h"
#include "core/engines/image/ImageEngine.h"
#include "core/engines/image/VipsRuntime.h"
#include "core/services/Cancellation.h"
#include "support/BinaryFixtures.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using namespace kolvex::testing;
using vips::VImage;

TEST_F(ImageEngineTest, HostileInputsFailCleanlyAndQuickly) {
    // Made from real files, then damaged.
    auto jpg = dir / "whole.jpg";
    save(VImage::gaussnoise(600, 400).cast(VIPS_FORMAT_UCHAR), jpg, "jpegsave");
    auto png = dir / "whole.png";
    save(VImage::gaussnoise(300, 200).cast(VIPS_FORMAT_UCHAR), png, "pngsave");
    const std::string jpgBytes = readFile(jpg);
    std::string pngBytes = readFile(png);
    std::string badCrc = pngBytes;
    const size_t idat = badCrc.find("IDAT");
    const uint32_t idatLength = (uint8_t(badCrc[idat - 4]) << 24) | (uint8_t(badCrc[idat - 3]) << 16) |
                                (uint8_t(badCrc[idat - 2]) << 8) | uint8_t(badCrc[idat - 1]);
    badCrc[idat + 4 + idatLength] ^= 0x5A;

    // A valid PNG header that declares 50 000 × 50 000 pixels, with almost no data behind it.
    std::string bomb = pngBytes.substr(0, 16);
    const std::string ihdr("IHDR\x00\x00\xC3\x50\x00\x00\xC3\x50\x08\x02\x00\x00\x00", 17);
    bomb.resize(12);
    bomb += ihdr;
    bomb += testing::bigEndian32(testing::crc32(ihdr));
    bomb += pngBytes.substr(33, 200);

    // A real JPEG whose frame header is changed to declare 50 000 × 50 000 pixels.
    std::string jpgBomb = jpgBytes;
    const size_t frame = jpgBomb.find("\xFF\xC0");
    ASSERT_NE(frame, std::string::npos);
    for (size_t at : {frame + 5, frame + 7}) {
        jpgBomb[at] = '\xC3';
        jpgBomb[at + 1] = '\x50';
    }

    struct Row {
        const char* name;
        std::string bytes;
        const char* from;
        ConversionError::Kind kind;
    };
    const Row rows[] = {
        {"truncated.jpg", jpgBytes.substr(0, jpgBytes.size() / 2), "jpg", ConversionError::Kind::corruptedInput},
        {"truncated.png", pngBytes.substr(0, pngBytes.size() / 2), "png", ConversionError::Kind::corruptedInput},
        {"bad-crc.png", badCrc, "png", ConversionError::Kind::corruptedInput},
        {"text.png", std::string(400, 't'), "png", ConversionError::Kind::corruptedInput},
        {"empty.png", "", "png", ConversionError::Kind::corruptedInput},
        {"postscript.ico", "%!PS-Adobe-3.0\n0 0 moveto showpage\n", "ico", ConversionError::Kind::corruptedInput},
        {"bomb.png", bomb, "png", ConversionError::Kind::corruptedInput},
        {"bomb.jpg", jpgBomb, "jpg", ConversionError::Kind::corruptedInput},
    };
    for (const auto& row : rows) {
        for (std::string to : {"webp", "png"}) {
            SCOPED_TRACE(std::string(row.name) + " → " + to);
            auto source = dir.write(row.name, row.bytes);
            auto out = dir / ("out." + to);
            for (const auto& options : {ConversionOptions{}, withTool("rotate")}) {
                ConversionOptions turned = options;
                if (turned.tool) turned.rotation = 90;
                const auto start = std::chrono::steady_clock::now();
                auto error = failure(imageJob(source, out, row.from, to, turned));
                EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
                EXPECT_EQ(error.kind(), row.kind) << error.what();
                // A pixel bomb says it is too large, not that it is damaged.
                EXPECT_EQ(error.circumstance() == ConversionError::Circumstance::tooLarge,
                          std::string(row.name).starts_with("bomb"))
                    << error.what();
                EXPECT_FALSE(fs::exists(out)) << "no partial output is left";
            }
        }
    }
}

TEST_F(ImageEngineTest, NeverOverwritesAndReportsUnwritablePlaces) {
    auto source = pngSource();
    // A name taken after the job was planned: the picture goes under the next free one.
    auto taken = dir.write("taken.jpg", "someone else's file");
    EXPECT_EQ(run(imageJob(source, taken, "png", "jpg")), std::vector<fs::path>{dir / "taken 2.jpg"});
    EXPECT_EQ(readFile(taken), "someone else's file");
    EXPECT_EQ(readFile(dir / "taken 2.jpg").substr(0, 2), "\xFF\xD8");

    auto nowhere = dir / "missing-folder" / "out.jpg";
    auto error = failure(imageJob(source, nowhere, "png", "jpg"));
    EXPECT_EQ(error.kind(), ConversionError::Kind::insufficientPermissions);
    EXPECT_EQ(error.url(), nowhere);

    EXPECT_EQ(failure(imageJob(dir / "absent.png", dir / "x.jpg", "png", "jpg")).kind(),
              ConversionError::Kind::corruptedInput);
    EXPECT_EQ(failure(imageJob(dir.path(), dir / "y.jpg", "png", "jpg")).kind(), ConversionError::Kind::corruptedInput);
}

TEST_F(ImageEngineTest, HandlesAwkwardFileNames) {
    auto source = pngSource();
    for (std::string name : {"-rf.png", "with space ü 写真.png", "--help.png"}) {
        auto named = dir / name;
        fs::copy_file(source, named);
        auto out = dir / (name + ".jpg");
        run(imageJob(named, out, "png", "jpg"));
        EXPECT_EQ(reload(out).width(), 40) << name;
    }
}

TEST_F(ImageEngineTest, ReportsRisingProgressAndHonoursCancellation) {
    auto source = pngSource();
    std::vector<double> seen;
    ConversionOptions options = withTool("rotate");
    options.rotation = 90;
    ImageEngine().convert(imageJob(source, dir / "p.jpg", "png", "jpg", options),
                          [&](double f) { seen.push_back(f); }, {});
    EXPECT_EQ(seen, (std::vector<double>{0.05, 0.2, 0.6, 0.85, 1.0}));

    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(ImageEngine().convert(imageJob(source, dir / "c.jpg", "png", "jpg"), {}, stop.get_token()),
                 OperationCancelled);
    EXPECT_FALSE(fs::exists(dir / "c.jpg"));

    // Cancelled once the output exists: it is removed again.
    std::stop_source late;
    auto job = imageJob(source, dir / "late.jpg", "png", "jpg");
    EXPECT_THROW(ImageEngine().convert(job, [&](double f) { if (f >= 0.2) late.request_stop(); }, late.get_token()),
                 OperationCancelled);
    EXPECT_FALSE(fs::exists(dir / "late.jpg"));
}

TEST_F(ImageEngineTest, ConvertsOnSeveralThreadsAtOnce) {
    auto source = pngSource(200, 100);
    std::atomic<int> done{0};
    std::vector<std::jthread> threads;
    for (int i = 0; i < 6; ++i) {
        threads.emplace_back([&, i] {
            ConversionOptions options = withTool("rotate");
            options.rotation = 90.0 * i;
            auto out = dir / ("t" + std::to_string(i) + ".webp");
            ImageEngine().convert(imageJob(source, out, "png", "webp", options), {}, {});
            ++done;
        });
    }
    threads.clear();
    EXPECT_EQ(done.load(), 6);
    // Pictures converted at once share the processors among libvips' threads; one alone gets all.
    const int processors = ConversionCoordinator::activeProcessorCount();
    {
        const image::VipsThreadShare first, second;
        EXPECT_EQ(vips_concurrency_get(), std::max(std::min(2, processors), processors / 2));
    }
    EXPECT_EQ(vips_concurrency_get(), processors);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(reload(dir / ("t" + std::to_string(i) + ".webp")).width(), i % 2 ? 100 : 200);
}

}  // namespace
}  // namespace kolvex
