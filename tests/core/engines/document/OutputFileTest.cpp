#include <gtest/gtest.h>

#include "core/engines/document/OutputFile.h"
#include "core/format/ConversionError.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

TEST(OutputFile, AppearsWhole) {
    testing::TempDir dir;
    // A long Unicode name at the file system's limit still gets a valid hidden name beside it.
    std::string longName;
    while (longName.size() + 2 <= 250) longName += "\xC3\xA9";
    longName += ".txt";
    for (const std::string& name : {std::string("plain.txt"), std::string("-starts with dash.txt"), longName}) {
        const auto destination = dir / name;
        {
            OutputFile output(destination);
            output.write("partial");
            EXPECT_FALSE(std::filesystem::exists(destination));
            EXPECT_LE(output.temporaryPath().filename().string().size(), 255u);
        }
        EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "an uncommitted file is removed";
        OutputFile::writeAtomically(destination, "whole");
        EXPECT_EQ(testing::readFile(destination), "whole");
        std::filesystem::remove(destination);
    }
}

TEST(OutputFile, NeverReplacesAnExistingFile) {
    testing::TempDir dir;
    const auto taken = dir.write("taken.txt", "original");
    try {
        OutputFile::writeAtomically(taken, "new");
        FAIL();
    } catch (const ConversionError& error) {
        EXPECT_EQ(error, ConversionError::outputNameUnavailable(taken));
    }
    EXPECT_EQ(testing::readFile(taken), "original");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(OutputFile, ReadsOnlyRegularFilesWithinTheLimit) {
    testing::TempDir dir;
    const auto file = dir.write("a.txt", "12345");
    EXPECT_EQ(readSourceFile(file, 5), "12345");
    EXPECT_THROW(readSourceFile(file, 4), ConversionError);
    EXPECT_THROW(readSourceFile(dir.path(), 100), ConversionError);
    EXPECT_THROW(readSourceFile("/dev/zero", 100), ConversionError);
}

}  // namespace
}  // namespace kolvex
