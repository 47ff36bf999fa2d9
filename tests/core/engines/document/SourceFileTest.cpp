// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "core/engines/document/SourceFile.h"
#include "core/format/ConversionError.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

TEST(SourceFile, ReadsOnlyRegularFilesWithinTheLimit) {
    testing::TempDir dir;
    const auto file = dir.write("a.txt", "12345");
    EXPECT_EQ(readSourceFile(file, 5), "12345");
    EXPECT_THROW(readSourceFile(file, 4), ConversionError);
    EXPECT_THROW(readSourceFile(dir.path(), 100), ConversionError);
    EXPECT_THROW(readSourceFile("/dev/zero", 100), ConversionError);
}

}  // namespace
}  // namespace kolvex
