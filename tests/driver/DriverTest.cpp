#include <cstdlib>
#include <future>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/services/ProcessRunner.h"
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

}  // namespace
}  // namespace kolvex
