// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <optional>

#include "core/format/ConversionError.h"

namespace kolvex {

// The room a job that writes many pieces (the pages of a PDF, the parts of a split) needs on its
// volume, judged from the pieces it has written so far: what they took on average, for every
// piece. A full disk then names what the whole job needs, and a job whose first pieces already
// show that the rest cannot fit is refused before it has filled the disk.
// Thread-safe.
class OutputProjection {
public:
    // `pieces`: how many the job writes. `freeAtStart`: the room on the output's volume before
    // the first piece (none when it cannot be read: nothing is then refused early).
    OutputProjection(int64_t pieces, std::optional<int64_t> freeAtStart);

    // A piece of `bytes` was written.
    void add(int64_t bytes);
    // The bytes written so far plus, for every piece left, their average; 0 before the first.
    int64_t need() const;
    int64_t written() const { return m_bytes.load(); }
    int64_t piecesWritten() const { return m_done.load(); }

    // Throws insufficientDiskSpace (the need, the room at the start) once enough pieces are in to
    // judge — kPiecesToJudge, or all of a shorter job — and even the smallest of them, for every
    // piece left, passes the room: a large first page (a cover) does not refuse a long document
    // of small ones.
    void refuseIfBeyondRoom() const;

    // A full disk met while writing, told with the job's need (what its pieces take: below the
    // room at the start when another writer filled the volume) and the room there was at the
    // start, which the job's staged pieces give back when they are removed (job execution tells
    // what is free once they are). `failedPiece`: the size of the piece that did not fit, when the
    // writer could tell; before any piece is written, the job is judged by it. Any other error
    // is returned unchanged.
    ConversionError settle(const ConversionError& error, std::optional<int64_t> failedPiece = std::nullopt) const;

    static constexpr int64_t kPiecesToJudge = 4;

private:
    const int64_t m_pieces;
    const std::optional<int64_t> m_freeAtStart;
    std::atomic<int64_t> m_done{0};
    std::atomic<int64_t> m_bytes{0};
    std::atomic<int64_t> m_smallest{std::numeric_limits<int64_t>::max()};
};

}  // namespace kolvex
