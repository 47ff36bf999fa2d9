// SPDX-License-Identifier: GPL-3.0-or-later
// What a full disk is told as, through the real coordinator and engines on a disk that really
// fills up: the need of the whole job, judged from what the job writes, and the room there was.
// Each job is first run where it has room, to learn what it writes.

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>

#include <gtest/gtest.h>

#include "SharedEngines.h"
#include "TestPdfFiles.h"
#include "core/services/ProcessRunner.h"
#include "support/BinaryFixtures.h"
#include "support/MediaFixtures.h"
#include "support/SmallVolume.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

namespace fs = std::filesystem;

int64_t bytesOf(const std::vector<fs::path>& outputs) {
    int64_t total = 0;
    for (const auto& output : outputs) total += static_cast<int64_t>(fs::file_size(output));
    return total;
}

// One kind of job that writes megabytes from a small source, `files` of them in one batch.
struct FullDiskCase {
    const char* name;
    EngineID engine;
    const char* from;
    const char* to;
    std::optional<std::string> tool;
    int files;
    std::function<void(const fs::path& file, int index)> make;
    // Its first pieces already show that the rest cannot fit: refused before half of it is done.
    bool refusedEarly;
};

std::vector<TestPage> grainyPages(int count) {
    auto pages = numberedPages(count, 600, 300);
    for (auto& page : pages) {
        page.photoWidth = 200;
        page.photoHeight = 100;
        page.photoBox = {0, 0, 600, 300};
    }
    return pages;
}

std::string sharedPicturePdf(int count) {
    std::string samples;
    for (uint32_t i = 0, x = 99; i < 32 * 32 * 3; ++i) {
        x = x * 1103515245u + 12345u;
        samples.push_back(static_cast<char>(x >> 24));
    }
    std::vector<std::string> objects{"<< /Type /Catalog /Pages 2 0 R >>", "",
                                     "<< /Type /XObject /Subtype /Image /Width 32 /Height 32 /ColorSpace /DeviceRGB "
                                     "/BitsPerComponent 8 /Length " + std::to_string(samples.size()) + " >>\nstream\n" +
                                         samples + "\nendstream"};
    std::string kids;
    for (int page = 1; page <= count; ++page) {
        const std::string content = "q 100 0 0 100 0 0 cm /Im0 Do Q";
        const size_t number = objects.size() + 1;
        kids += std::to_string(number) + " 0 R ";
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Resources << /XObject << /Im0 3 0 R "
                          ">> >> /Contents " + std::to_string(number + 1) + " 0 R >>");
        objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(count) + " >>";
    return pdfFromObjects(objects);
}

const std::vector<FullDiskCase>& cases() {
    static const std::vector<FullDiskCase> all = {
        // Pages of about 140 KB each as PNG at the default 300 dpi from a small source, a third
        // more than the disk holds.
        {"pdf to png", engine_ids::pdf, "pdf", "png", std::nullopt, 1,
         [](const fs::path& file, int) { writeTestPdf(file, grainyPages(40)); }, true},
        // Pages sharing one small picture: the source holds it once, every part a copy of its
        // own, about 3.5 KB each, a third more than the disk holds.
        {"pdf split", engine_ids::pdf, "pdf", "pdf", std::string("split"), 1,
         [](const fs::path& file, int) { std::ofstream(file, std::ios::binary) << sharedPicturePdf(1600); }, true},
        // WebP pictures of a few megabytes each from grainy JPEGs: the first fits, the others not.
        {"image batch", engine_ids::image, "jpg", "webp", std::nullopt, 3,
         [](const fs::path& file, int index) {
             makeMedia(file, {"-f", "lavfi", "-i", "color=c=0x708090:s=2000x1500",
                              "-vf", "noise=alls=40:allf=t,noise=alls=" + std::to_string(30 + index), "-frames:v", "1",
                              "-q:v", "3"});
         },
         false},
        // A single gzip stream that unpacks to 8 MB.
        {"gzip stream", engine_ids::archive, "gzip", "gzip", std::string("extract"), 1,
         [](const fs::path& file, int) {
             std::string text;
             for (uint32_t i = 0, x = 7; text.size() < (8u << 20); ++i) {
                 x = x * 1103515245u + 12345u;
                 text += std::to_string(x >> 28) + (i % 12 == 11 ? "\n" : " ");
             }
             const fs::path plain = file.parent_path() / "payload.txt";
             std::ofstream(plain, std::ios::binary) << text;
             const auto packed = ProcessRunner().run("/bin/sh", {"-c", "gzip -c \"$0\" > \"$1\" && rm \"$0\"",
                                                                 plain.string(), file.string()},
                                                     std::chrono::seconds(30), nullptr, nullptr);
             ASSERT_TRUE(packed.succeeded()) << packed.standardError();
         },
         false},
    };
    return all;
}

