// SPDX-License-Identifier: GPL-3.0-or-later
// What the file system does to a job while it runs, through the real coordinator and every
// engine: a name taken before the job could use it, a source that is a FIFO or a device, a disk
// that fills up, and archives whose entries are stranger than they look.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <set>

#include <gtest/gtest.h>

#include "SharedEngines.h"
#include "TestPdfFiles.h"
#include "core/services/PathUtils.h"
#include "core/services/ProcessRunner.h"
#include "support/MediaFixtures.h"
#include "support/SmallVolume.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The document engine's Qt is started by the corpus tests of this binary.

// One conversion per engine. `make` writes a source: a small one, or with `large` one whose
// output is megabytes (`largeOutput` bytes, roughly) while the source stays small.
struct EngineCase {
    const char* name;
    EngineID engine;
    const char* from;
    const char* to;
    std::optional<std::string> tool;
    std::function<void(const fs::path&, bool large)> make;
    int64_t largeOutput;
};

void runFFmpeg(const fs::path& file, std::vector<std::string> arguments) { makeMedia(file, arguments); }

const std::vector<EngineCase>& engineCases() {
    static const std::vector<EngineCase> cases = {
        {"image", engine_ids::image, "png", "bmp", std::nullopt,
         [](const fs::path& file, bool large) {
             runFFmpeg(file, {"-f", "lavfi", "-i", large ? "color=c=navy:s=1400x1400" : "color=c=navy:s=32x32",
                              "-frames:v", "1"});
         },
         1400 * 1400 * 3},
        {"audio", engine_ids::audio, "flac", "wav", std::nullopt,
         [](const fs::path& file, bool large) {
             runFFmpeg(file, {"-f", "lavfi", "-i", std::string("anullsrc=r=44100:cl=stereo:d=") + (large ? "40" : "1")});
         },
         40 * 44100 * 4},
        {"ffmpeg", engine_ids::ffmpeg, "flac", "wav", std::nullopt,
         [](const fs::path& file, bool large) {
             runFFmpeg(file, {"-f", "lavfi", "-i", std::string("anullsrc=r=44100:cl=stereo:d=") + (large ? "40" : "1")});
         },
         40 * 44100 * 4},
        // One page is a set of one; three at 300 dpi are megabytes of pixels.
        {"pdfPages", engine_ids::pdf, "pdf", "bmp", std::nullopt,
         [](const fs::path& file, bool large) {
             writeTestPdf(file, large ? numberedPages(3, 300, 200) : numberedPages(1));
         },
         3 * int64_t{1250} * 833 * 3},
        {"pdfFromImage", engine_ids::pdf, "png", "pdf", std::nullopt,
         [](const fs::path& file, bool) { runFFmpeg(file, {"-f", "lavfi", "-i", "testsrc2=s=64x48", "-frames:v", "1"}); },
         0},
        {"document", engine_ids::document, "txt", "html", std::nullopt,
         [](const fs::path& file, bool large) {
             std::string text;
             const int lines = large ? 8000 : 3;
             for (int i = 0; i < lines; ++i) text += std::string(79, '&') + "\n";
             std::ofstream(file, std::ios::binary) << text;
         },
         8000 * 79 * 5},
        {"archive", engine_ids::archive, "gzip", "gzip", std::string("extract"),
         [](const fs::path& file, bool large) {
             const fs::path plain = file.parent_path() / "payload";
             { std::ofstream(plain, std::ios::binary) << "payload\n"; }
             fs::resize_file(plain, large ? 8 << 20 : 4096);
             const auto result = ProcessRunner().run("/bin/sh", {"-c", "gzip -c \"$0\" > \"$1\" && rm \"$0\"",
                                                                 plain.string(), file.string()},
                                                     std::chrono::seconds(30), nullptr, nullptr);
             ASSERT_TRUE(result.succeeded()) << result.standardError();
         },
         8 << 20},
    };
    return cases;
}

