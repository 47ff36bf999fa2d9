// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kolvex {

// Times as the media sheets show and read them. Pure functions; any thread.
struct MediaTime {
    // Whole minutes (not padded, no hours field), then seconds with two digits before and two
    // after the point: 75.5 → "1:15.50", 3725 → "62:05.00". Negative and non-finite times show
    // as zero. The value is rounded to hundredths before it is split, so 59.999 reads "1:00.00".
    static std::string format(double seconds);

    // Reads seconds ("90", "1.5"), m:s ("1:30", "1:75") or h:m:s ("0:1:30"). Spaces and tabs
    // around the text are ignored; minutes and hours must be whole; no piece may be negative,
    // empty or not a finite number; four or more pieces are refused.
    static std::optional<double> parse(std::string_view text);

    // The clock text of a length: seconds rounded (halves away from zero), "m:ss" below an hour
    // and "h:mm:ss" from an hour on (75 → "1:15", 3725 → "1:02:05").
    static std::string clock(double seconds);
};

}  // namespace kolvex
