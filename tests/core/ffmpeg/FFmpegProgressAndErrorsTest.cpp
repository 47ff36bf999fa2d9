#include <gtest/gtest.h>

#include "core/ffmpeg/FFmpegErrorMapper.h"
#include "core/ffmpeg/FFmpegProgressParser.h"
#include "support/TempDir.h"
#include "TestFormats.h"

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

TEST(FFmpegErrorMapper, MapsPhrasesToErrorsInRuleOrder) {
    const auto job = testing::mediaJob("/src/in.mkv", "/dst/out.mp4", "mkv", "mp4");
    const FFmpegErrorMapper::DiskFigures figures{5'000'000, 1'000};
    const std::vector<std::pair<std::string, ConversionError>> rows = {
        {"in.mkv: Invalid data found when processing input", ConversionError::corruptedInput("/src/in.mkv")},
        {"moov atom not found", ConversionError::corruptedInput("/src/in.mkv")},
        {"Error: Permission denied", ConversionError::insufficientPermissions("/dst/out.mp4")},
        {"Invalid data found\npermission denied", ConversionError::corruptedInput("/src/in.mkv")},
        {"av_interleaved_write_frame(): No space left on device", ConversionError::insufficientDiskSpace(5'000'000, 1'000)},
        {"Unknown encoder 'libfoo'", ConversionError::unsupportedCodec("libfoo")},
        {"Unknown encoder", ConversionError::unsupportedCodec("MP4")},
        {"Encoder not found", ConversionError::unsupportedCodec("MP4")},
        {"Decoder (codec av1) not found for input stream #0:0", ConversionError::unsupportedCodec("av1")},
        {"Decoder 'xyz' not found", ConversionError::unsupportedCodec("xyz")},
        {"decoder not found", ConversionError::unsupportedCodec("this codec")},
        {"Could not find codec parameters for stream 0", ConversionError::corruptedInput("/src/in.mkv")},
        {"decoder trouble; could not find codec parameters", ConversionError::corruptedInput("/src/in.mkv")},
        {"Output file #0 does not contain any stream", ConversionError::corruptedInput("/src/in.mkv")},
        {"Could not write header for output file", ConversionError::unsupportedCombination("MKV", "MP4")},
        {"Something Else Broke", ConversionError::backendFailure("ffmpeg", 1, "Something Else Broke")},
        {"", ConversionError::backendFailure("ffmpeg", 1, "")},
    };
    for (const auto& [text, expected] : rows) {
        const auto error = FFmpegErrorMapper::map(1, text, job, figures);
        EXPECT_EQ(error, expected) << text << " gave " << error.what();
    }
}

TEST(FFmpegErrorMapper, DiskFullCarriesRealFigures) {
    testing::TempDir dir;
    const auto source = dir.write("in.mkv", std::string(4096, 'x'));
    const auto job = testing::mediaJob(source, dir / "out.mp4", "mkv", "mp4");
    const auto error = FFmpegErrorMapper::map(1, "No space left on device", job);
    EXPECT_EQ(error.kind(), ConversionError::Kind::insufficientDiskSpace);
    EXPECT_EQ(error.required(), 4096);
    EXPECT_GT(error.available(), 0);
    EXPECT_EQ(error.shortDescription().find("Zero KB"), std::string::npos) << error.shortDescription();
}

TEST(FFmpegErrorMapper, ExtractsTheWordAfterAMarker) {
    EXPECT_EQ(FFmpegErrorMapper::extract("unknown encoder", "Unknown encoder 'libx265'\n"), "libx265");
    EXPECT_EQ(FFmpegErrorMapper::extract("unknown encoder", "x UNKNOWN ENCODER \"a b\""), "a");
    EXPECT_EQ(FFmpegErrorMapper::extract("unknown encoder", "Unknown encoder  ' \n"), std::nullopt);
    EXPECT_EQ(FFmpegErrorMapper::extract("missing", "text"), std::nullopt);
}

}  // namespace
}  // namespace kolvex
