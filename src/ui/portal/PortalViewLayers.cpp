// SPDX-License-Identifier: GPL-3.0-or-later
// How the Portal view reaches the screen. The halo, the aperture's disc and the centre with
// its texts are each painted into an image only when what they show changes (the halo and the
// disc once per theme and scale), and each chip into a small image of its own; a frame lays
// those images down, with the turning ring and the needle drawn live between them. Images go
// down in strips (PortalBlit), so no blend waits on Qt's thread pool.

#include <algorithm>
#include <cmath>

#include <QConicalGradient>
#include <QPainter>
#include <QPlainTextEdit>

#include "ui/portal/PortalBlit.h"
#include "ui/portal/PortalStyle.h"
#include "ui/portal/PortalView.h"

namespace kolvex {

namespace {

// Shown at full size, upright and opaque: the layers go to the screen pixel for pixel.
bool isIdentity(const PortalView::WholeTransform& whole) {
    return std::abs(whole.scale - 1) < 1e-9 && std::abs(whole.rotationDegrees) < 1e-9 && whole.opacity >= 1 - 1e-9;
}

}  // namespace

QPointF PortalView::centre() const { return QPointF(rect().center()) + QPointF(0.5, 0.5); }

QRect PortalView::swirlRect() const {
    if (!isIdentity(wholeTransform(m_revealed.value(), m_collapse.value(), reduce()))) return rect();
    return SwirlRing::bounds(centre()).toAlignedRect().adjusted(-1, -1, 1, 1);
}

void PortalView::releaseLayers() {
    m_centre = Layer{};
    m_scratch = QImage();
    m_chipImages.clear();
    m_flat = QImage();
    m_ring.release();
}

void PortalView::paintLayer(Layer& layer, std::vector<double> key, double dpr,
                            const std::function<void(QPainter&)>& paint) {
    const QSize size(static_cast<int>(std::ceil(width() * dpr)), static_cast<int>(std::ceil(height() * dpr)));
    if (layer.key == key && layer.full == size) return;
    layer.key = std::move(key);
    layer.full = size;
    if (m_scratch.size() != size) m_scratch = QImage(size, QImage::Format_ARGB32_Premultiplied);
    m_scratch.setDevicePixelRatio(dpr);
    m_scratch.fill(Qt::transparent);
    {
        QPainter p(&m_scratch);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.translate(centre());
        paint(p);
    }
    layer.bounds = PortalBlit::opaqueBounds(m_scratch);
    layer.image = layer.bounds.isEmpty() ? QImage() : m_scratch.copy(layer.bounds);
    layer.image.setDevicePixelRatio(dpr);
}

void PortalView::drawLayer(QPainter& p, const Layer& layer) {
    if (layer.image.isNull()) return;
    PortalBlit::draw(p, QPointF(layer.bounds.topLeft()) / layer.image.devicePixelRatio(), layer.image);
}

void PortalView::updateLayers(double dpr) {
    // Each layer is keyed on the theme it was drawn in: the Appearance setting may change the
    // theme without any event reaching this view.
    const double theme = PortalStyle::themeKey();
    if (theme != m_drawnTheme) {
        m_drawnTheme = theme;
        applyTheme();
    }
    if (m_opaque) {
        paintLayer(m_opaqueLayer, {theme, dpr}, dpr, [this](QPainter& p) {
            p.translate(-centre());
            paintOpaqueDisc(p);
        });
    }
    paintLayer(m_halo[m_model.selectedTarget() ? 1 : 0], {theme, dpr}, dpr, [this](QPainter& p) { paintHalo(p); });
    paintLayer(m_aperture, {theme, dpr}, dpr, [this](QPainter& p) { paintAperture(p); });
    paintLayer(m_centre, {m_generation, theme, dpr, m_leanX.value(), m_leanY.value(), m_centreFade.value()}, dpr,
               [this](QPainter& p) {
                   m_cancelRect = {};
                   m_detailsRect = {};
                   p.save();
                   p.setOpacity(std::clamp(m_centreFade.value(), 0.0, 1.0));
                   paintCentre(p);
                   paintBubble(p);
                   p.restore();
                   paintFormatList(p);
                   m_centreCancel = m_cancelRect;
                   m_centreDetails = m_detailsRect;
               });
}

void PortalView::composeInto(QPainter& p, double dpr) {
    drawLayer(p, m_halo[m_model.selectedTarget() ? 1 : 0]);
    paintChips(p, dpr);
    drawLayer(p, m_aperture);
    m_ring.paint(p, centre(), m_model.selectedTarget() ? 5 : 3.5, m_swirl.value(), PortalStyle::accent(), dpr);
    p.save();
    p.translate(centre());
    paintNeedle(p);
    p.restore();
    drawLayer(p, m_centre);
}

void PortalView::paintChips(QPainter& p, double dpr) {
    const auto& targets = m_model.targets();
    const RingLayout& layout = m_model.layout();
    const double ringOpacity = std::clamp(m_ringOpacity.value(), 0.0, 1.0);
    if (ringOpacity <= 0.001) return;
    p.save();
    p.translate(centre());
    const double base = p.opacity();
    for (size_t i = 0; i < targets.size() && static_cast<int>(i) < layout.count; ++i) {
        auto arrival = m_chipArrival.find(targets[i].id);
        const bool arriving = arrival != m_chipArrival.end() && arrival->second.isAnimating();
        const double arrived = arrival == m_chipArrival.end() ? 1 : arrival->second.value();
        const double selected = i < m_chipSelection.size() ? m_chipSelection[i].value() : 0;
        p.setOpacity(base * ringOpacity * std::clamp(arrived, 0.0, 1.0));
        // New chips come out of the centre toward their place on the ring.
        const QPointF at = chipOffset(layout, static_cast<int>(i)) * (0.6 + 0.4 * arrived);
        m_chipImages.paint(p, at, targets[i], selected, !arriving, dpr);
    }
    p.restore();
}

void PortalView::paintDirectly(QPainter& p) {
    const QRectF cancel = m_cancelRect, details = m_detailsRect;
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const WholeTransform whole = wholeTransform(m_revealed.value(), m_collapse.value(), reduce());
    if (m_opaque) paintOpaqueDisc(p);
    if (whole.opacity <= 0.001) return;
    p.save();
    p.translate(centre());
    p.scale(whole.scale, whole.scale);
    p.rotate(whole.rotationDegrees);
    p.setOpacity(whole.opacity);
    paintHalo(p);
    paintRing(p);
    paintAperture(p);
    const double width = m_model.selectedTarget() ? 5 : 3.5;
    QConicalGradient gradient(QPointF(0, 0), -m_swirl.value());
    gradient.setColorAt(0, PortalStyle::accent(0.12));
    gradient.setColorAt(1 - 1.0 / 3, PortalStyle::accent(1));
    gradient.setColorAt(1 - 2.0 / 3, PortalStyle::accent(0.3));
    gradient.setColorAt(1, PortalStyle::accent(0.12));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QBrush(gradient), width));
    p.drawEllipse(QPointF(0, 0), SwirlRing::kOuterRadius - width / 2, SwirlRing::kOuterRadius - width / 2);
    paintNeedle(p);
    p.save();
    p.setOpacity(p.opacity() * std::clamp(m_centreFade.value(), 0.0, 1.0));
    paintCentre(p);
    paintBubble(p);
    p.restore();
    paintFormatList(p);
    p.restore();
    m_cancelRect = cancel;
    m_detailsRect = details;
}

