// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "core/ffmpeg/FFmpegProgressParser.h"

namespace kolvex {
namespace {

using Lines = std::vector<std::pair<std::string, std::optional<double>>>;

void expectFractions(FFmpegProgressParser parser, const Lines& lines, const char* name) {
    for (const auto& [line, fraction] : lines) EXPECT_EQ(parser.consume(line), fraction) << name << ": " << line;
}

TEST(FFmpegProgressParser, ReportsOnlyGrowingFractions) {
    expectFractions(FFmpegProgressParser(10.0, 0.02),
                    {{"out_time_us=100000", std::nullopt},
                     {"out_time_us=5000000", 0.5},
                     {"out_time_us=4000000", std::nullopt},
                     {" \tout_time_us=6000000\t ", 0.6},
                     {"progress=continue", std::nullopt},
                     {"out_time_ms=9000000", std::nullopt},  // other keys are ignored
                     {"out_time_us=N/A", std::nullopt},
                     {"out_time_us=", std::nullopt},
                     {"garbage", std::nullopt},
                     {"out_time_us=20000000", 1.0},
                     {"out_time_us=30000000", std::nullopt},
                     {"  progress=end ", 1.0},
                     {"progress=end", 1.0}},
                    "with duration");
    expectFractions(FFmpegProgressParser(std::nullopt, 0),
                    {{"out_time_us=5000000", std::nullopt}, {"progress=end", 1.0}}, "no duration");
    expectFractions(FFmpegProgressParser(0.0, 0), {{"out_time_us=5000000", std::nullopt}}, "zero duration");
    expectFractions(FFmpegProgressParser(10.0, 0), {{"out_time_us=-5000000", std::nullopt}, {"out_time_us=nan", std::nullopt}},
                    "negative");
}

// What a copy wrote, as the end of its progress stream counts it: only a report that ended says.
TEST(FFmpegProgressParser, CountsThePicturesOfTheLastReport) {
    const std::string running = "frame=0\nout_time_us=0\nprogress=continue\nframe=412\nout_time_us=16480000\n";
    EXPECT_EQ(FFmpegProgressParser::picturesWritten(running), std::nullopt);
    EXPECT_EQ(FFmpegProgressParser::picturesWritten(running + "progress=continue\nframe=900\nfps=0.00\nprogress=end\n"), 900);
    EXPECT_EQ(FFmpegProgressParser::picturesWritten("frame=  25\nprogress=end"), 25);
    EXPECT_EQ(FFmpegProgressParser::picturesWritten("fps=0.00\nprogress=end\n"), std::nullopt);
    EXPECT_EQ(FFmpegProgressParser::picturesWritten("dup_frame=3\nprogress=end\n"), std::nullopt);
    EXPECT_EQ(FFmpegProgressParser::picturesWritten("frame=N/A\nprogress=end\n"), std::nullopt);
    EXPECT_EQ(FFmpegProgressParser::picturesWritten(""), std::nullopt);
}

}  // namespace
}  // namespace kolvex