class HostileFilesystem : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveFFmpeg()) GTEST_SKIP() << "ffmpeg is not installed: the sources are made with it";
        m_coordinator = sharedEngines().coordinator();
    }

    std::optional<ConversionJob> job(const EngineCase& c, const fs::path& source, const fs::path& folder) const {
        if (!sharedEngines().has(c.engine)) return std::nullopt;
        const auto from = sharedEngines().registry.format(FormatID(c.from));
        const auto to = sharedEngines().registry.format(FormatID(c.to));
        EXPECT_TRUE(from && to) << c.name;
        if (!from || !to) return std::nullopt;
        ConversionOptions options = ConversionOptions::defaults();
        options.tool = c.tool;
        const ConversionCapability capability{from->id, to->id, c.engine, ConversionCost::inProcess, false};
        return ConversionJob(source, {}, folder / (std::string("out.") + to->canonicalExtension()), *from, *to,
                             capability, options);
    }

    // Runs one job; a job that does not end within `bound` fails the test (and is let go).
    ConversionResult runOne(const ConversionJob& job, std::chrono::seconds bound, const std::function<void()>& unstick = {}) {
        auto running = std::async(std::launch::async, [&] { return m_coordinator->run({job}); });
        if (running.wait_for(bound) != std::future_status::ready) {
            ADD_FAILURE() << job.source << " was still running after " << bound.count() << " s";
            if (unstick) unstick();
        }
        auto results = running.get();
        EXPECT_EQ(results.size(), 1u);
        return results.empty() ? ConversionResult{} : results.front();
    }

    std::unique_ptr<ConversionCoordinator> m_coordinator;
};

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

TEST_F(HostileFilesystem, ANameTakenBeforeTheCommitMovesTheWorkToTheNextFreeName) {
    for (const auto& c : engineCases()) {
        if (c.tool) continue;  // an extraction names its own output
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path source = dir / (std::string("source.") + c.from);
        c.make(source, false);
        const auto made = job(c, source, dir.path());
        if (!made) continue;
        // Another program writes the planned name while the job runs.
        const std::string theirs = "someone else's";
        dir.write(made->destination.filename().string(), theirs);
        const auto result = runOne(*made, std::chrono::seconds(60));
        ASSERT_TRUE(result.succeeded()) << (result.error ? result.error->shortDescription() : "no outputs");
        ASSERT_FALSE(result.outputs.empty());
        EXPECT_EQ(readFile(made->destination), theirs);
        const std::string ext = paths::extension(made->destination);
        const fs::path expected = dir / ("out 2." + ext);
        EXPECT_EQ(result.outputs, std::vector<fs::path>{expected});
        for (const auto& output : result.outputs) EXPECT_GT(fs::file_size(output), 0u) << output;
        std::set<std::string> present = {source.filename().string(), made->destination.filename().string()};
        for (const auto& output : result.outputs) present.insert(output.filename().string());
        EXPECT_EQ(namesIn(dir.path()), present);
    }
}

TEST_F(HostileFilesystem, SourcesThatAreNotRegularFilesAreRefusedAtOnce) {
    for (const auto& c : engineCases()) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path fifo = dir / (std::string("pipe.") + c.from);
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        const fs::path device = dir / (std::string("zero.") + c.from);
        fs::create_symlink("/dev/zero", device);
        for (const fs::path& source : {fifo, device}) {
            const auto made = job(c, source, dir.path());
            if (!made) continue;
            const auto started = Clock::now();
            // A reader stuck in open() on the FIFO is freed by a writer coming and going.
            const auto result = runOne(*made, std::chrono::seconds(20), [&] {
                const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) ::close(fd);
            });
            ASSERT_TRUE(result.error) << source;
            EXPECT_EQ(*result.error, ConversionError::unreadableInput(source)) << result.error->shortDescription();
            EXPECT_EQ(result.error->shortDescription(), "Can't read " + source.filename().string());
            EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));
        }
        EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{fifo.filename().string(), device.filename().string()}));
    }
}

TEST_F(HostileFilesystem, AFullDiskIsToldWithTrueFiguresByEveryEngine) {
    for (const auto& c : engineCases()) {
        if (c.largeOutput == 0) continue;
        SCOPED_TRACE(c.name);
        TempDir made;
        const fs::path original = made / (std::string("big.") + c.from);
        c.make(original, true);
        const auto sourceSize = static_cast<int64_t>(fs::file_size(original));
        // Room for the source and what the job asks to be free before it starts (a tenth more
        // than the source, and a megabyte), with a little to spare: not for the output.
        const int64_t room = sourceSize + sourceSize + sourceSize / 10 + (int64_t{3} << 19);
        SmallVolume volume(room);
        if (!volume.available()) GTEST_SKIP() << volume.whyNot();
        const fs::path source = volume.path() / original.filename();
        fs::copy_file(original, source);
        const auto planned = job(c, source, volume.path());
        if (!planned) continue;
        const int64_t freeBefore = freeBytes(volume.path());
        ASSERT_LT(freeBefore, c.largeOutput * 8 / 10) << "the volume holds the output: no test";

        const auto result = runOne(*planned, std::chrono::seconds(120));
        ASSERT_TRUE(result.error) << "converted onto a full disk";
        const ConversionError& error = *result.error;
        ASSERT_EQ(error.kind(), ConversionError::Kind::insufficientDiskSpace) << error.shortDescription() << "\n"
                                                                           << error.diagnosticDetail().value_or("");
        // What is free once the partial output is gone, not the nothing left when the disk filled.
        EXPECT_GE(error.available(), freeBefore * 8 / 10) << error.shortDescription();
        EXPECT_LE(error.available(), freeBefore + (int64_t{64} << 10)) << error.shortDescription();
        EXPECT_EQ(error.shortDescription().find("Zero"), std::string::npos) << error.shortDescription();
        // The need: more than is free, and of the order of what the output takes.
        EXPECT_GT(error.required(), error.available()) << error.shortDescription();
        EXPECT_GE(error.required(), c.largeOutput / 3) << error.shortDescription();
        EXPECT_LE(error.required(), c.largeOutput * 3) << error.shortDescription();
        // Nothing left behind.
        EXPECT_EQ(namesIn(volume.path()), std::set<std::string>{source.filename().string()});
    }
}

