// SPDX-License-Identifier: GPL-3.0-or-later
// A batch of pictures that fills the disk, through the coordinator on a volume that really fills
// up: every file that did not fit says what it needs, whichever saver wrote it and however the
// jobs that ran beside it ended.

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <vips/vips8>

#include "ImageFixtures.h"
#include "core/conversion/ConversionCoordinator.h"
#include "core/engines/image/ImageEngine.h"
#include "core/engines/image/ImageFormatTable.h"
#include "core/engines/image/VipsRuntime.h"
#include "core/format/ConversionError.h"
#include "core/format/FormatRegistry.h"
#include "support/SmallVolume.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using namespace kolvex::testing;
using vips::VImage;

constexpr int kFiles = 8;
// Batches run again: a full disk meets jobs that run side by side at different moments.
constexpr int kRounds = 3;

// A grainy photo: every codec keeps its grain, so the outputs are megabytes from small sources.
void grainyJpeg(const fs::path& file, int width, int height, int seed) {
    image::ensureVipsStarted();
    VImage noise = VImage::gaussnoise(width, height, VImage::option()->set("sigma", 40)->set("mean", 128)->set("seed", seed));
    VImage picture = VImage::bandjoin(std::vector<VImage>{noise, noise.rot180(), noise.fliphor()})
                         .cast(VIPS_FORMAT_UCHAR)
                         .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    picture.jpegsave(file.c_str(), VImage::option()->set("Q", 60));
}

// The formats ImageMagick writes: its savers write only by name, so the engine cannot hand them
// a file of its own to write into. Derived from the manifest's targets and the codec table.
std::vector<Format> writtenByName(const FormatRegistry& registry) {
    std::vector<Format> formats;
    for (const Format& format : registry.manifest().formats) {
        if (format.category != FormatCategory::image) continue;
        const image::ImageCodec* codec = image::ImageFormatTable::writable(format);
        if (!codec) continue;
        const std::string target = std::string(codec->saver) + "_target";
        if (vips_type_find("VipsOperation", target.c_str()) == 0) formats.push_back(format);
    }
    return formats;
}

TEST(ImageFullDisk, EveryFileThatDidNotFitSaysWhatItNeeds) {
    const FormatRegistry registry = FormatRegistry::loadBundled();
    image::ensureVipsStarted();
    const std::vector<Format> targets = writtenByName(registry);
    if (targets.empty()) GTEST_SKIP() << "no format here is written by ImageMagick";
    const Format jpeg = *registry.format(FormatID("jpg"));
    ConversionCoordinator coordinator(registry, {std::make_shared<ImageEngine>()}, ConversionCoordinator::sharedFiles(),
                                      kFiles);

    for (const Format& target : targets) {
        SCOPED_TRACE(target.id.rawValue);
        const image::ImageCodec* codec = image::ImageFormatTable::writable(target);
        const int side = codec->maxSide > 0 ? codec->maxSide : 1500;
        TempDir made;
        std::vector<fs::path> sources;
        const auto jobsInto = [&](const fs::path& folder) {
            std::vector<ConversionJob> jobs;
            for (const auto& source : sources) {
                jobs.emplace_back(source, std::vector<fs::path>{}, folder / (source.stem().string() + "." + target.canonicalExtension()),
                                  jpeg, target, ConversionCapability{jpeg.id, target.id, engine_ids::image},
                                  ConversionOptions::defaults());
            }
            return jobs;
        };

        // With room: what each file takes. Every job must pass the check made before it starts
        // (its source's size, a tenth more and a megabyte), so that the engines themselves meet
        // the full disk: small files (icons) come in larger batches, so that half of them still
        // passes that.
        std::map<fs::path, int64_t> sizes;
        int64_t total = 0;
        int64_t room = 0;
        while (sources.size() < 6 * kFiles && total <= 2 * room) {
            for (int i = 0; i < kFiles; ++i) {
                const int index = static_cast<int>(sources.size());
                sources.push_back(made / ("photo" + std::to_string(index) + ".jpg"));
                grainyJpeg(sources.back(), side, side * 2 / 3, index + 1);
            }
            TempDir roomy;
            total = 0;
            int64_t largestSource = 0;
            for (const auto& result : coordinator.run(jobsInto(roomy.path()))) {
                ASSERT_TRUE(result.succeeded()) << (result.error ? result.error->shortDescription() : "no output");
                sizes[result.source] = static_cast<int64_t>(fs::file_size(*result.output()));
                total += sizes[result.source];
                largestSource = std::max(largestSource, static_cast<int64_t>(fs::file_size(result.source)));
            }
            room = largestSource * 11 / 10 + (int64_t{1} << 20) + (int64_t{64} << 10);
        }
        room = std::max(room, total / 2);
        ASSERT_GT(total, room) << "the volume holds every output: no test";
        int failed = 0;
        for (int round = 0; round < kRounds; ++round) {
            SCOPED_TRACE("round " + std::to_string(round + 1));
            SmallVolume volume(room);
            if (!volume.available()) GTEST_SKIP() << volume.whyNot();
            const auto results = coordinator.run(jobsInto(volume.path()));
            std::vector<fs::path> written;
            for (const auto& result : results) {
                if (result.succeeded()) {
                    written.push_back(*result.output());
                    EXPECT_EQ(headerField(*result.output(), "width"), std::to_string(side));
                    continue;
                }
                ++failed;
                ASSERT_TRUE(result.error);
                const ConversionError& error = *result.error;
                ASSERT_EQ(error.kind(), ConversionError::Kind::insufficientDiskSpace)
                    << result.source << ": " << error.shortDescription() << "\n" << error.diagnosticDetail().value_or("");
                EXPECT_GE(error.required(), sizes[result.source]) << result.source << ": " << error.shortDescription();
                EXPECT_LT(error.available(), error.required()) << error.shortDescription();
            }
            // Only whole files are left.
            std::vector<fs::path> present;
            for (const auto& entry : fs::directory_iterator(volume.path())) present.push_back(entry.path());
            std::sort(present.begin(), present.end());
            std::sort(written.begin(), written.end());
            EXPECT_EQ(present, written);
            EXPECT_GE(freeBytes(volume.path()), 0);
        }
        EXPECT_GT(failed, 0);
    }
}

}  // namespace
}  // namespace kolvex