void PortalView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    m_cancelRect = {};
    m_detailsRect = {};
    const double dpr = devicePixelRatioF();
    const WholeTransform whole = wholeTransform(m_revealed.value(), m_collapse.value(), reduce());
    if (m_opaque) {
        updateLayers(dpr);
        drawLayer(p, m_opaqueLayer);
    }
    if (whole.opacity <= 0.001) {
        if (m_detailView) m_detailView->hide();
        return;
    }
    updateLayers(dpr);
    if (isIdentity(whole)) {
        composeInto(p, dpr);
    } else {
        // Scaled, turned or fading: the layers are laid together first and the one image is
        // drawn through the transform.
        const QSize size(static_cast<int>(std::ceil(width() * dpr)), static_cast<int>(std::ceil(height() * dpr)));
        if (m_flat.size() != size) m_flat = QImage(size, QImage::Format_ARGB32_Premultiplied);
        m_flat.setDevicePixelRatio(dpr);
        m_flat.fill(Qt::transparent);
        {
            // Each layer fades by itself, as its shapes would.
            QPainter flat(&m_flat);
            flat.setOpacity(whole.opacity);
            composeInto(flat, dpr);
        }
        p.save();
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.translate(centre());
        p.scale(whole.scale, whole.scale);
        p.rotate(whole.rotationDegrees);
        p.translate(-centre());
        PortalBlit::drawTransformed(p, m_flat);
        p.restore();
    }
    // Button rectangles are kept in widget coordinates for clicks.
    QTransform toWidget;
    toWidget.translate(centre().x(), centre().y());
    toWidget.scale(whole.scale, whole.scale);
    toWidget.rotate(whole.rotationDegrees);
    m_cancelRect = m_centreCancel.isEmpty() ? QRectF() : toWidget.mapRect(m_centreCancel);
    m_detailsRect = m_centreDetails.isEmpty() ? QRectF() : toWidget.mapRect(m_centreDetails);
    placeDetailView();
}

}  // namespace kolvex
