// SPDX-License-Identifier: GPL-3.0-or-later
#include <atomic>
#include <chrono>
#include <cmath>
#include <latch>
#include <optional>
#include <stop_token>
#include <thread>

#include <gtest/gtest.h>

#include "PdfFixtures.h"
#include "core/conversion/ConversionCoordinator.h"
#include "core/engines/pdf/PDFEngine.h"
#include "core/engines/pdf/ParallelPageWriter.h"
#include "core/format/FormatRegistry.h"
#include "core/services/Cancellation.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

// Eight jobs at once, as the coordinator runs them: renders, compresses and text reads all
// enter poppler together.
TEST(PDFEngineConcurrency, EightJobsAtOnceAllFinishCorrectly) {
    TempDir dir;
    constexpr int kJobs = 8;
    for (int i = 0; i < kJobs; ++i) writeTestPdf(dir / ("in" + std::to_string(i) + ".pdf"), numberedPages(6));
    const PDFEngine engine(FileManagerService::shared(),
                           [](const ConversionJob& job, const std::string&, const ProgressCallback&, std::stop_token) {
                               return job.destination;
                           });
    ConversionOptions lowDpi = ConversionOptions::defaults();
    lowDpi.dpi = 72;

    std::vector<std::vector<std::filesystem::path>> outputs(kJobs);
    std::vector<std::string> errors(kJobs);
    std::latch start(kJobs);
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < kJobs; ++i) {
            threads.emplace_back([&, i] {
                const auto source = dir / ("in" + std::to_string(i) + ".pdf");
                const auto stem = "out" + std::to_string(i);
                start.arrive_and_wait();
                try {
                    if (i % 4 == 3) {
                        outputs[i] = engine.convert(toolJob("compress", source, dir / (stem + ".pdf"), lowDpi), {}, {});
                    } else if (i % 4 == 2) {
                        outputs[i] =
                            engine.convert(makeJob(source, dir / (stem + ".txt"), pdfFormat(), textFormat("txt")), {}, {});
                    } else {
                        outputs[i] = engine.convert(
                            makeJob(source, dir / (stem + ".png"), pdfFormat(), imageFormat("png", "image/png", "png"), lowDpi),
                            {}, {});
                    }
                } catch (const std::exception& error) {
                    errors[i] = error.what();
                }
            });
        }
    }
    for (int i = 0; i < kJobs; ++i) {
        EXPECT_EQ(errors[i], "") << i;
        if (i % 4 == 0 || i % 4 == 1) {
            ASSERT_EQ(outputs[i].size(), 6u) << i;
            EXPECT_EQ(imageSize(outputs[i][5]), std::make_pair(200, 100));
            EXPECT_EQ(pixelAt(outputs[i][5], 5, 95), (std::vector<double>{255, 0, 0}));
        } else {
            EXPECT_EQ(outputs[i].size(), 1u) << i;
        }
    }
}

TEST(ParallelPageWriter, HandsPagesBackInOrderAndStopsAtTheFirstFailure) {
    TempDir dir;
    PageBitmap page;
    page.width = 10;
    page.height = 10;
    // Later pages finish first; page 7 cannot be written.
    auto save = [](const PageBitmap&, const std::filesystem::path& url) {
        const int n = std::stoi(url.stem().string());
        std::this_thread::sleep_for(std::chrono::milliseconds(20 - 2 * n));
        if (n == 7) throw ConversionError::backendFailure("pdf", -1, "could not write page image");
        StagedOutput output(url);
        output.write(url.filename().string());
        return output;
    };
    {
        ParallelPageWriter writer(save, 4);
        for (int n = 1; n <= 6; ++n) writer.submit(page, dir / (std::to_string(n) + ".txt"));
        std::vector<StagedOutput> saved = writer.finish();
        ASSERT_EQ(saved.size(), 6u);
        for (int n = 1; n <= 6; ++n) EXPECT_EQ(saved[static_cast<size_t>(n - 1)].destination(), dir / (std::to_string(n) + ".txt"));
        StagedOutput::commitAll(saved);
    }
    EXPECT_EQ(filesIn(dir.path()).size(), 6u);

    TempDir failing;
    EXPECT_THROW(
        {
            ParallelPageWriter writer(save, 3);
            for (int n = 1; n <= 9; ++n) writer.submit(page, failing / (std::to_string(n) + ".txt"));
            writer.finish();
        },
        ConversionError);
    EXPECT_TRUE(filesIn(failing.path()).empty()) << "nothing staged is left behind";
}

