// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdint>
#include <filesystem>
#include <limits>
#include <fstream>
#include <map>
#include <optional>

#include <gtest/gtest.h>

#include "core/conversion/SizeEstimator.h"
#include "support/FakeEngines.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::FakeEngine;
using testing::TempDir;

// File sizes given by the test.
class SizedFiles final : public FileManagerService {
public:
    explicit SizedFiles(std::map<fs::path, int64_t> sizes) : m_sizes(std::move(sizes)) {}
    std::optional<int64_t> size(const fs::path& path) const override {
        auto found = m_sizes.find(path);
        if (found == m_sizes.end()) return std::nullopt;
        return found->second;
    }

private:
    std::map<fs::path, int64_t> m_sizes;
};

Format mediaFormat(const std::string& id, FormatCategory category) {
    return Format{FormatID(id), category, {id}, {}, {}, id};
}

bool mp4TakesAac(const std::string& codec, const FormatID& container) {
    return codec == "aac" && container == FormatID("mp4");
}

TEST(SizeEstimator, RatesRiseWithQualityBetweenAFloorAndTheSource) {
    for (double quality : {-1.0, 0.0, 0.5, 1.0, 2.0})
        EXPECT_EQ(SizeEstimator::compressedVideoBitrate(quality, 100000), 120000) << "the floor, " << quality;
    EXPECT_EQ(SizeEstimator::compressedVideoBitrate(-0.5, 4000000), SizeEstimator::compressedVideoBitrate(0, 4000000));
    EXPECT_LT(SizeEstimator::compressedVideoBitrate(0, 4000000), SizeEstimator::compressedVideoBitrate(1, 4000000));
    EXPECT_LT(SizeEstimator::compressedVideoBitrate(2, 4000000), 4000000) << "a compress always shrinks";
    EXPECT_LT(SizeEstimator::compressedAudioBitrate(0.5, 128000), SizeEstimator::compressedAudioBitrate(1, 128000));
    EXPECT_EQ(SizeEstimator::compressedAudioBitrate(0, 40000), 32000) << "the audio floor";

    EXPECT_EQ(SizeEstimator::pixels(1280, 1920, 1080), 921600) << "the longest side scaled, the aspect kept";
    EXPECT_EQ(SizeEstimator::pixels(4000, 1920, 1080), 2073600) << "never above the source";
    EXPECT_EQ(SizeEstimator::pixels(1, 1920, 1), 1) << "never below one pixel";
    const int64_t fullHd = int64_t{1920} * 1080;
    EXPECT_EQ(SizeEstimator::resizedVideoBitrate(1, fullHd, 5000000), 5000000) << "never above the source";
    EXPECT_EQ(SizeEstimator::resizedVideoBitrate(1, fullHd, std::nullopt), SizeEstimator::videoBitrate(1.0, fullHd));
    EXPECT_EQ(SizeEstimator::resizedVideoBitrate(1, fullHd, 50000), 120000) << "unless the source is below the floor";
}

TEST(SizeEstimator, MediaSizes) {
    EXPECT_EQ(SizeEstimator::estimatedMediaSize(60, 1000000, 128000), 8629200);
    EXPECT_EQ(SizeEstimator::estimatedMediaSize(0, 1000000, 128000), 0);

    const fs::path movie = "/media/movie.mp4";
    const SizedFiles files({{movie, 10000000}, {"/media/empty.mp4", 0}});
    MediaProbe probe;
    probe.videoCodec = "h264";
    probe.audioCodec = "aac";
    probe.durationSeconds = 10;
    probe.audioBitrate = 128000;

    const auto mp4 = mediaFormat("mp4", FormatCategory::video);
    const auto webm = mediaFormat("webm", FormatCategory::video);
    const auto m4a = mediaFormat("m4a", FormatCategory::audio);
    EXPECT_EQ(SizeEstimator::estimatedCompressedSize(movie, probe, 0.5, mp4, mp4TakesAac, files), 5332152)
        << "the container takes the audio as it is";
    EXPECT_EQ(SizeEstimator::estimatedCompressedSize(movie, probe, 0.5, webm, mp4TakesAac, files), 5262792);
    EXPECT_EQ(SizeEstimator::estimatedCompressedSize(movie, probe, 0.5, m4a, mp4TakesAac, files), 93840)
        << "an audio target ignores the video";
    EXPECT_EQ(SizeEstimator::estimatedCompressedSize("/media/empty.mp4", probe, 0.5, mp4, mp4TakesAac, files),
              std::nullopt);

    MediaProbe noDuration = probe;
    noDuration.durationSeconds.reset();
    EXPECT_EQ(SizeEstimator::estimatedCompressedSize(movie, noDuration, 0.5, mp4, mp4TakesAac, files), std::nullopt);
    MediaProbe silentAudioTarget = probe;
    silentAudioTarget.audioCodec.reset();
    EXPECT_EQ(SizeEstimator::estimatedCompressedSize(movie, silentAudioTarget, 0.5, m4a, mp4TakesAac, files),
              std::nullopt);
    MediaProbe unknownRate = probe;
    unknownRate.videoCodec.reset();
    unknownRate.audioBitrate.reset();
    auto lossyM4a = m4a;
    lossyM4a.capabilities = {FormatCapability::lossy};
    EXPECT_EQ(SizeEstimator::estimatedCompressedSize(movie, unknownRate, 1, lossyM4a, {}, files),
              SizeEstimator::estimatedMediaSize(10, 0, 102400)) << "128 kbit/s is assumed";
}

