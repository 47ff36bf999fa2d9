// SPDX-License-Identifier: GPL-3.0-or-later
// A full disk told with true figures when the job is not alone on the volume: another process
// fills it while the job runs, or the job's many small files take far more blocks than bytes.
// The need is what the job writes, in the blocks the volume gives it; "free" is what is free
// once the disk was found full; the two never read the same.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <set>
#include <thread>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "SharedEngines.h"
#include "TestPdfFiles.h"
#include "core/services/ByteCountFormatter.h"
#include "core/services/FileManagerService.h"
#include "core/services/ProcessRunner.h"
#include "support/MediaFixtures.h"
#include "support/SmallVolume.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

namespace fs = std::filesystem;

// What the outputs take on their volume, a folder with all it holds.
int64_t blocksOf(const std::vector<fs::path>& outputs) {
    int64_t total = 0;
    const auto& files = FileManagerService::shared();
    for (const auto& output : outputs) {
        total += files.allocatedSize(output).value_or(0);
        std::error_code ec;
        if (!fs::is_directory(output, ec)) continue;
        for (fs::recursive_directory_iterator it(output, ec), end; !ec && it != end; it.increment(ec))
            total += files.allocatedSize(it->path()).value_or(0);
    }
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

// Another writer takes the volume's room once the job has written its first bytes there.
// Returns whether it did before `done` was set.
bool fillWhenTheJobWrites(const fs::path& volume, int64_t slack, const std::atomic<bool>& done) {
    const fs::path filler = volume / "another-writer";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!anyBytesWritten(volume, filler)) {
        if (done || std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    // All but `slack`, which the job fills itself, taken by the call fallocate(1) makes, the
    // rest a megabyte at a time: a request for every byte at once would race the job's own writes, and
    // a tmpfs holds all of a request until it fails, a disk full for the job that is gone again.
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    // Half of it in one go, so that the volume is full while the job is young: the job, which
    // writes less than half the volume, cannot outrun that request.
    int64_t taken = (freeBytes(volume) - slack) / 2 / 4096 * 4096;
    if (taken <= 0 || ::fallocate(fd, 0, 0, static_cast<off_t>(taken)) != 0) taken = 0;
    while (!done) {
        const int64_t chunk = std::min<int64_t>(freeBytes(volume) - slack, 1 << 20) / 4096 * 4096;
        if (chunk <= 0) break;
        // A chunk the job's writes outran is asked for again, smaller.
        if (::fallocate(fd, 0, static_cast<off_t>(taken), static_cast<off_t>(chunk)) == 0) taken += chunk;
    }
    ::close(fd);
    return taken > 0;
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
    int64_t slack = int64_t{512} << 10;  // what the other writer leaves for the job to fill
    int copies = 1;                      // a batch of as many jobs, each from its own source
    std::function<void(ConversionOptions&)> tune = {};
    bool madeWithFFmpeg = false;  // its source is made by the ffmpeg program
};

// A Python script run with its arguments as sys.argv[1:].
void python(const std::string& script, const std::vector<std::string>& arguments) {
    std::vector<std::string> all{"-c", script};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const auto result = ProcessRunner().run("/usr/bin/python3", all, std::chrono::seconds(120), nullptr, nullptr);
    ASSERT_TRUE(result.succeeded()) << result.standardError();
}

// Text that packs some forty to one: many distinct numbered lines.
const char* const kLines = "import sys\n"
                           "def lines(n):\n"
                           "    return ''.join('line %d of the text that the volume cannot hold\\n' % i for i in range(n))\n";

// What an archive row leaves the job: more than the room the extraction guard keeps free (a
// quarter of what was free), so that the job itself, not the guard, meets the full volume.
constexpr int64_t kAboveTheGuardsReserve = int64_t{26} << 20;

// A .docx of `pages` pages of plain paragraphs.
void writeDocx(const fs::path& file, int pages) {
    python(std::string(kLines) +
               "import zipfile\n"
               "body=''.join('<w:p><w:r><w:t>%s</w:t></w:r></w:p>' % l for l in lines(int(sys.argv[2])*45).splitlines())\n"
               "W='http://schemas.openxmlformats.org/wordprocessingml/2006/main'\n"
               "R='http://schemas.openxmlformats.org/package/2006/relationships'\n"
               "with zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED) as z:\n"
               "    z.writestr('[Content_Types].xml','<?xml version=\"1.0\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
               "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
               "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
               "<Override PartName=\"/word/document.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/></Types>')\n"
               "    z.writestr('_rels/.rels','<?xml version=\"1.0\"?><Relationships xmlns=\"'+R+'\"><Relationship Id=\"r1\" "
               "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"word/document.xml\"/></Relationships>')\n"
               "    z.writestr('word/document.xml','<?xml version=\"1.0\"?><w:document xmlns:w=\"'+W+'\"><w:body>'+body+'</w:body></w:document>')\n",
           {file.string(), std::to_string(pages)});
}

// Grainy pictures (every picture unlike the last, as a camera's in low light) and a tone, a
// keyframe every 10 s: `seconds` of `size`, in a container and with codecs as `codecs` asks.
void makeGrainy(const fs::path& file, const char* size, int seconds, const std::vector<std::string>& codecs) {
    const std::string length = std::to_string(seconds);
    std::vector<std::string> arguments = {"-f", "lavfi", "-i", fmt::format("testsrc2=s={}:r=25:d={}", size, length),
                                          "-f", "lavfi", "-i", "sine=f=440:d=" + length, "-vf", "noise=alls=30:allf=t",
                                          "-g", "250", "-shortest"};
    arguments.insert(arguments.end(), codecs.begin(), codecs.end());
    makeMedia(file, arguments);
}

void makeGrainyFilm(const fs::path& file) {
    makeGrainy(file, "640x360", 20, {"-c:v", "libx264", "-preset", "ultrafast", "-b:v", "8M", "-c:a", "aac"});
}

void makeShortGrainyFilm(const fs::path& file) {
    makeGrainy(file, "320x180", 10, {"-c:v", "libx264", "-preset", "ultrafast", "-b:v", "2M", "-c:a", "aac"});
}

// An AVI of H.264 with B-frames and MP3, as a camera or an old encoder writes it.
void makeGrainyAvi(const fs::path& file) {
    makeGrainy(file, "320x180", 10, {"-c:v", "libx264", "-preset", "veryfast", "-bf", "2", "-b:v", "1M", "-c:a", "libmp3lame"});
}

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
        // A long document as PDF: its pages go out as they are laid out.
        {"docx to pdf", engine_ids::document, "docx", "pdf", std::nullopt, int64_t{32} << 20, true,
         [](const fs::path& file) { writeDocx(file, 400); }, int64_t{64} << 10},
        // Thirty-two MB of text in a ZIP of sixteen entries (a few hundred KB packed), extracted
        // into a folder: enough entries that the other writer comes while they are written.
        {"zip extract", engine_ids::archive, "zip", "zip", std::string("extract"), int64_t{96} << 20, true,
         [](const fs::path& file) {
             python(std::string(kLines) +
                        "import zipfile\n"
                        "with zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED) as z:\n"
                        "    for k in range(16): z.writestr('part%d.txt' % k, lines(40000))\n",
                    {file.string()});
         }, kAboveTheGuardsReserve},
        // Thirty-six MB of text as a bare .xz stream (some two hundred KB), whose index records
        // what it unpacks to.
        {"xz extract", engine_ids::archive, "xz", "xz", std::string("extract"), int64_t{96} << 20, true,
         [](const fs::path& file) {
             python(std::string(kLines) +
                        "import lzma\n"
                        "open(sys.argv[1],'wb').write(lzma.compress(lines(700000).encode(), preset=1))\n",
                    {file.string()});
         }, kAboveTheGuardsReserve},
        // Six grainy photos as PNG, some 9 MB each, onto a volume that holds three: the files of
        // the batch fill the disk for each other.
        {"png batch", engine_ids::image, "jpg", "png", std::nullopt, int64_t{32} << 20, false,
         [](const fs::path& file) {
             const int index = std::stoi(file.filename().string());  // "<index>-source.jpg"
             makeMedia(file, {"-f", "lavfi", "-i", "color=c=0x708090:s=2000x1500", "-vf",
                              "noise=alls=40:allf=t,noise=alls=" + std::to_string(30 + index), "-frames:v", "1",
                              "-q:v", "3"});
         }, int64_t{512} << 10, 6, {}, true},
        // 8 s of mono WAV (706 KB) split at 39 points, its parts written one after another: the
        // need is every part's, not the one that found no room.
        {"wav split into many parts", engine_ids::ffmpeg, "wav", "wav", std::string("split"), int64_t{2} << 20, true,
         [](const fs::path& file) {
             makeMedia(file, {"-f", "lavfi", "-i", "sine=f=440:d=8:sample_rate=44100", "-c:a", "pcm_s16le"});
         }, int64_t{256} << 10, 1, [](ConversionOptions& options) {
             for (int i = 1; i < 40; ++i) options.splitPoints.push_back(i * 0.2);
         }, true},
        // A minute of stereo MP3 (under 1 MB) as WAV, 10.6 MB: the need is the sound's length at
        // its rate, whenever the volume filled.
        {"mp3 to wav", engine_ids::ffmpeg, "mp3", "wav", std::nullopt, int64_t{32} << 20, true,
         [](const fs::path& file) {
             makeMedia(file, {"-f", "lavfi", "-i", "sine=f=440:d=60:sample_rate=44100", "-ac", "2", "-c:a", "libmp3lame"});
         }, int64_t{2} << 20, 1, {}, true},
        // 14.8 s of a 20 s clip whose start is no keyframe: re-encoded, some 13 MB. The other
        // writer leaves it room for half of that, so that it has told how fast it writes.
        {"re-encoded trim", engine_ids::ffmpeg, "mp4", "mp4", std::string("trim"), int64_t{32} << 20, true,
         makeGrainyFilm, int64_t{8} << 20, 1, [](ConversionOptions& options) {
             options.trimStart = 2.0;
             options.trimEnd = 16.8;
         }, true},
    };
    return all;
}

