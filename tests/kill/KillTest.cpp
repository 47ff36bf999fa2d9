// SPDX-License-Identifier: GPL-3.0-or-later
// Long jobs in every engine, run through kolvex-drive and killed at several moments. Whenever the
// kill lands, no program the run started may outlive it, every file under a final name must be
// complete (read back by a program that is not ours) and everything else must be a hidden item
// of our making, which the next launch's sweep removes, along with the run's scratch folders.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "TestPdfFiles.h"
#include "core/services/ProcessRunner.h"
#include "core/services/WorkInProgress.h"
#include "support/MediaFixtures.h"
#include "support/ProcessTable.h"
#include "support/TempDir.h"

extern char** environ;

namespace kolvex::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kArchiveEntries = 16;
constexpr size_t kArchiveEntryBytes = 4 << 20;

ProcessResult runTool(const fs::path& program, const std::vector<std::string>& arguments) {
    return ProcessRunner().run(program, arguments, std::chrono::seconds(120), nullptr, nullptr);
}

void mustRun(const fs::path& program, const std::vector<std::string>& arguments) {
    const auto result = runTool(program, arguments);
    if (!result.succeeded()) throw std::runtime_error(program.string() + " failed: " + result.standardError());
}

// Inputs, each made the first time a job asks for it, in one folder for the whole program; each
// is long enough that a kill lands mid-work.
const fs::path& inputFolder() {
    static const TempDir folder;
    return folder.path();
}

std::vector<fs::path> pictures() {
    const fs::path folder = inputFolder() / "pictures";
    if (!fs::exists(folder)) {
        fs::create_directory(folder);
        makeMedia(folder / "picture-%02d.png", {"-f", "lavfi", "-i", "testsrc2=size=2000x1500:rate=1:duration=40"});
    }
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
    return files;
}

// Pictures large enough (12 MP, four at once) that ImageMagick keeps their pixels on disk.
std::vector<fs::path> largePictures() {
    const fs::path folder = inputFolder() / "large";
    if (!fs::exists(folder)) {
        fs::create_directory(folder);
        makeMedia(folder / "large-%02d.png", {"-f", "lavfi", "-i", "testsrc2=size=4000x3000:rate=1:duration=4"});
        for (int i = 1; i <= 4; ++i)
            fs::copy_file(folder / fmt::format("large-{:02d}.png", i), folder / fmt::format("copy-{:02d}.png", i));
    }
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
    return files;
}

fs::path pdf() {
    const fs::path file = inputFolder() / "pages.pdf";
    if (!fs::exists(file)) writeTestPdf(file, numberedPages(24, 612, 792));
    return file;
}

fs::path markdown() {
    const fs::path file = inputFolder() / "long.md";
    if (!fs::exists(file)) {
        std::ofstream out(file);
        for (int i = 0; i < 20000; ++i) out << "Paragraph " << i << " with *some* words that wrap across the line.\n\n";
    }
    return file;
}

fs::path archive() {
    const fs::path file = inputFolder() / "bundle.zip";
    if (fs::exists(file)) return file;
    const fs::path payload = inputFolder() / "payload";
    fs::create_directory(payload);
    std::mt19937_64 random(42);
    std::string bytes(kArchiveEntryBytes, '\0');
    for (int i = 0; i < kArchiveEntries; ++i) {
        for (auto& byte : bytes) byte = static_cast<char>(random());
        std::ofstream(payload / fmt::format("entry-{:02d}.bin", i), std::ios::binary) << bytes;
    }
    mustRun("/usr/bin/bsdtar", {"--format=zip", "--options", "zip:compression=store", "-cf", file.string(), "-C",
                                payload.string(), "."});
    return file;
}