TEST(SizeEstimator, FileRates) {
    const SizedFiles files({{"/a.mp3", 1000}, {"/empty.mp3", 0}, {"/huge.mp4", int64_t{1} << 62}});
    EXPECT_EQ(SizeEstimator::bitrate("/a.mp3", 2.0, files), 4000);
    EXPECT_EQ(SizeEstimator::bitrate("/a.mp3", 0.0, files), std::nullopt);
    EXPECT_EQ(SizeEstimator::bitrate("/a.mp3", std::nullopt, files), std::nullopt);
    EXPECT_EQ(SizeEstimator::bitrate("/empty.mp3", 2.0, files), std::nullopt);
    EXPECT_EQ(SizeEstimator::bitrate("/missing.mp3", 2.0, files), std::nullopt);
    EXPECT_EQ(SizeEstimator::bitrate("/huge.mp4", 1e-300, files), std::numeric_limits<int64_t>::max())
        << "held within range";

    MediaProbe probe;
    probe.durationSeconds = 1;
    probe.audioBitrate = 7000;
    EXPECT_EQ(SizeEstimator::videoBitrate(fs::path("/a.mp3"), probe, files), 120000);
    probe.durationSeconds = 0.0001;
    EXPECT_EQ(SizeEstimator::videoBitrate(fs::path("/a.mp3"), probe, files), 80000000 - 7000);
    EXPECT_EQ(SizeEstimator::format(1500000), "1.5 MB");
}

TEST(SizeEstimator, MeasuredImageSizeRunsACompressTrialInAScratchFolder) {
    TempDir dir;
    auto image = dir.write("photo.jpg", "source");
    fs::path trialFolder;
    auto engine = FakeEngine::make("image", [&](const ConversionJob& job, const ProgressCallback&, std::stop_token) {
        trialFolder = job.destination.parent_path();
        std::ofstream(job.destination) << std::string(1234, 'x');
        return std::vector<fs::path>{job.destination};
    });
    const Format jpeg{FormatID("jpg"), FormatCategory::image, {"JPG", "jpeg"}, {"image/jpeg"}, {}, "JPEG"};

    EXPECT_EQ(SizeEstimator::measuredImageSize(*engine, image, jpeg, 0.4, 800, false), 1234);
    ASSERT_EQ(engine->convertedJobs().size(), 1u);
    const ConversionJob job = engine->convertedJobs().front();
    EXPECT_EQ(job.source, image);
    EXPECT_EQ(job.destination.filename(), "probe.JPG");
    EXPECT_EQ(job.from, jpeg);
    EXPECT_EQ(job.to, jpeg);
    EXPECT_EQ(job.capability,
              (ConversionCapability{FormatID("jpg"), FormatID("jpg"), engine_ids::image, ConversionCost::inProcess, false}));
    EXPECT_EQ(job.options.tool, "compress");
    EXPECT_EQ(job.options.quality, 0.4);
    EXPECT_EQ(job.options.maxDimension, 800);
    EXPECT_FALSE(job.options.preserveMetadata);
    EXPECT_TRUE(job.options.allowPassthrough);
    EXPECT_FALSE(fs::exists(trialFolder)) << "the scratch folder is removed";

    auto failing = FakeEngine::make("image", FakeEngine::fails(ConversionError::corruptedInput(image)));
    EXPECT_EQ(SizeEstimator::measuredImageSize(*failing, image, jpeg, 0.4, std::nullopt, true), std::nullopt);
    auto foreign = FakeEngine::make("image", FakeEngine::throwsForeign("boom"));
    EXPECT_EQ(SizeEstimator::measuredImageSize(*foreign, image, jpeg, 0.4, std::nullopt, true), std::nullopt);
}

}  // namespace
}  // namespace kolvex
