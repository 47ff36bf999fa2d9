// SPDX-License-Identifier: GPL-3.0-or-later
// A sheet's read of every keyframe keeps the file open for the job that follows: the job's facts
// and cuts are those of a fresh opening, and a file that changed in between is opened afresh.
#include "core/ffmpeg/KeptInput.h"

#include <fstream>
#include <limits>
#include <thread>

#include <gtest/gtest.h>

#include "core/ffmpeg/FFmpegEngine.h"
#include "core/format/ConversionError.h"
#include "core/ffmpeg/LibavKeyframeReader.h"
#include "core/ffmpeg/LibavProber.h"
#include "core/ffmpeg/preview/MediaFacts.h"
#include "core/services/Preferences.h"
#include "MediaReport.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "TestFormats.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using Window = std::pair<double, double>;

class KeptInputTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!testing::haveFFmpeg()) return;
        s_dir = new testing::TempDir;
        // Keyframes every second with B-frames between them; a second clip of another length.
        for (const auto& [name, seconds] : {std::pair("clip.mp4", 4), std::pair("other.mp4", 3)}) {
            testing::makeMedia(*s_dir / name, {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=25:duration=" + std::to_string(seconds),
                                               "-f", "lavfi", "-i", "sine=duration=" + std::to_string(seconds), "-c:v",
                                               "libx264", "-bf", "2", "-g", "25", "-keyint_min", "25", "-sc_threshold", "0",
                                               "-c:a", "aac"});
        }
        // An AVI of MPEG-4 pictures with none decoded out of order: its index gives its cuts.
        testing::makeMedia(*s_dir / "plain.avi", {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=25:duration=3", "-f",
                                                  "lavfi", "-i", "sine=duration=3", "-c:v", "mpeg4", "-bf", "0", "-g",
                                                  "25", "-c:a", "libmp3lame"});
        // Copies for the tests that change them, made now: copying later would change them too.
        for (const char* name : {"replaced.mp4", "in place.mp4", "removed.mp4", "control.mp4"})
            fs::copy_file(*s_dir / "clip.mp4", *s_dir / name);
        // Only files that have not changed for a while are kept.
        std::this_thread::sleep_for(KeptInput::settle + std::chrono::milliseconds(200));
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override {
        KOLVEX_REQUIRE_FFMPEG();
        KeptInput::forget();
    }
    void TearDown() override { KeptInput::forget(); }

    static void expectFresh(const fs::path& file, const std::pair<MediaProbe, std::optional<StreamCopyCuts>>& read,
                            const Window& window) {
        EXPECT_EQ(read.first, testing::ffprobeFacts(file));
        ASSERT_TRUE(read.second);
        const StreamCopyCuts expected = testing::ffprobeCuts(file, window);
        EXPECT_EQ(read.second->keyframes.times(), expected.keyframes.times());
        EXPECT_EQ(read.second->decodeDelay, expected.decodeDelay);
    }

    static inline testing::TempDir* s_dir = nullptr;
    testing::TempDir m_dir;
};

// What the sheet read of every packet, kept for the job, gives each window as reading the window
// from the file does: the same pictures, keyframes and decoding delay.
TEST_F(KeptInputTest, TheSheetsReadGivesEveryWindowAsTheFileDoes) {
    const fs::path file = *s_dir / "clip.mp4";
    const StreamCopyCuts all = LibavKeyframeReader().everyCut(file);
    KeptInput::forget();
    const double end = std::numeric_limits<double>::infinity();
    for (const Window& window : {Window(-1.0, 1.0), Window(0.3, 2.3), Window(0.96, 2.0), Window(1.6, end), Window(3.5, end)}) {
        SCOPED_TRACE(window.first);
        const StreamCopyCuts kept = all.within(window);
        const StreamCopyCuts read = LibavKeyframeReader().cuts(file, {}, window);
        EXPECT_EQ(kept.pictures, read.pictures);
        EXPECT_EQ(kept.keyframes, read.keyframes);
        EXPECT_EQ(kept.decodeDelay, read.decodeDelay);
    }
}

// Whether an AVI's MPEG-4 pictures are packed is told to the job by the sheet's read, and by a
// trim's own read, as the probe tells it: the job need not open the file again to look.
TEST_F(KeptInputTest, TheSheetsReadOfAnAviSaysWhetherItsPicturesArePacked) {
    const fs::path file = *s_dir / "plain.avi";
    const MediaProbe probed = LibavProber().probe(file);
    ASSERT_EQ(probed.packedBFrames, false);
    LibavKeyframeReader().index(file);
    const auto kept = KeptInput::take(file);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->probe, probed);
    EXPECT_EQ(LibavProber().probeWithCuts(file, {0.3, 1.3}).first, probed);
}

TEST_F(KeptInputTest, ServesTheJobAfterTheSheetOnce) {
    const fs::path file = *s_dir / "clip.mp4";
    for (const Window& window : {Window(0.0, 1.0), Window(0.3, 2.3), Window(1.6, 3.6)}) {
        SCOPED_TRACE(window.first);
        std::stop_source sheet;
        LibavKeyframeReader().index(file, sheet.get_token());
        // The sheet has closed and stopped its reads: the job's reads go on under its own.
        sheet.request_stop();
        expectFresh(file, LibavProber().probeWithCuts(file, window), window);
        EXPECT_FALSE(KeptInput::take(file)) << "taken twice";
    }
    LibavKeyframeReader().index(file);
    EXPECT_TRUE(KeptInput::take(file));
    // A job's own reads keep nothing.
    for (const auto& window : {std::optional<Window>(), std::optional(Window(0.3, 2.3))}) {
        LibavKeyframeReader().cuts(file, {}, window);
        EXPECT_FALSE(KeptInput::take(file));
    }
}

