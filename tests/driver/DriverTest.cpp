#include <cstdlib>

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

}  // namespace
}  // namespace kolvex
