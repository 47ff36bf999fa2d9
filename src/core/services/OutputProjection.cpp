// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/OutputProjection.h"

#include <algorithm>

namespace kolvex {

OutputProjection::OutputProjection(int64_t pieces, std::optional<int64_t> freeAtStart)
    : m_pieces(std::max<int64_t>(pieces, 1)), m_freeAtStart(freeAtStart) {}

void OutputProjection::add(int64_t bytes) {
    bytes = std::max<int64_t>(bytes, 0);
    int64_t smallest = m_smallest.load();
    while (bytes < smallest && !m_smallest.compare_exchange_weak(smallest, bytes)) {
    }
    // The bytes first: a reader that sees the piece counted sees its bytes too.
    m_bytes += bytes;
    ++m_done;
}

int64_t OutputProjection::need() const {
    const int64_t done = m_done.load();
    const int64_t bytes = m_bytes.load();
    if (done < 1) return 0;
    const int64_t left = std::max<int64_t>(m_pieces - done, 0);
    // In floating point: a terabyte of pages times thousands of pages still fits.
    const double projected = static_cast<double>(bytes) + static_cast<double>(bytes) / static_cast<double>(done) *
                                                              static_cast<double>(left);
    return static_cast<int64_t>(std::min(projected, 9.0e18));
}

void OutputProjection::refuseIfBeyondRoom() const {
    if (!m_freeAtStart) return;
    const int64_t done = m_done.load();
    if (done < std::min(kPiecesToJudge, m_pieces)) return;
    const double left = static_cast<double>(std::max<int64_t>(m_pieces - done, 0));
    const double least = static_cast<double>(m_bytes.load()) + left * static_cast<double>(m_smallest.load());
    if (least > static_cast<double>(*m_freeAtStart)) {
        throw ConversionError::insufficientDiskSpace(std::max(need(), *m_freeAtStart + 1), *m_freeAtStart);
    }
}

ConversionError OutputProjection::settle(const ConversionError& error, std::optional<int64_t> failedPiece) const {
    if (error.kind() != ConversionError::Kind::insufficientDiskSpace) return error;
    const int64_t room = std::max<int64_t>(m_freeAtStart.value_or(error.available()), 0);
    int64_t projected = need();
    if (m_done.load() < 1) {
        // Before the first piece is in, the piece that failed is all there is to go by: every
        // piece like it, when its size is known; else what the error said.
        projected = failedPiece && *failedPiece > 0
                        ? static_cast<int64_t>(std::min(static_cast<double>(*failedPiece) * static_cast<double>(m_pieces), 9.0e18))
                        : error.required();
    }
    // A need at or below the room is still what the job writes: another writer took the room
    // meanwhile. Only a need unknown altogether says "more than there was".
    return ConversionError::insufficientDiskSpace(projected > 0 ? projected : room + 1, room);
}

}  // namespace kolvex
