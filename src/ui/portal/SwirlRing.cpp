// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/SwirlRing.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <QLinearGradient>
#include <QPainter>

#include "ui/portal/PortalBlit.h"

namespace kolvex {

namespace {

constexpr int kTableSize = 1024;
constexpr int kMargin = 2;  // device pixels around the ring for its anti-aliased edge

void setStops(QGradient& gradient, const QColor& accent) {
    const auto at = [&accent](double opacity) {
        QColor c = accent;
        c.setAlphaF(static_cast<float>(opacity));
        return c;
    };
    // Qt's conical gradient runs counter-clockwise on screen; the stops are laid out mirrored
    // so the ring's colours run clockwise, starting at 3 o'clock.
    gradient.setColorAt(0, at(0.12));
    gradient.setColorAt(1 - 1.0 / 3, at(1));
    gradient.setColorAt(1 - 2.0 / 3, at(0.3));
    gradient.setColorAt(1, at(0.12));
}

}  // namespace

QRectF SwirlRing::bounds(QPointF centre) {
    const double r = kOuterRadius + 1.5;
    return {centre.x() - r, centre.y() - r, 2 * r, 2 * r};
}

void SwirlRing::release() {
    m_pixels = {};
    m_table = {};
    m_frame = {};
    m_lineWidth = -1;
}

void SwirlRing::prepare(QPointF subPixel, double lineWidth, const QColor& accent, double dpr) {
    const int side = 2 * (static_cast<int>(std::ceil(kOuterRadius * dpr)) + kMargin + 1);
    m_frame = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
    m_frame.setDevicePixelRatio(dpr);
    // The ring's coverage, drawn once by Qt exactly where the turning ring goes.
    QImage mask(side, side, QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::transparent);
    const QPointF centre(side / 2.0 + subPixel.x(), side / 2.0 + subPixel.y());
    {
        QPainter p(&mask);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(centre);
        p.scale(dpr, dpr);
        p.setPen(QPen(Qt::white, lineWidth));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(0, 0), kOuterRadius - lineWidth / 2, kOuterRadius - lineWidth / 2);
    }
    m_pixels.clear();
    for (int y = 0; y < side; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
        for (int x = 0; x < side; ++x) {
            const int coverage = qAlpha(line[x]);
            if (coverage == 0) continue;
            // The angle of the pixel's middle, counter-clockwise on screen from 3 o'clock.
            double turn = std::atan2(-(y + 0.5 - centre.y()), x + 0.5 - centre.x()) / (2 * std::numbers::pi);
            turn -= std::floor(turn);
            m_pixels.push_back({static_cast<std::uint32_t>(y * side + x),
                                static_cast<std::uint16_t>(std::min(65535.0, turn * 65536)),
                                static_cast<std::uint8_t>(coverage)});
        }
    }
    // The gradient's colours as Qt's own gradient fill makes them.
    QImage table(kTableSize, 1, QImage::Format_ARGB32_Premultiplied);
    table.fill(Qt::transparent);
    {
        QPainter p(&table);
        QLinearGradient gradient(0, 0, kTableSize, 0);
        setStops(gradient, accent);
        p.fillRect(table.rect(), gradient);
    }
    const QRgb* colours = reinterpret_cast<const QRgb*>(table.constScanLine(0));
    m_table.assign(colours, colours + kTableSize);
    m_lineWidth = lineWidth;
    m_accent = accent.rgba();
    m_devicePixelRatio = dpr;
    m_subPixel = subPixel;
}

void SwirlRing::paint(QPainter& p, QPointF centre, double lineWidth, double degrees, const QColor& accent,
                      double dpr) {
    // Where the centre falls within its device pixel decides the coverage.
    const QTransform toDevice = p.deviceTransform();
    const QPointF device = toDevice.map(centre);
    const QPointF whole(std::floor(device.x()), std::floor(device.y()));
    const QPointF subPixel = device - whole;
    if (lineWidth != m_lineWidth || accent.rgba() != m_accent || dpr != m_devicePixelRatio ||
        std::abs(subPixel.x() - m_subPixel.x()) > 1e-6 || std::abs(subPixel.y() - m_subPixel.y()) > 1e-6) {
        prepare(subPixel, lineWidth, accent, dpr);
    }
    m_frame.fill(Qt::transparent);
    auto* frame = reinterpret_cast<QRgb*>(m_frame.bits());
    // A ring turned clockwise by d shows at angle a what the unturned one showed at a + d.
    double shift = degrees / 360;
    shift -= std::floor(shift);
    const auto offset = static_cast<std::uint32_t>(shift * 65536);
    for (const Pixel& pixel : m_pixels) {
        const std::uint32_t turn = (pixel.angle + offset) & 0xffff;
        const QRgb c = m_table[turn * kTableSize >> 16];
        const unsigned k = pixel.coverage;
        const auto mul = [k](int v) { return static_cast<int>((static_cast<unsigned>(v) * k + 127) / 255); };
        frame[pixel.offset] = qRgba(mul(qRed(c)), mul(qGreen(c)), mul(qBlue(c)), mul(qAlpha(c)));
    }
    // Drawn at whole device pixels, one device pixel to one image pixel: a plain blend.
    const int half = m_frame.width() / 2;
    const QPointF topLeft = toDevice.inverted().map(QPointF(whole.x() - half, whole.y() - half));
    PortalBlit::draw(p, topLeft, m_frame);
}

}  // namespace kolvex
