// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <vector>

#include <QColor>
#include <QImage>
#include <QPointF>

class QPainter;

namespace kolvex {

// The aperture's turning gradient ring. Qt's raster engine draws a gradient-stroked circle
// through its span fillers, which hand any fill of more than a few dozen spans to the global
// thread pool; at 60 frames a second that is dozens of thread wake-ups a frame for a ring a
// few pixels wide. This draws the same pixels by itself: the ring's coverage and each pixel's
// angle are worked out once per line width and scale, and a turned frame is one look-up per
// covered pixel into the gradient's colour table. GUI thread.
class SwirlRing {
public:
    // The ring's outer edge, from the aperture's centre.
    static constexpr double kOuterRadius = 67;

    // Paints the ring of `lineWidth` (drawn inside the outer edge) about `centre`, its colours
    // turned clockwise by `degrees`, in `accent` at the gradient's four stops. `p` has no
    // transform beyond a translation to whole device pixels; `devicePixelRatio` is the target's.
    void paint(QPainter& p, QPointF centre, double lineWidth, double degrees, const QColor& accent,
               double devicePixelRatio);
    // The rectangle the ring covers about `centre`, in the painter's coordinates.
    static QRectF bounds(QPointF centre);
    // Lets go of the prepared pixels (the Portal has gone).
    void release();

private:
    void prepare(QPointF subPixel, double lineWidth, const QColor& accent, double devicePixelRatio);

    struct Pixel {
        std::uint32_t offset;   // in the frame, in pixels
        std::uint16_t angle;    // 0…65535 for a whole turn, counter-clockwise from 3 o'clock
        std::uint8_t coverage;  // 1…255
    };
    std::vector<Pixel> m_pixels;
    std::vector<QRgb> m_table;  // the gradient's premultiplied colours over one turn
    QImage m_frame;
    // What the prepared pixels are for.
    double m_lineWidth = -1;
    QRgb m_accent = 0;
    double m_devicePixelRatio = 0;
    QPointF m_subPixel{-1, -1};
};

}  // namespace kolvex
