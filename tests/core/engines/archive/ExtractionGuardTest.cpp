#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "core/engines/archive/ExtractionGuard.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

TEST(ExtractionGuard, StopsUnpackingPastTheCapAndSaysByHowMuch) {
    testing::TempDir dir;
    ExtractionGuard::Limits limits;
    limits.minimumFreeBytes = 0;
    limits.maxExtractedBytes = 64 * 1024;
    limits.pollInterval = std::chrono::milliseconds(5);
    std::stop_source stop;
    ExtractionGuard guard(dir.path(), limits, stop);

    // What an archive that lied about its size would write: far more than it is allowed.
    {
        std::ofstream out(dir / "expanded.bin", std::ios::binary);
        const std::string block(64 * 1024, 'x');
        for (int i = 0; i < 16; ++i) out << block;
    }
    EXPECT_TRUE(guard.finalCheck());
    EXPECT_TRUE(guard.tripped());
    EXPECT_TRUE(stop.stop_requested()) << "the unpacking program is told to stop";
    const ConversionError error = guard.error(dir / "bomb.zip");
    EXPECT_EQ(error.kind(), ConversionError::Kind::insufficientDiskSpace);
    EXPECT_EQ(error.available(), 64 * 1024);
    EXPECT_GT(error.required(), error.available());
}

}  // namespace
}  // namespace kolvex