// Pictures re-encoded at a constant quality, for which no encoder is given a rate: the volume
// full before the job has written enough to tell one.
const std::vector<Case>& constantQualityCases() {
    static const std::vector<Case> all = {
        // A trim off the keyframes, the volume taken as soon as the job starts writing: what
        // little it wrote tells nothing of its rate, and the plan's source does.
        {"re-encoded trim, full at once", engine_ids::ffmpeg, "mp4", "mp4", std::string("trim"), int64_t{32} << 20, true,
         makeShortGrainyFilm, int64_t{64} << 10, 1, [](ConversionOptions& options) {
             options.trimStart = 1.0;
             options.trimEnd = 8.4;
         }, true},
        // An AVI of H.264 with B-frames, whose cuts are all re-encoded (AVI states no times to
        // copy them by), split in four, full at once: the need is every part's.
        {"re-encoded AVI split", engine_ids::ffmpeg, "avi", "avi", std::string("split"), int64_t{32} << 20, true,
         makeGrainyAvi, int64_t{64} << 10, 1, [](ConversionOptions& options) {
             options.splitPoints = {2.5, 5.0, 7.5};
         }, true},
        // The same AVI cut, the volume full once the job has written a second or two.
        {"re-encoded AVI trim", engine_ids::ffmpeg, "avi", "avi", std::string("trim"), int64_t{32} << 20, true,
         makeGrainyAvi, int64_t{512} << 10, 1, [](ConversionOptions& options) {
             options.trimStart = 1.0;
             options.trimEnd = 8.4;
         }, true},
    };
    return all;
}

