// SPDX-License-Identifier: GPL-3.0-or-later
// The longest line, word and cell: each laid out into a PDF within a bound, every letter drawn,
// and stopped within a bound when the job is cancelled in the middle of its layout. Each case
// runs in a child process, so a hang (or a crash) fails it instead of holding the suite.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <stop_token>
#include <string>

#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "core/engines/document/DocumentEngine.h"
#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

constexpr size_t kLength = 1'000'000;
// Far beyond what the layout of these takes on a slow machine (seconds), far below what breaking
// the words by Qt's own measure took (minutes).
constexpr unsigned kConvertBound = 60;
constexpr unsigned kCancelBound = 20;

struct LongCase {
    const char* name;
    const char* from;
    char letter;  // the letter the long run is made of, counted in the PDF's text
    std::string (*make)();
};

const LongCase kCases[] = {
    {"line", "txt", 'a', [] { return std::string(kLength, 'a') + "\n"; }},
    {"word among words", "txt", 'q',
     [] { return "Some words go before it on the line " + std::string(kLength, 'q') + " and some go after it.\n"; }},
    {"quoted cell", "csv", 'z',
     [] { return "name,value,note\nfirst,\"" + std::string(kLength, 'z') + "\",x\nsecond,2,y\n"; }},
    {"line of letters beyond the Basic Multilingual Plane", "txt", 0,
     [] {
         std::string text;
         for (size_t i = 0; i < kLength / 8; ++i) text += "\xF0\x9D\x90\x80";  // MATHEMATICAL BOLD CAPITAL A
         return text + "\n";
     }},
};

// Runs the conversion of `source` in the child of a death test: exits 0 when it ends as
// `cancelAt` asks (converted, or cancelled after the read) before the alarm.
[[noreturn]] void convertInChild(const fs::path& source, const fs::path& destination, const std::string& from,
                                 bool cancel, unsigned bound) {
    ::alarm(bound);  // SIGALRM ends a run that hangs: the death test then fails
    std::stop_source stop;
    const auto progress = [&](double fraction) {
        // Read, and about to be laid out: the moment a cancel was not seen before.
        if (cancel && fraction >= 0.45) stop.request_stop();
    };
    try {
        DocumentEngine().convert(testing::documentJob(source, destination, from, "pdf"), progress, stop.get_token());
        std::_Exit(cancel ? 3 : 0);
    } catch (const OperationCancelled&) {
        std::_Exit(cancel ? 0 : 4);
    } catch (const ConversionError& error) {
        std::_Exit(cancel && error.kind() == ConversionError::Kind::cancelled ? 0 : 5);
    }
}

TEST(LongWords, TheLongestLineWordAndCellAreLaidOutAndStoppedWithinABound) {
    // Forked, not run anew: the child converts the files this test made, in its folder.
    GTEST_FLAG_SET(death_test_style, "fast");
    for (const LongCase& longCase : kCases) {
        SCOPED_TRACE(longCase.name);
        TempDir dir;
        const fs::path source = dir.write(std::string("long.") + longCase.from, longCase.make());
        const fs::path out = dir / "out";
        fs::create_directory(out);
        const fs::path destination = out / "long.pdf";

        EXPECT_EXIT(convertInChild(source, destination, longCase.from, true, kCancelBound), ::testing::ExitedWithCode(0), "");
        EXPECT_TRUE(fs::is_empty(out)) << "a cancelled job left something behind";

        EXPECT_EXIT(convertInChild(source, destination, longCase.from, false, kConvertBound), ::testing::ExitedWithCode(0), "");
        ASSERT_TRUE(fs::exists(destination));
        for (const auto& entry : fs::directory_iterator(out))
            EXPECT_EQ(entry.path(), destination) << "left beside the output";
        const auto text = testing::pdfText(destination);
        if (!text) GTEST_SKIP() << "pdftotext is not installed";
        if (longCase.letter)
            EXPECT_EQ(static_cast<size_t>(std::count(text->begin(), text->end(), longCase.letter)), kLength)
                << "letters of the long run were lost";
        else
            EXPECT_EQ(text->size() - static_cast<size_t>(std::count_if(text->begin(), text->end(),
                                                                        [](char c) { return c == '\n' || c == '\f'; })),
                      kLength / 2)
                << "letters of the long run were lost";
    }
}

}  // namespace
}  // namespace kolvex
