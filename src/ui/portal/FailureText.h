// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

namespace kolvex {

// How a failure is told inside the aperture's disc: the x mark, the message wrapped line by line
// to the width the circle has at that height, and "Show details" under it when the details say
// more than the centre shows. When the message does not fit and names one of the dropped files,
// the reason comes first and the name, shortened in its middle, last: a long name never pushes
// the reason out. Coordinates about the disc's centre, y down. GUI thread (fonts).
struct FailureText {
    // Everything stays this close to the centre: inside the ring, with room for its stroke.
    static constexpr double kRadius = 58;
    static constexpr double kSymbol = 22;  // the x mark's height
    static constexpr double kGap = 6;
    static constexpr int kMaxLines = 3;

    QStringList lines;
    double symbolTop = 0;
    double firstLine = 0;   // top of the first line
    double lineHeight = 0;
    bool complete = true;   // the lines hold every word of the message
    bool offersDetails = false;
    double buttonTop = 0;   // "Show details", when offered

    // `names`: the file names the message may contain; `detail`: the failure's details (may
    // repeat the message).
    static FailureText layout(const QString& message, const QString& detail, const QStringList& names,
                              const QFont& font, const QFont& buttonFont);
    // The width the disc has for a band of text from `top` to `bottom`.
    static double widthAt(double top, double bottom);
    // Whether `detail` says anything the message does not.
    static bool saysMore(const QString& detail, const QString& message);
};

}  // namespace kolvex