TEST_F(HostileFilesystem, ArchivesNameTheTrueCause) {
    const EngineCase& archive = engineCases().back();
    ASSERT_EQ(archive.engine, engine_ids::archive);
    if (!sharedEngines().has(engine_ids::archive)) GTEST_SKIP() << "no archive engine in this build";
    TempDir dir;

    // A stream of zeros is a sound stream, whatever it looks like once unpacked.
    const std::pair<const char*, const char*> compressors[] = {{"gzip", "gz"}, {"bz2", "bz2"}, {"xz", "xz"}};
    for (const auto& [id, extension] : compressors) {
        SCOPED_TRACE(id);
        const fs::path plain = dir / (std::string("zeros-") + id);
        { std::ofstream(plain).flush(); }
        fs::resize_file(plain, 1 << 20);
        const fs::path stream = dir / (std::string("zeros-") + id + "." + extension);
        const std::string program = std::string(id) == "gzip" ? "gzip" : std::string(id) == "bz2" ? "bzip2" : "xz";
        const auto packed = ProcessRunner().run("/bin/sh", {"-c", program + " -c \"$0\" > \"$1\" && rm \"$0\"",
                                                            plain.string(), stream.string()},
                                                std::chrono::seconds(30), nullptr, nullptr);
        ASSERT_TRUE(packed.succeeded()) << packed.standardError();
        EngineCase c = archive;
        c.from = id;
        c.to = id;
        const auto made = job(c, stream, dir.path());
        ASSERT_TRUE(made);
        const auto result = runOne(*made, std::chrono::seconds(60));
        ASSERT_TRUE(result.succeeded()) << (result.error ? result.error->shortDescription() : "no outputs");
        ASSERT_EQ(result.outputs.size(), 1u);
        EXPECT_EQ(readFile(result.outputs.front()), std::string(1 << 20, '\0'));
    }

    // A hard link to a file outside the archive.
    const fs::path linked = dir / "linked.tar";
    {
        TempDir content;
        content.write("inside.txt", "hello");
        const auto built = ProcessRunner().run(
            "/usr/bin/python3",
            {"-c",
             "import tarfile,sys\n"
             "with tarfile.open(sys.argv[1],'w') as t:\n"
             "    t.add(sys.argv[2],'inside.txt')\n"
             "    i=tarfile.TarInfo('link.txt'); i.type=tarfile.LNKTYPE; i.linkname='/etc/passwd'; t.addfile(i)\n",
             linked.string(), (content / "inside.txt").string()},
            std::chrono::seconds(30), nullptr, nullptr);
        if (!built.succeeded()) GTEST_SKIP() << "python3 cannot write the tar: " << built.standardError();
    }
    for (const std::optional<std::string>& tool : {std::optional<std::string>("extract"), std::optional<std::string>()}) {
        SCOPED_TRACE(tool.value_or("repack"));
        EngineCase c = archive;
        c.from = "tar";
        c.to = "zip";
        c.tool = tool;
        const auto made = job(c, linked, dir / "out");
        ASSERT_TRUE(made);
        fs::create_directories(dir / "out");
        const auto result = runOne(*made, std::chrono::seconds(60));
        ASSERT_TRUE(result.error);
        EXPECT_EQ(result.error->shortDescription(), "linked.tar has an unsafe entry")
            << result.error->diagnosticDetail().value_or("");
        EXPECT_TRUE(fs::is_empty(dir / "out"));
    }
}

}  // namespace
}  // namespace kolvex::testing
