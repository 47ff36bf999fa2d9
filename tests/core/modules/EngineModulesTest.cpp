// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/format/ConversionError.h"
#include "core/format/FormatRegistry.h"
#include "core/modules/EngineModules.h"
#include "core/modules/LazyEngine.h"
#include "core/services/ModuleLoader.h"
#include "core/services/ProcessMemory.h"
#include "support/BinaryFixtures.h"
#include "support/ExternalTool.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

namespace fs = std::filesystem;

// Whether a library whose file name contains `name` is mapped into this process.
bool mapped(const std::string& name) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        const auto slash = line.rfind('/');
        if (slash != std::string::npos && line.find(name, slash) != std::string::npos) return true;
    }
    return false;
}

// A one-page PDF, 200 × 100 points, written out by hand with a correct cross-reference table.
void writePdf(const fs::path& file) {
    const std::vector<std::string> objects{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] >>",
    };
    std::ofstream(file, std::ios::binary) << pdfFromObjects(objects);
}

ConversionJob jobFor(const fs::path& source, const fs::path& destination, const char* from, const char* to,
                     const EngineID& engine) {
    const FormatRegistry registry = FormatRegistry::loadBundled();
    const auto fromFormat = registry.format(FormatID(from));
    const auto toFormat = registry.format(FormatID(to));
    if (!fromFormat || !toFormat) throw std::runtime_error("the manifest lacks a format of this test");
    return ConversionJob(source, {}, destination, *fromFormat, *toFormat, {fromFormat->id, toFormat->id, engine},
                         ConversionOptions::defaults());
}

TEST(EngineModules, AnEngineMapsItsLibrariesOnItsFirstJobOnly) {
    if (!haveFFmpeg()) GTEST_SKIP() << "ffmpeg is not installed: the source is made with it";
    TempDir dir;
    const fs::path source = dir / "source.png";
    makeClip(source, {.audio = false, .codecArguments = {"-frames:v", "1"}});
    const fs::path output = dir / "out.jpg";

    const auto engines = EngineModules::inProcessEngines();
    const ConversionEngine* image = nullptr;
    for (const auto& engine : engines)
        if (engine->id() == engine_ids::image) image = engine.get();
    ASSERT_NE(image, nullptr);
    // Made, and asked about a kind of job that is not theirs, the engines load nothing.
    for (const auto& engine : engines) {
        if (engine->id() == engine_ids::archive) continue;
        EXPECT_FALSE(engine->canHandle(jobFor(dir / "a.zip", dir / "b.tar", "zip", "tar", engine->id())))
            << engine->id().rawValue;
    }
    for (const char* library : {"kolvex-engine-", "libvips", "libpoppler", "libqpdf", "libavformat", "libarchive"})
        EXPECT_FALSE(mapped(library)) << library << " is mapped before any job";

    const ConversionJob job = jobFor(source, output, "png", "jpg", engine_ids::image);
    ASSERT_TRUE(image->canHandle(job));
    EXPECT_EQ(image->convert(job, nullptr, {}), std::vector<fs::path>{output});
    const auto format = programOutput("vipsheader", {"-f", "vips-loader", output.string()});
    if (format) {
        EXPECT_EQ(*format, "jpegload\n");
    }

    EXPECT_TRUE(mapped("kolvex-engine-image.so"));
    EXPECT_TRUE(mapped("libvips"));
    // (libvips starts its own loader modules, poppler's among them, whatever the job.)
    for (const char* library : {"kolvex-engine-pdf", "kolvex-engine-media", "kolvex-engine-archive",
                                "kolvex-engine-document", "libqpdf", "libavformat"})
        EXPECT_FALSE(mapped(library)) << library << " is mapped after an image job";
}

TEST(EngineModules, APdfPageToolLoadsQpdfAlone) {
    TempDir dir;
    const fs::path source = dir / "source.pdf";
    writePdf(source);
    const fs::path output = dir / "out.pdf";
    ConversionJob job = jobFor(source, output, "pdf", "pdf", engine_ids::pdf);
    job.options.tool = "rotate";
    job.options.rotation = 90;

    const auto engines = EngineModules::inProcessEngines();
    for (const auto& engine : engines) {
        if (engine->id() != engine_ids::pdf) continue;
        ASSERT_TRUE(engine->canHandle(job));
        EXPECT_EQ(engine->convert(job, nullptr, {}), std::vector<fs::path>{output});
    }
    const auto info = programOutput("pdfinfo", {output.string()});
    if (info) {
        EXPECT_NE(info->find("Pages:          1\n"), std::string::npos) << *info;
        EXPECT_NE(info->find("Page rot:       90\n"), std::string::npos) << *info;
    }
    EXPECT_TRUE(mapped("kolvex-engine-pdf-pages.so"));
    EXPECT_TRUE(mapped("libqpdf"));
    for (const char* library : {"kolvex-engine-pdf.so", "kolvex-engine-image", "libpoppler", "libvips"})
        EXPECT_FALSE(mapped(library)) << library << " is mapped after a page tool";
}

