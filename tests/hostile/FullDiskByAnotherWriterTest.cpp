// SPDX-License-Identifier: GPL-3.0-or-later
// A full disk told with true figures when the job is not alone on the volume: another process
// fills it while the job runs, or the job's many small files take far more blocks than bytes.
// The need is what the job writes, in the blocks the volume gives it; "free" is what is free
// once the disk was found full; the two never read the same.
#include <sys/statvfs.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <thread>

#include <gtest/gtest.h>

#include "RealEngines.h"
#include "TestPdfFiles.h"
#include "core/services/ByteCountFormatter.h"
#include "core/services/FileManagerService.h"
#include "core/services/ProcessRunner.h"
#include "support/SmallVolume.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

namespace fs = std::filesystem;

const RealEngines& engines() {
    static const RealEngines assembled = RealEngines::assemble();
    return assembled;
}

int64_t freeBytes(const fs::path& folder) {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0) return -1;
    return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

// What the outputs take on their volume.
int64_t blocksOf(const std::vector<fs::path>& outputs) {
    int64_t total = 0;
    for (const auto& output : outputs) total += FileManagerService::shared().allocatedSize(output).value_or(0);
    return total;
}

// Whether any file below `folder` other than `except` has bytes in it yet.
bool anyBytesWritten(const fs::path& folder, const fs::path& except) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path() == except) continue;
        std::error_code sized;
        if (it->is_regular_file(sized) && it->file_size(sized) > 0 && !sized) return true;
    }
    return false;
}

// Another process takes the volume's room once the job has written its first bytes there. Returns whether it did before `done` was set.
bool fillWhenTheJobWrites(const fs::path& volume, const std::atomic<bool>& done) {
    const fs::path filler = volume / "another-writer";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!anyBytesWritten(volume, filler)) {
        if (done || std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    // All but half a megabyte, which the job fills itself: a request for every byte would race
    // the job's own writes, and a tmpfs gives back all of a request that fails.
    for (int64_t ask = (freeBytes(volume) - (int64_t{512} << 10)) / 4096 * 4096; ask > 0; ask -= int64_t{256} << 10) {
        const auto result = ProcessRunner().run("/usr/bin/fallocate", {"-l", std::to_string(ask), filler.string()},
                                                std::chrono::seconds(60), nullptr, nullptr);
        if (result.succeeded()) return !done;
    }
    return false;
}

struct Case {
    const char* name;
    EngineID engine;
    const char* from;
    const char* to;
    std::optional<std::string> tool;
    int64_t volumeBytes;
    bool anotherWriter;  // else the job fills the volume itself
    std::function<void(const fs::path& file)> make;
};

const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        // Sixty text pages as PNG, some 60 KB each; the volume has room for all of them until
        // another process takes it.
        {"text pages to png", engine_ids::pdf, "pdf", "png", std::nullopt, int64_t{32} << 20, true,
         [](const fs::path& file) { writeTestPdf(file, numberedPages(60, 600, 800)); }},
        // Three thousand one-line pages, each part a couple of KB in a block of 4 KB: 12 MB of
        // blocks for 2 MB of bytes, onto 4 MB.
        {"split into small parts", engine_ids::pdf, "pdf", "pdf", std::string("split"), int64_t{4} << 20, false,
         [](const fs::path& file) { writeTestPdf(file, numberedPages(3000)); }},
    };
    return all;
}

ConversionJob jobFor(const Case& c, const fs::path& source, const fs::path& folder) {
    const auto from = engines().registry.format(FormatID(c.from));
    const auto to = engines().registry.format(FormatID(c.to));
    EXPECT_TRUE(from && to) << c.name;
    ConversionOptions options = ConversionOptions::defaults();
    options.tool = c.tool;
    const ConversionCapability capability{from->id, to->id, c.engine, ConversionCost::inProcess, false};
    const std::string name = c.to == std::string("gzip") ? "payload" : "out." + to->canonicalExtension();
    return ConversionJob(source, {}, folder / name, *from, *to, capability, options);
}

TEST(FullDiskByAnotherWriter, TheNeedIsWhatTheJobWritesAndFreeIsWhatIsLeft) {
    int checked = 0;
    for (const auto& c : cases()) {
        SCOPED_TRACE(c.name);
        if (!engines().has(c.engine)) continue;
        TempDir made;
        const fs::path source = made / (std::string("source.") + c.from);
        c.make(source);

        // With room, on the same kind of volume: what the job writes, in blocks.
        SmallVolume roomy(int64_t{256} << 20);
        if (!roomy.available()) GTEST_SKIP() << roomy.whyNot();
        const auto coordinator = engines().coordinator();
        const auto withRoom = coordinator->run({jobFor(c, source, roomy.path())});
        ASSERT_TRUE(withRoom.at(0).succeeded()) << withRoom.at(0).error->shortDescription();
        const int64_t wrote = blocksOf(withRoom.at(0).outputs);

        SmallVolume volume(c.volumeBytes);
        ASSERT_TRUE(volume.available()) << volume.whyNot();
        const int64_t freeAtStart = freeBytes(volume.path());
        if (c.anotherWriter) {
            ASSERT_LT(wrote, freeAtStart / 2) << "the job alone would fill the volume: no test";
        } else {
            ASSERT_GT(wrote, freeAtStart) << "the job fits: no test";
        }

        std::atomic<bool> done{false};
        std::atomic<bool> filled{false};
        std::thread writer;
        if (c.anotherWriter) writer = std::thread([&] { filled = fillWhenTheJobWrites(volume.path(), done); });
        const auto results = coordinator->run({jobFor(c, source, volume.path())});
        done = true;
        if (writer.joinable()) writer.join();
        if (c.anotherWriter) {
            ASSERT_TRUE(filled) << "the other writer came too late: the job had ended";
        }
        const int64_t freeAfter = freeBytes(volume.path());

        const auto& result = results.at(0);
        ASSERT_TRUE(result.error) << "the job fit after all";
        const ConversionError& error = *result.error;
        ASSERT_EQ(error.kind(), ConversionError::Kind::insufficientDiskSpace)
            << error.shortDescription() << ": " << error.diagnosticDetail().value_or("");
        std::cout << c.name << ": \"" << error.shortDescription() << "\"; it writes " << wrote << " bytes of blocks; "
                  << freeAtStart << " free at the start, " << freeAfter << " after\n";
        EXPECT_NE(ByteCountFormatter::file(error.required()), ByteCountFormatter::file(error.available()));
        EXPECT_GT(error.required(), error.available());
        // The need is the job's own output in blocks, within a factor of two.
        EXPECT_GE(error.required(), wrote / 2);
        EXPECT_LE(error.required(), wrote * 2);
        // Free is what the volume has once the job is over, not the room it had at the start.
        EXPECT_LE(error.available(), freeAfter + (int64_t{64} << 10));
        EXPECT_GE(error.available(), std::max<int64_t>(freeAfter - (int64_t{64} << 10), 0));
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(volume.path(), ec))
            EXPECT_EQ(entry.path().filename(), "another-writer") << "left behind";
        ++checked;
    }
    EXPECT_GE(checked, 2);
}

}  // namespace
}  // namespace kolvex::testing