// Documents rendered at once in a batch share one budget of page bitmaps: a page of one waits,
// before it is drawn, for the pages of another to be saved.
TEST(ParallelPageWriter, WritersShareOneBudgetForTheWholeBatch) {
    TempDir dir;
    auto save = [](const PageBitmap&, const std::filesystem::path& url) {
        StagedOutput output(url);
        output.write("page");
        return output;
    };
    // Half the budget each: two fit, a third waits.
    const int side = static_cast<int>(std::sqrt(static_cast<double>(ParallelPageWriter::kMaxBytesInFlight / 6)));
    const size_t half = static_cast<size_t>(side) * static_cast<size_t>(side) * 3;
    ASSERT_EQ(ParallelPageWriter::bytesInFlight(), 0u);
    std::optional<ParallelPageWriter> first(std::in_place, save, 1);
    std::optional<ParallelPageWriter> second(std::in_place, save, 1);
    first->reserve(side, side);
    second->reserve(side, side);
    EXPECT_EQ(ParallelPageWriter::bytesInFlight(), 2 * half);

    std::atomic<bool> drawn = false;
    std::thread third([&] {
        ParallelPageWriter writer(save, 1);
        writer.reserve(side, side);
        drawn = true;
        PageBitmap page;
        page.width = page.height = side;
        writer.submit(std::move(page), dir / "third.txt");
        writer.finish();
    });
    // A job cancelled while its page waits for room ends at once, having taken nothing.
    std::stop_source cancel;
    std::thread cancelled([&] {
        ParallelPageWriter writer(save, 1);
        EXPECT_THROW(writer.reserve(side, side, cancel.get_token()), OperationCancelled);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(drawn) << "a page was drawn beyond the batch's budget";
    cancel.request_stop();
    cancelled.join();
    EXPECT_EQ(ParallelPageWriter::bytesInFlight(), 2 * half);
    // A page reserved and never drawn (the job failed) gives its share back with its writer.
    second.reset();
    third.join();
    EXPECT_TRUE(drawn);
    first.reset();
    EXPECT_EQ(ParallelPageWriter::bytesInFlight(), 0u) << "every page gave its share back";
}

TEST(PDFEngineConcurrency, EightRendersThroughTheCoordinator) {
    TempDir dir;
    constexpr int kJobs = 8;
    FormatManifest manifest;
    manifest.formats = {pdfFormat(), imageFormat("png", "image/png", "png")};
    ConversionCoordinator coordinator(FormatRegistry(manifest), {std::make_shared<PDFEngine>()},
                                      ConversionCoordinator::sharedFiles(), kJobs);
    ConversionOptions options = ConversionOptions::defaults();
    options.dpi = 72;
    std::vector<ConversionJob> jobs;
    for (int i = 0; i < kJobs; ++i) {
        const auto source = dir / ("doc" + std::to_string(i) + ".pdf");
        writeTestPdf(source, numberedPages(4));
        jobs.push_back(makeJob(source, dir / ("doc" + std::to_string(i) + ".png"), pdfFormat(),
                               imageFormat("png", "image/png", "png"), options));
    }
    ASSERT_EQ(coordinator.concurrencyLimit(jobs), kJobs);
    auto results = coordinator.run(jobs);
    ASSERT_EQ(results.size(), static_cast<size_t>(kJobs));
    for (const auto& result : results) {
        EXPECT_TRUE(result.succeeded()) << (result.error ? result.error->shortDescription() : "");
        ASSERT_EQ(result.outputs.size(), 4u);
        EXPECT_EQ(pixelAt(result.outputs[3], 5, 95), (std::vector<double>{255, 0, 0}));
    }
}

}  // namespace
}  // namespace kolvex::testing