TEST_F(KeptInputTest, AChangedFileIsOpenedAfresh) {
    // Kept when nothing changes, as each file below would be.
    LibavKeyframeReader().index(*s_dir / "control.mp4");
    EXPECT_TRUE(KeptInput::take(*s_dir / "control.mp4"));

    const Window window(0.3, 2.3);
    const fs::path replaced = *s_dir / "replaced.mp4";
    LibavKeyframeReader().index(replaced);
    fs::copy_file(*s_dir / "other.mp4", m_dir / "other.mp4");
    fs::rename(m_dir / "other.mp4", replaced);
    expectFresh(replaced, LibavProber().probeWithCuts(replaced, window), window);

    const fs::path inPlace = *s_dir / "in place.mp4";
    LibavKeyframeReader().index(inPlace);
    {
        std::fstream file(inPlace, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(100);
        file.put('x');
    }
    EXPECT_FALSE(KeptInput::take(inPlace));

    const fs::path removed = *s_dir / "removed.mp4";
    LibavKeyframeReader().index(removed);
    fs::remove(removed);
    EXPECT_THROW(LibavProber().probeWithCuts(removed, window), ConversionError);

    // Just written: a change within the same tick of the clock could go unseen, so nothing is kept.
    const fs::path fresh = m_dir / "fresh.mp4";
    fs::copy_file(*s_dir / "clip.mp4", fresh);
    LibavKeyframeReader().index(fresh);
    EXPECT_FALSE(KeptInput::take(fresh));
}

// Whether this process has `file` open: a removable disk holding it cannot be unmounted, and a
// deleted file's space is not given back, while it is.
bool heldOpen(const fs::path& file) {
    std::error_code error;
    const fs::path wanted = fs::canonical(file, error);
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", error)) {
        std::error_code unreadable;
        if (fs::read_symlink(entry.path(), unreadable) == wanted) return true;
    }
    return false;
}

// A sheet that ends with no job (cancelled, failed, withdrawn) lets go of the file at once, and
// a read that finishes after its sheet ended keeps nothing, whatever came first.
TEST_F(KeptInputTest, NothingStaysOpenOnceTheSheetEndsWithoutAJob) {
    const fs::path file = *s_dir / "clip.mp4";
    const FFmpegMediaFacts facts;
    std::stop_source sheet;
    EXPECT_FALSE(facts.keyframes(file, sheet.get_token()).times().empty());
    ASSERT_TRUE(heldOpen(file)) << "kept for the job that would follow";
    sheet.request_stop();
    facts.letGo();
    EXPECT_FALSE(heldOpen(file));
    EXPECT_FALSE(KeptInput::take(file));

    // The read outlived its sheet: the sheet's end has stopped it before it keeps what it read.
    for (const bool forgottenFirst : {false, true}) {
        SCOPED_TRACE(forgottenFirst);
        std::stop_source ended;
        const auto identity = KeptInput::Identity::of(file);
        ASSERT_TRUE(identity);
        auto input = std::make_unique<LibavInput>(file, std::stop_token{}, std::chrono::seconds(10));
        MediaProbe probe = LibavProber::facts(*input);
        ended.request_stop();
        if (forgottenFirst) facts.letGo();
        KeptInput::keep(*identity, std::move(input), std::move(probe), ended.get_token());
        if (!forgottenFirst) facts.letGo();
        EXPECT_FALSE(heldOpen(file));
        EXPECT_FALSE(KeptInput::take(file));
    }
}

// A split after its sheet's read leaves nothing open.
TEST_F(KeptInputTest, SplitsCloseWhatTheSheetKept) {
    const FFmpegEngine engine(BundledFFmpeg::inBundle(), nullptr, {});
    ConversionOptions options = Preferences{}.conversionOptions(FormatCategory::video);
    options.tool = "split";
    options.splitPoints = {2};
    const fs::path source = *s_dir / "clip.mp4";
    LibavKeyframeReader().index(source);
    const auto parts = engine.convertReporting(testing::mediaJob(source, m_dir / "part.mp4", "mp4", "mp4", options), nullptr, {});
    EXPECT_EQ(parts.outputs.size(), 2u);
    EXPECT_FALSE(KeptInput::take(source));
}

// The copied trim made after the sheet's read is the very file made without it.
TEST_F(KeptInputTest, TrimsAfterTheSheetAreTheSame) {
    const FFmpegEngine engine(BundledFFmpeg::inBundle(), nullptr, {});
    ConversionOptions options = Preferences{}.conversionOptions(FormatCategory::video);
    options.tool = "trim";
    options.trimStart = 1;
    options.trimEnd = 3;
    const fs::path source = *s_dir / "clip.mp4";
    const auto alone = engine.convertReporting(testing::mediaJob(source, m_dir / "alone.mp4", "mp4", "mp4", options), nullptr, {});
    LibavKeyframeReader().index(source);
    const auto after = engine.convertReporting(testing::mediaJob(source, m_dir / "after.mp4", "mp4", "mp4", options), nullptr, {});
    EXPECT_FALSE(KeptInput::take(source));
    EXPECT_TRUE(alone.usedPassthrough);
    EXPECT_TRUE(after.usedPassthrough);
    const auto bytes = [](const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(bytes(after.outputs.at(0)), bytes(alone.outputs.at(0)));
    EXPECT_EQ(testing::MediaReport::of(after.outputs.at(0)).decodeErrors, "");
    EXPECT_EQ(testing::decodedStream(after.outputs.at(0), "v:0").frames, 50);
}

}  // namespace
}  // namespace kolvex