fs::path wave() {
    const fs::path file = inputFolder() / "tone.wav";
    if (!fs::exists(file)) makeMedia(file, {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=90", "-ac", "2"});
    return file;
}

std::vector<fs::path> clips(int count) {
    const fs::path first = inputFolder() / "clip.mkv";
    if (!fs::exists(first)) {
        makeMedia(first, {"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30:duration=12", "-f", "lavfi", "-i",
                          "sine=duration=12", "-c:v", "mpeg4", "-q:v", "3", "-c:a", "pcm_s16le"});
    }
    std::vector<fs::path> files{first};
    for (int i = 2; i <= count; ++i) {
        files.push_back(inputFolder() / fmt::format("clip {}.mkv", i));
        if (!fs::exists(files.back())) fs::copy_file(first, files.back());
    }
    return files;
}

struct Job {
    const char* name;
    std::vector<std::string> request;  // kolvex-drive's arguments before the files
    std::vector<fs::path> (*files)();
    // A name the run's programs give their temporary files: the kill waits until one is there.
    const char* temporaryPrefix = nullptr;
};

const Job kJobs[] = {
    {"imageBatch", {"--to", "jpg", "--processors", "2"}, pictures},
    // Through ImageMagick, which keeps a pixel cache of its own in the temporary folder.
    {"imageBmp", {"--to", "bmp", "--processors", "4"}, largePictures, "magick-"},
    {"imageIco", {"--to", "ico", "--processors", "2"}, pictures},
    {"pdfPages", {"--to", "png", "--set", "dpi=200"}, [] { return std::vector{pdf()}; }},
    {"pdfSplit", {"--tool", "split"}, [] { return std::vector{pdf()}; }},
    {"document", {"--to", "pdf"}, [] { return std::vector{markdown()}; }},
    {"archiveExtract", {"--tool", "extract"}, [] { return std::vector{archive()}; }},
    {"archiveRepack", {"--to", "tar"}, [] { return std::vector{archive()}; }},
    {"audio", {"--to", "m4a"}, [] { return std::vector{wave()}; }},
    {"ffmpegConvert", {"--to", "mp4"}, [] { return clips(1); }},
    {"ffmpegSplit", {"--tool", "split", "--set", "splitPoints=3,6,9", "--set", "allowPassthrough=false"},
     [] { return clips(1); }},
    // At keyframes (every 0.4 s): the parts cut together by the segmenting muxer in a folder of
    // its own.
    {"ffmpegSegments", {"--tool", "split", "--set", "splitPoints=4,8"}, [] { return clips(1); }},
    {"ffmpegMerge", {"--tool", "merge"}, [] { return clips(2); }},
};

// When to stop the run: this long after the first item appeared in the output folder.
struct Moment {
    int signal;
    int afterMilliseconds;
};

const Moment kMoments[] = {{SIGKILL, 0}, {SIGKILL, 150}, {SIGTERM, 60}};

// Waits until the output folder holds something (the work is under way) or the run ended.
void awaitWork(const fs::path& folder, pid_t drive) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!fs::is_empty(folder)) return;
        siginfo_t info {};
        if (::waitid(P_PID, static_cast<id_t>(drive), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == drive) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Waits until a file whose name starts with `prefix` is somewhere below `folder`, or the run ended.
void awaitTemporaryFile(const fs::path& folder, const std::string& prefix, pid_t drive) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            if (it->path().filename().string().starts_with(prefix)) return;
        siginfo_t info {};
        if (::waitid(P_PID, static_cast<id_t>(drive), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == drive) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Starts kolvex-drive in a process group of its own, with its scratch root under `tmpdir` and
// `extra` variables ("NAME=value") in its environment.
pid_t startDrive(const std::vector<std::string>& arguments, const fs::path& tmpdir,
                 const std::vector<std::string>& extra = {}) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        if (std::strncmp(*entry, "TMPDIR=", 7) != 0) environment.emplace_back(*entry);
    }
    environment.push_back("TMPDIR=" + tmpdir.string());
    environment.insert(environment.end(), extra.begin(), extra.end());
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> args{KOLVEX_DRIVE};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        ::setpgid(0, 0);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    return child;
}

// Kills and reaps whatever a killed run left: programs re-parented to this process (a
// subreaper), so none keeps writing while the sweep runs or slows the moments that follow.
void reapOrphans() {
    for (const pid_t orphan : process_table::childrenOf(::getpid())) {
        ::kill(orphan, SIGKILL);
        ::waitpid(orphan, nullptr, 0);
    }
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
}

// Whether a file under a final name is whole, by a reader that is not ours.
::testing::AssertionResult isComplete(const fs::path& output) {
    const std::string extension = output.extension().string();
    ProcessResult result;
    if (fs::is_directory(output)) {
        int entries = 0;
        for (const auto& entry : fs::recursive_directory_iterator(output)) {
            if (!entry.is_regular_file()) continue;
            ++entries;
            if (entry.file_size() != kArchiveEntryBytes) return ::testing::AssertionFailure() << entry.path() << " is short";
        }
        if (entries != kArchiveEntries) return ::testing::AssertionFailure() << output << " holds " << entries << " files";
        return ::testing::AssertionSuccess();
    } else if (extension == ".pdf") {
        result = runTool("/usr/bin/qpdf", {"--check", output.string()});
    } else if (extension == ".tar") {
        result = runTool("/usr/bin/bsdtar", {"-tvf", output.string()});
        const std::string listing = result.standardOutput();
        if (result.succeeded() && std::count(listing.begin(), listing.end(), '\n') < kArchiveEntries) {
            return ::testing::AssertionFailure() << output << " lacks entries";
        }
    } else {
        result = runTool(systemFFmpeg(), {"-nostdin", "-v", "error", "-xerror", "-i", output.string(), "-f", "null", "-"});
        if (result.succeeded() && !result.standardError().empty()) result.exitCode = 1;
    }
    if (result.succeeded()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << output << " is incomplete: " << result.standardError();
}

class KilledRun : public ::testing::TestWithParam<int> {};

TEST_P(KilledRun, LeavesOnlyCompleteOutputsAndItsOwnLeftoversWhichTheSweepRemoves) {
    if (!haveFFmpeg()) GTEST_SKIP() << "ffmpeg is not installed: the inputs are made with it";
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    const Job& job = kJobs[GetParam()];
    const std::vector<fs::path> files = job.files();
    for (const Moment& moment : kMoments) {
        SCOPED_TRACE(fmt::format("{} after {} ms", moment.signal == SIGKILL ? "SIGKILL" : "SIGTERM",
                                 moment.afterMilliseconds));
        TempDir out;
        TempDir tmp;
        std::vector<std::string> arguments = job.request;
        arguments.insert(arguments.end(), {"--out", out.path().string(), "--quiet", "--"});
        for (const auto& file : files) arguments.push_back(file.string());
        // A desktop session's runtime folder: without one Qt makes its own in the temporary folder.
        TempDir runtime;
        const pid_t drive = startDrive(arguments, tmp.path(), {"XDG_RUNTIME_DIR=" + runtime.path().string()});
        ASSERT_GT(drive, 0);
        awaitWork(out.path(), drive);
        if (job.temporaryPrefix) awaitTemporaryFile(tmp.path(), job.temporaryPrefix, drive);
        std::this_thread::sleep_for(std::chrono::milliseconds(moment.afterMilliseconds));
        const std::vector<pid_t> started = process_table::childrenOf(drive);
        ::kill(drive, moment.signal);
        int status = 0;
        ASSERT_EQ(::waitpid(drive, &status, 0), drive);
        EXPECT_TRUE(process_table::waitUntilEnded(started, std::chrono::seconds(3)))
            << "a program the run started outlived it";
        reapOrphans();

        int hidden = 0, finals = 0;
        for (const auto& entry : fs::directory_iterator(out.path())) {
            const std::string name = entry.path().filename().string();
            (name.front() == '.' ? hidden : finals)++;
            if (name.front() == '.') {
                EXPECT_TRUE(WorkInProgress::isStagingName(name)) << "a hidden item not of our making: " << name;
            } else {
                EXPECT_TRUE(isComplete(entry.path()));
            }
        }

        if (std::getenv("KOLVEX_KILL_TEST_VERBOSE")) {
            std::fprintf(stderr, "%s: %zu programs running, %d hidden, %d under final names\n", job.name,
                         started.size(), hidden, finals);
        }
        // The next launch, with the same scratch root, sweeps what the run left.
        const pid_t sweeper = startDrive({"--sweep"}, tmp.path());
        int sweepStatus = 0;
        ASSERT_EQ(::waitpid(sweeper, &sweepStatus, 0), sweeper);
        EXPECT_TRUE(WIFEXITED(sweepStatus) && WEXITSTATUS(sweepStatus) == 0);
        for (const auto& entry : fs::directory_iterator(out.path())) {
            EXPECT_NE(entry.path().filename().string().front(), '.') << "left after the sweep: " << entry.path();
        }
        const fs::path root = tmp / ("Kolvex-" + std::to_string(::geteuid()));
        // Nothing the run or its programs made lies in the temporary folder beside the scratch root.
        for (const auto& entry : fs::directory_iterator(tmp.path()))
            EXPECT_EQ(entry.path(), root) << "left in the temporary folder: " << entry.path();
        if (fs::exists(root)) {
            for (const auto& entry : fs::directory_iterator(root)) {
                EXPECT_EQ(entry.path().filename(), ".in-progress") << "scratch left after the sweep: " << entry.path();
            }
        }
    }
}

// Jobs that put several outputs in place (or one folder of many files), killed right after
// their `fatalMove`th move into place: the commit of the set is cut short.
struct SetJob {
    const char* name;
    std::vector<std::string> request;
    std::vector<fs::path> (*files)();
    int fatalMove;
};

const SetJob kSetJobs[] = {
    {"pdfPages", {"--to", "png", "--set", "dpi=36"}, [] { return std::vector{pdf()}; }, 5},
    {"pdfSplit", {"--tool", "split"}, [] { return std::vector{pdf()}; }, 3},
    {"ffmpegSplit", {"--tool", "split", "--set", "splitPoints=3,6,9"}, [] { return clips(1); }, 2},
    {"archiveExtract", {"--tool", "extract"}, [] { return std::vector{archive()}; }, 1},
};

class KilledCommit : public ::testing::TestWithParam<int> {};

TEST_P(KilledCommit, LeavesTheSetWholeOrTheSweepTakesItBack) {
#ifndef KOLVEX_DIE_AFTER_MOVES
    GTEST_SKIP() << "a sanitized build cannot preload the library that cuts the commit short";
#else
    if (!haveFFmpeg()) GTEST_SKIP() << "ffmpeg is not installed: the inputs are made with it";
    const SetJob& job = kSetJobs[GetParam()];
    TempDir out;
    TempDir tmp;
    std::vector<std::string> arguments = job.request;
    arguments.insert(arguments.end(), {"--out", out.path().string(), "--quiet", "--"});
    for (const auto& file : job.files()) arguments.push_back(file.string());
    const pid_t drive = startDrive(arguments, tmp.path(),
                                   {std::string("LD_PRELOAD=") + KOLVEX_DIE_AFTER_MOVES,
                                    "KOLVEX_DIE_AFTER_MOVES=" + std::to_string(job.fatalMove)});
    ASSERT_GT(drive, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(drive, &status, 0), drive);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the run was not cut short in its commit";
    reapOrphans();
    std::vector<fs::path> placed;
    for (const auto& entry : fs::directory_iterator(out.path())) {
        if (entry.path().filename().string().front() != '.') placed.push_back(entry.path());
    }
    ASSERT_EQ(placed.size(), static_cast<size_t>(job.fatalMove)) << "outputs in place when the run was killed";

    const pid_t sweeper = startDrive({"--sweep"}, tmp.path());
    ASSERT_EQ(::waitpid(sweeper, &status, 0), sweeper);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::vector<fs::path> left;
    for (const auto& entry : fs::directory_iterator(out.path())) left.push_back(entry.path());
    if (job.fatalMove == 1 && left.size() == 1 && fs::is_directory(left.front())) {
        // One folder moved in one step is the whole set.
        EXPECT_TRUE(isComplete(left.front()));
    } else {
        EXPECT_TRUE(left.empty()) << "left of an unfinished set after the sweep: " << left.front();
    }
#endif
}

INSTANTIATE_TEST_SUITE_P(EveryKindOfSet, KilledCommit, ::testing::Range(0, static_cast<int>(std::size(kSetJobs))),
                         [](const auto& info) { return std::string(kSetJobs[info.param].name); });

INSTANTIATE_TEST_SUITE_P(EveryEngine, KilledRun, ::testing::Range(0, static_cast<int>(std::size(kJobs))),
                         [](const auto& info) { return std::string(kJobs[info.param].name); });

}  // namespace
}  // namespace kolvex::testing
