// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/OutputProjection.h"

#include <gtest/gtest.h>

namespace kolvex {
namespace {

TEST(OutputProjection, TheNeedIsWhatThePiecesWrittenTakeForEveryPiece) {
    OutputProjection projection(100, int64_t{4} << 20);
    EXPECT_EQ(projection.need(), 0);
    projection.add(1000);
    projection.add(3000);
    // 4000 written, 98 pieces left at 2000 each.
    EXPECT_EQ(projection.need(), 4000 + 98 * 2000);
    for (int i = 0; i < 98; ++i) projection.add(2000);
    EXPECT_EQ(projection.need(), 200'000);
    projection.add(5000);  // more pieces than announced: what was written
    EXPECT_EQ(projection.need(), 205'000);
}

TEST(OutputProjection, AJobIsRefusedOnceItsFirstPiecesShowTheRestCannotFit) {
    const int64_t room = 1'000'000;
    OutputProjection projection(1000, room);
    // Three pieces are too few to judge, however large.
    for (int i = 0; i < 3; ++i) projection.add(100'000);
    EXPECT_NO_THROW(projection.refuseIfBeyondRoom());
    projection.add(100'000);
    try {
        projection.refuseIfBeyondRoom();
        ADD_FAILURE() << "not refused";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error, ConversionError::insufficientDiskSpace(100'000'000, room));
    }
    // A large first piece (a cover page) does not refuse a long set of small ones that fits.
    OutputProjection cover(100, room);
    cover.add(500'000);
    for (int i = 0; i < 9; ++i) cover.add(2000);
    EXPECT_NO_THROW(cover.refuseIfBeyondRoom());
    // A set that fits goes on; so does one on a volume whose room is unknown.
    OutputProjection fits(1000, room);
    for (int i = 0; i < 10; ++i) fits.add(900);
    EXPECT_NO_THROW(fits.refuseIfBeyondRoom());
    OutputProjection unknown(1000, std::nullopt);
    for (int i = 0; i < 10; ++i) unknown.add(100'000);
    EXPECT_NO_THROW(unknown.refuseIfBeyondRoom());
    // A short job is judged once all of it is in.
    OutputProjection two(2, 100);
    two.add(60);
    EXPECT_NO_THROW(two.refuseIfBeyondRoom());
    two.add(60);
    EXPECT_THROW(two.refuseIfBeyondRoom(), ConversionError);
}

TEST(OutputProjection, AFullDiskIsToldWithTheWholeJobsNeedAndTheRoomAtTheStart) {
    OutputProjection projection(60, 4'200'000);
    for (int i = 0; i < 20; ++i) projection.add(160'000);
    // The page that met the full volume knew only itself and the nothing left.
    const auto settled = projection.settle(ConversionError::insufficientDiskSpace(25'000'000, 0));
    EXPECT_EQ(settled, ConversionError::insufficientDiskSpace(60 * 160'000, 4'200'000));
    // What the job writes, even below the room at the start: another writer took the room.
    OutputProjection small(10, 4'200'000);
    small.add(1000);
    EXPECT_EQ(small.settle(ConversionError::insufficientDiskSpace(1, 0)),
              ConversionError::insufficientDiskSpace(10'000, 4'200'000));
    // Before any piece, every piece as large as the one that failed, when its size is known;
    // else the error's own need.
    OutputProjection none(10, 4'200'000);
    EXPECT_EQ(none.settle(ConversionError::insufficientDiskSpace(9'000'000, 0), 3'000'000),
              ConversionError::insufficientDiskSpace(30'000'000, 4'200'000));
    EXPECT_EQ(none.settle(ConversionError::insufficientDiskSpace(9'000'000, 0)),
              ConversionError::insufficientDiskSpace(9'000'000, 4'200'000));
    EXPECT_EQ(none.settle(ConversionError::insufficientDiskSpace(10, 0)),
              ConversionError::insufficientDiskSpace(10, 4'200'000));
    // Other errors pass unchanged.
    EXPECT_EQ(projection.settle(ConversionError::cancelled()), ConversionError::cancelled());
}

}  // namespace
}  // namespace kolvex