class FullDiskFigures : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveFFmpeg()) GTEST_SKIP() << "ffmpeg is not installed: the pictures are made with it";
        m_coordinator = sharedEngines().coordinator();
    }

    std::vector<ConversionJob> jobs(const FullDiskCase& c, const std::vector<fs::path>& sources,
                                    const fs::path& folder) const {
        const auto from = sharedEngines().registry.format(FormatID(c.from));
        const auto to = sharedEngines().registry.format(FormatID(c.to));
        EXPECT_TRUE(from && to) << c.name;
        std::vector<ConversionJob> planned;
        if (!from || !to) return planned;
        ConversionOptions options = ConversionOptions::defaults();
        options.tool = c.tool;
        const ConversionCapability capability{from->id, to->id, c.engine, ConversionCost::inProcess, false};
        for (const auto& source : sources) {
            const std::string stem = source.stem().string();
            planned.emplace_back(source, std::vector<fs::path>{},
                                 folder / (stem + (c.to == std::string("gzip") ? "" : "-out.") +
                                           (c.to == std::string("gzip") ? "" : to->canonicalExtension())),
                                 *from, *to, capability, options);
        }
        return planned;
    }

    std::unique_ptr<ConversionCoordinator> m_coordinator;
};

TEST_F(FullDiskFigures, AFullDiskNamesWhatTheJobWritesAndTheRoomThereWas) {
    for (const auto& c : cases()) {
        SCOPED_TRACE(c.name);
        if (!sharedEngines().has(c.engine)) continue;
        TempDir made;
        std::vector<fs::path> sources;
        for (int i = 0; i < c.files; ++i) {
            sources.push_back(made / (std::string("source") + std::to_string(i) + "." + c.from));
            c.make(sources.back(), i);
        }

        // With room: what each job writes.
        TempDir roomy;
        std::map<fs::path, int64_t> written;
        for (const auto& result : m_coordinator->run(jobs(c, sources, roomy.path()))) {
            ASSERT_TRUE(result.succeeded()) << (result.error ? result.error->shortDescription() : "no outputs");
            written[result.source] = bytesOf(result.outputs);
        }

        SmallVolume volume(int64_t{4} << 20);
        if (!volume.available()) GTEST_SKIP() << volume.whyNot();
        const int64_t freeAtStart = freeBytes(volume.path());
        int64_t total = 0;
        for (const auto& [source, bytes] : written) total += bytes;
        ASSERT_GT(total, freeAtStart) << "the volume holds every output: no test";
        // Sources small enough to pass the check made before any job starts (their size, a
        // tenth more and a megabyte): the engine itself meets the full disk.
        for (const auto& source : sources) {
            ASSERT_LT(static_cast<int64_t>(fs::file_size(source)) * 11 / 10 + (int64_t{1} << 20), freeAtStart)
                << source;
        }

        std::atomic<double> furthest{0};
        const auto results = m_coordinator->run(jobs(c, sources, volume.path()), [&](const BatchProgress& report) {
            if (report.completed < report.total) furthest = std::max(furthest.load(), report.fraction);
        });
        int failed = 0;
        for (const auto& result : results) {
            if (!result.error) continue;
            ++failed;
            const ConversionError& error = *result.error;
            ASSERT_EQ(error.kind(), ConversionError::Kind::insufficientDiskSpace) << error.shortDescription();
            const int64_t wrote = written.at(result.source);
            SCOPED_TRACE(error.shortDescription() + ", written with room: " + std::to_string(wrote));
            std::cout << c.name << ": \"" << error.shortDescription() << "\" (" << error.required() << " of "
                      << error.available() << "); written with room: " << wrote << " bytes\n";
            // The need is the job's own output, within a factor of two, and more than the room.
            EXPECT_GE(error.required(), wrote / 2);
            EXPECT_LE(error.required(), wrote * 2);
            EXPECT_GT(error.required(), error.available());
            // The room is what the volume had for the job, not more.
            EXPECT_LE(error.available(), freeAtStart + (int64_t{64} << 10));
        }
        EXPECT_GE(failed, 1) << "nothing met the full disk";
        if (c.refusedEarly) {
            EXPECT_LT(furthest.load(), 0.5) << "refused only once the disk was full";
        }
    }
}

}  // namespace
}  // namespace kolvex::testing
