// SPDX-License-Identifier: GPL-3.0-or-later
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <future>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/services/ProcessRunner.h"
#include "core/services/StagedOutput.h"
#include "core/services/Uuid.h"
#include "core/services/WorkInProgress.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

// A drop on the ring's MKV target, as the driver makes it from the (default) preferences: the
// streams fit, so they are copied, and the line after the result names what was left out.
TEST(Driver, RingRequestsAreBuiltAsThePortalBuildsThemAndPrintTheirNotes) {
    KOLVEX_REQUIRE_FFMPEG();
    testing::TempDir dir;
    const auto subtitles = dir.write("words.srt", "1\n00:00:00,000 --> 00:00:00,500\nhello\n");
    const auto source = testing::makeMedia(
        dir / "two voices.mkv",
        {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10:duration=1", "-f", "lavfi", "-i", "sine=duration=1",
         "-f", "lavfi", "-i", "sine=frequency=880:duration=1", "-i", subtitles.string(), "-map", "0", "-map", "1", "-map",
         "2", "-map", "3", "-c:v", "libx264", "-c:a", "aac", "-c:s", "srt"});
    // The preferences are read from the folder the environment names: an empty one, the defaults.
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    const auto result = ProcessRunner().run(KOLVEX_DRIVE, {"--to", "mp4", "--ring", "--out", dir.path().string(), source.string()},
                                            std::chrono::seconds(120), nullptr, nullptr);
    ::unsetenv("XDG_CONFIG_HOME");
    const std::string out = result.standardOutput();
    ASSERT_EQ(result.exitCode, 0) << out << result.standardError();
    const std::string ok = "ok\t";
    ASSERT_EQ(out.rfind(ok, 0), 0u) << out;
    EXPECT_NE(out.find("\tcopy\t" + source.string() + "\t" + (dir / "two voices.mp4").string() + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("note\t" + source.string() + "\t1 audio track and 1 subtitle track were left out\n"), std::string::npos)
        << out;
    EXPECT_EQ(testing::probeEntry(dir / "two voices.mp4", "stream=codec_type"), "video\naudio");
}

// A picture a resize would not shrink is left as it is: said on a line of its own with the
// reason, nothing written, and no failure in the exit status.
TEST(Driver, APictureLeftAsItIsIsNoFailure) {
    KOLVEX_REQUIRE_FFMPEG();
    testing::TempDir dir;
    const auto tiny = testing::makeMedia(dir / "tiny1.png", {"-f", "lavfi", "-i", "color=c=red:size=16x16", "-vf", "scale=1:1", "-frames:v", "1"});
    const auto result = ProcessRunner().run(KOLVEX_DRIVE, {"--tool", "resize", "--set", "maxDimension=250", tiny.string()},
                                            std::chrono::seconds(120), nullptr, nullptr);
    const std::string out = result.standardOutput();
    EXPECT_EQ(result.exitCode, 0) << out << result.standardError();
    EXPECT_EQ(out.find("error\t"), std::string::npos) << out;
    const std::string left = "\t" + tiny.string() + "\tLeft as it is: 1 × 1 is no larger than 250 px\n";
    EXPECT_EQ(out.rfind("left\t", 0), 0u) << out;
    EXPECT_NE(out.find(left), std::string::npos) << out;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1) << "nothing written";
}

// A stream copy lists no encoders; a re-encode lists them once, into the user's cache. Either
// run ends having settled its record of work in progress.
TEST(Driver, ListsEncodersOnlyForWorkThatEncodesAndLeavesNoRecord) {
    KOLVEX_REQUIRE_FFMPEG();
    testing::TempDir dir;
    const auto source = testing::makeClip(dir / "clip.mp4", {.codecArguments = {"-c:v", "libx264", "-c:a", "aac"}});
    const fs::path cache = dir / "cache" / "kolvex" / "ffmpeg-encoders";
    const fs::path records = dir / "tmp" / ("Kolvex-" + std::to_string(::geteuid())) / ".in-progress";
    fs::create_directories(dir / "tmp");
    ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    const auto drive = [&](const std::string& target) {
        return ProcessRunner({"TMPDIR=" + (dir / "tmp").string()})
            .run(KOLVEX_DRIVE, {"--to", target, "--out", dir.path().string(), source.string()}, std::chrono::seconds(120), nullptr,
                 nullptr);
    };
    const auto copy = drive("mkv");
    const bool listedForCopy = fs::exists(cache);
    const auto encode = drive("wav");
    ::unsetenv("XDG_CACHE_HOME");

    ASSERT_EQ(copy.exitCode, 0) << copy.standardOutput() << copy.standardError();
    EXPECT_NE(copy.standardOutput().find("\tcopy\t"), std::string::npos) << copy.standardOutput();
    EXPECT_FALSE(listedForCopy);
    ASSERT_EQ(encode.exitCode, 0) << encode.standardOutput() << encode.standardError();
    EXPECT_NE(encode.standardOutput().find("\tencode\t"), std::string::npos) << encode.standardOutput();
    EXPECT_TRUE(fs::exists(cache));
    EXPECT_EQ(testing::probeEntry(dir / "clip.wav", "stream=codec_name"), "pcm_s16le");
    std::error_code ec;
    EXPECT_EQ(std::distance(fs::directory_iterator(records, ec), {}), 0);
}