TEST(EngineModules, AnEngineWhoseModuleDoesNotLoadFailsItsJobsWithTheReason) {
    TempDir dir;
    int attempts = 0;
    const std::string reason = "Kolvex could not load its pdf engine (/nowhere/kolvex-engine-pdf.so): gone";
    LazyEngine engine(
        engine_ids::pdf, [](const ConversionJob& job) { return job.from.id.rawValue == "pdf"; },
        [&]() -> LazyEngine::Engine {
            ++attempts;
            throw ModuleLoader::Unavailable(reason);
        });
    EXPECT_EQ(engine.id(), engine_ids::pdf);
    EXPECT_FALSE(engine.canHandle(jobFor(dir / "a.png", dir / "b.jpg", "png", "jpg", engine_ids::pdf)));
    EXPECT_EQ(attempts, 0) << "a job of another kind loaded the module";

    const ConversionJob job = jobFor(dir / "a.pdf", dir / "b.png", "pdf", "png", engine_ids::pdf);
    // Planned here, so that the job fails with the reason rather than as unsupported.
    EXPECT_TRUE(engine.canHandle(job));
    for (int run = 0; run < 2; ++run) {
        try {
            engine.convert(job, nullptr, {});
            ADD_FAILURE() << "a job ran without its engine";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.kind(), ConversionError::Kind::backendFailure);
            EXPECT_EQ(error.stderrText(), reason);
        }
    }
    EXPECT_EQ(attempts, 1) << "a failed load is remembered";
    EXPECT_FALSE(engine.isLoaded());
    // Without its engine, the room a job needs is asked as for any engine that projects nothing.
    EXPECT_FALSE(engine.checksRoom(job));

    // The real loader names the file it could not load and why.
    try {
        ModuleLoader::entry("absent");
        ADD_FAILURE() << "a missing module loaded";
    } catch (const ModuleLoader::Unavailable& error) {
        EXPECT_NE(std::string(error.what()).find(ModuleLoader::file("absent").string() + ": cannot open shared object file"),
                  std::string::npos)
            << error.what();
    }
}

TEST(EngineModules, AnEngineRunsOnAfterItsLibrariesPagesWereGivenBack) {
    TempDir dir;
    writePdf(dir / "source.pdf");
    const auto engines = EngineModules::inProcessEngines();
    const auto rotate = [&](const fs::path& output, double degrees) {
        ConversionJob job = jobFor(dir / "source.pdf", output, "pdf", "pdf", engine_ids::pdf);
        job.options.tool = "rotate";
        job.options.rotation = degrees;
        for (const auto& engine : engines) {
            if (engine->id() == engine_ids::pdf) return engine->convert(job, nullptr, {});
        }
        return std::vector<fs::path>{};
    };
    ASSERT_EQ(rotate(dir / "first.pdf", 90), std::vector<fs::path>{dir / "first.pdf"});

    const std::set<std::string> files = ModuleLoader::libraryFiles();
    const auto listed = [&](const std::string& name) {
        return std::any_of(files.begin(), files.end(), [&](const std::string& file) {
            return fs::path(file).filename().string().starts_with(name);
        });
    };
    EXPECT_TRUE(listed("kolvex-engine-pdf-pages.so"));
    EXPECT_TRUE(listed("libqpdf.so"));
    EXPECT_FALSE(listed("libkolvex-core.so")) << "the program had it before any module";
    EXPECT_GT(ProcessMemory::dropFilePages(files), 0u);

    // The engine's code comes back from its files as it runs.
    ASSERT_EQ(rotate(dir / "second.pdf", 180), std::vector<fs::path>{dir / "second.pdf"});
    const auto info = programOutput("pdfinfo", {(dir / "second.pdf").string()});
    if (info) {
        EXPECT_NE(info->find("Pages:          1\n"), std::string::npos) << *info;
        EXPECT_NE(info->find("Page rot:       180\n"), std::string::npos) << *info;
    }
}

}  // namespace
}  // namespace kolvex::testing