ConversionJob jobFor(const Case& c, const fs::path& source, const fs::path& folder, int copy) {
    const auto from = sharedEngines().registry.format(FormatID(c.from));
    const auto to = sharedEngines().registry.format(FormatID(c.to));
    EXPECT_TRUE(from && to) << c.name;
    ConversionOptions options = ConversionOptions::defaults();
    options.tool = c.tool;
    if (c.tune) c.tune(options);
    const ConversionCapability capability{from->id, to->id, c.engine, ConversionCost::inProcess, false};
    const std::string target(c.to);
    const std::string stem = copy > 0 ? "out-" + std::to_string(copy) : "out";
    const std::string name =
        target == "gzip" || target == "xz" || target == "bz2" ? "payload" : stem + "." + to->canonicalExtension();
    return ConversionJob(source, {}, folder / name, *from, *to, capability, options);
}

std::vector<ConversionJob> jobsFor(const Case& c, const std::vector<fs::path>& sources, const fs::path& folder) {
    std::vector<ConversionJob> jobs;
    for (size_t i = 0; i < sources.size(); ++i)
        jobs.push_back(jobFor(c, sources[i], folder, c.copies > 1 ? static_cast<int>(i) + 1 : 0));
    return jobs;
}

// Each row's job run with room, then on a small volume that fills while it runs: the message's
// figures against what the job wrote with room and what was free after.
// Counts the rows it judged in `checked`.
void checkRows(const std::vector<Case>& rows, int& checked) {
    for (const auto& c : rows) {
        SCOPED_TRACE(c.name);
        if (!sharedEngines().has(c.engine)) {
            std::cout << c.name << ": no " << c.engine.rawValue << " engine in this build\n";
            continue;
        }
        if (c.madeWithFFmpeg && !haveFFmpeg()) {
            std::cout << c.name << ": no ffmpeg program to make the source with\n";
            continue;
        }
        TempDir made;
        std::vector<fs::path> sources;
        for (int i = 0; i < c.copies; ++i) {
            sources.push_back(made / (std::to_string(i) + "-source." + c.from));
            c.make(sources.back());
        }

        // With room, on the same kind of volume: what each job writes, in blocks.
        SmallVolume roomy(int64_t{256} << 20);
        if (!roomy.available()) GTEST_SKIP() << "no tmpfs to fill: " << roomy.whyNot();
        const auto coordinator = sharedEngines().coordinator();
        const auto withRoom = coordinator->run(jobsFor(c, sources, roomy.path()));
        std::vector<int64_t> wrote;
        for (const auto& result : withRoom) {
            ASSERT_TRUE(result.succeeded()) << result.error->shortDescription() << ": "
                                            << result.error->diagnosticDetail().value_or("");
            wrote.push_back(blocksOf(result.outputs));
        }
        int64_t wroteInAll = 0;
        for (const int64_t each : wrote) wroteInAll += each;

        SmallVolume volume(c.volumeBytes);
        ASSERT_TRUE(volume.available()) << volume.whyNot();
        const int64_t freeAtStart = freeBytes(volume.path());
        if (c.anotherWriter) {
            ASSERT_LT(wroteInAll, freeAtStart / 2) << "the job alone would fill the volume: no test";
        } else {
            ASSERT_GT(wroteInAll, freeAtStart) << "the jobs fit: no test";
        }

        // The row needs the volume to fill while the job runs. On a busy machine the job may
        // finish before the other writer has taken the room: that run proves nothing, and the
        // row runs again on an emptied volume.
        std::vector<ConversionResult> results;
        std::atomic<bool> filled{false};
        for (int attempt = 1;; ++attempt) {
            std::atomic<bool> done{false};
            filled = false;
            std::thread writer;
            if (c.anotherWriter)
                writer = std::thread([&] { filled = fillWhenTheJobWrites(volume.path(), c.slack, done); });
            results = coordinator->run(jobsFor(c, sources, volume.path()));
            done = true;
            if (writer.joinable()) writer.join();
            const bool allFit = std::none_of(results.begin(), results.end(), [](const auto& r) { return r.error.has_value(); });
            if (!c.anotherWriter || !allFit || attempt == 5) break;
            std::cout << c.name << ": the job ended before the volume was full (attempt " << attempt << "); again\n";
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(volume.path(), ec)) fs::remove_all(entry.path(), ec);
        }
        if (c.anotherWriter) {
            ASSERT_TRUE(filled) << "the other writer came too late: the job had ended, "
                                << (results.at(0).error ? results.at(0).error->shortDescription() : "with its output");
        }
        const int64_t freeAfter = freeBytes(volume.path());

        // While a job of a batch ends, its neighbours' files are there: complete ones that stay,
        // partial ones of jobs that fail later. What is free then lies between what is free now
        // less those partials and what is free now plus the files that stayed.
        int64_t keptFiles = 0;
        int64_t failedFiles = 0;
        for (size_t i = 0; i < results.size(); ++i) (results[i].error ? failedFiles : keptFiles) += wrote[i];
        int failed = 0;
        for (size_t i = 0; i < results.size(); ++i) {
            const auto& result = results[i];
            if (!result.error) {
                // A file of a batch that found room is whole, and the only thing under a final name.
                EXPECT_GT(c.copies, 1) << "the job fit after all";
                continue;
            }
            ++failed;
            const ConversionError& error = *result.error;
            ASSERT_EQ(error.kind(), ConversionError::Kind::insufficientDiskSpace)
                << error.shortDescription() << ": " << error.diagnosticDetail().value_or("");
            std::cout << c.name << " #" << i << ": \"" << error.shortDescription() << "\"; it writes " << wrote[i]
                      << " bytes of blocks, needs " << error.required() << "; " << freeAtStart << " free at the start, " << freeAfter << " after\n";
            EXPECT_NE(ByteCountFormatter::file(error.required()), ByteCountFormatter::file(error.available()));
            EXPECT_GT(error.required(), error.available());
            // The need is the job's own output in blocks: all of it (not what it had written when
            // the volume filled up), and not some other figure such as its sources. A media job
            // projects it from its plan before it is written, with headroom: never less than it
            // writes, never twice it (a user told twice the truth frees room for nothing). The
            // other engines count what they write, give or take what the last file takes.
            EXPECT_GE(error.required(), c.engine == engine_ids::ffmpeg ? wrote[i] : wrote[i] * 9 / 10);
            EXPECT_LE(error.required(), wrote[i] * 2);
            // Free is what the volume has once the job is over, not the room it had at the start.
            const int64_t margin = int64_t{64} << 10;
            EXPECT_LE(error.available(), freeAfter + keptFiles + margin);
            EXPECT_GE(error.available(), std::max<int64_t>(freeAfter - (failedFiles - wrote[i]) - margin, 0));
        }
        EXPECT_GE(failed, 1) << "every job fit";
        std::set<fs::path> kept{volume.path() / "another-writer"};
        for (const auto& result : results)
            if (!result.error) kept.insert(result.outputs.begin(), result.outputs.end());
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(volume.path(), ec))
            EXPECT_TRUE(kept.count(entry.path())) << entry.path() << " left behind";
        ++checked;
    }
}

TEST(FullDiskByAnotherWriter, TheNeedIsWhatTheJobWritesAndFreeIsWhatIsLeft) {
    int checked = 0;
    checkRows(cases(), checked);
    if (!IsSkipped()) {
        EXPECT_GE(checked, 2);
    }
}

TEST(FullDiskByAnotherWriter, PicturesAtAConstantQualityNeedWhatTheyWrite) {
    int checked = 0;
    checkRows(constantQualityCases(), checked);
    if (!IsSkipped()) {
        EXPECT_GE(checked, 1);
    }
}

}  // namespace
}  // namespace kolvex::testing