// An ordinary run, not only one asked to sweep, first takes away what a killed run left: its
// partial outputs and its scratch folders. A live run's work is not touched.
TEST(Driver, EveryRunSweepsWhatADeadRunLeft) {
    testing::TempDir dir;
    testing::TempDir tmp;
    const fs::path root = tmp / ("Kolvex-" + std::to_string(::geteuid()));
    const fs::path scratch = root / Uuid::random().toString();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        WorkInProgress record(root);
        StagedOutput output(dir / "half.mp4", StagedOutput::Kind::file, FileManagerService::shared(), record);
        output.write("half");
        const auto recorded = record.add(scratch);
        fs::create_directories(scratch / "work");
        ::raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    WorkInProgress live(root);
    StagedOutput running(dir / "running.txt", StagedOutput::Kind::file, FileManagerService::shared(), live);
    running.write("still going");
    ASSERT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2);
    ASSERT_TRUE(fs::exists(scratch));

    const auto result = ProcessRunner({"TMPDIR=" + tmp.path().string()})
                            .run(KOLVEX_DRIVE, {"--to", "png", "--out", dir.path().string(), (dir / "missing.jpg").string()},
                                 std::chrono::seconds(60), nullptr, nullptr);
    EXPECT_EQ(result.exitCode, 1) << result.standardOutput() << result.standardError();
    EXPECT_FALSE(fs::exists(scratch));
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir.path())) left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{running.path().filename().string()});
}

// Runs started together on one folder all plan the same free names; each keeps its work under
// a name of its own instead of discarding it when another run got there first.
TEST(Driver, ConcurrentRunsOnOneFolderAllKeepTheirWork) {
    KOLVEX_REQUIRE_FFMPEG();
    testing::TempDir dir;
    std::vector<std::string> sources;
    for (const char* name : {"a.png", "b.png", "c.png"}) {
        sources.push_back(
            testing::makeMedia(dir / name, {"-f", "lavfi", "-i", "testsrc2=size=320x240", "-frames:v", "1"}).string());
    }
    const fs::path out = dir / "out";
    fs::create_directories(out);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    constexpr int kRuns = 8;
    std::vector<std::future<ProcessResult>> runs;
    for (int i = 0; i < kRuns; ++i) {
        std::vector<std::string> arguments{"--to", "webp", "--out", out.string()};
        arguments.insert(arguments.end(), sources.begin(), sources.end());
        runs.push_back(std::async(std::launch::async, [arguments] {
            return ProcessRunner().run(KOLVEX_DRIVE, arguments, std::chrono::seconds(120), nullptr, nullptr);
        }));
    }
    std::set<std::string> outputs;
    int lines = 0;
    for (auto& run : runs) {
        const ProcessResult result = run.get();
        EXPECT_EQ(result.exitCode, 0) << result.standardOutput() << result.standardError();
        std::istringstream text(result.standardOutput());
        for (std::string line; std::getline(text, line);) {
            if (!line.starts_with("ok\t")) continue;
            ++lines;
            outputs.insert(line.substr(line.rfind('\t') + 1));
        }
    }
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(lines, kRuns * 3);
    EXPECT_EQ(outputs.size(), static_cast<size_t>(kRuns * 3)) << "two runs reported one output";
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(out)) files += entry.path().extension() == ".webp";
    EXPECT_EQ(files, static_cast<size_t>(kRuns * 3));
}

// What a first request pays before its work, as the comparison measures it: a module loaded and
// nothing else done; one that cannot be loaded is named.
TEST(Driver, LoadsAnEngineModuleAlone) {
    const auto run = [](const std::string& module) {
        return ProcessRunner().run(KOLVEX_DRIVE, {"--load", module}, std::chrono::seconds(60), nullptr, nullptr);
    };
    const auto loaded = run("media");
    EXPECT_EQ(loaded.exitCode, 0) << loaded.standardError();
    EXPECT_EQ(loaded.standardOutput(), "loaded\tmedia\n");
    const auto missing = run("nosuch");
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.standardError().find("nosuch engine"), std::string::npos) << missing.standardError();
}

}  // namespace
}  // namespace kolvex
