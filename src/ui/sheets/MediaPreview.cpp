// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sheets/MediaPreview.h"

#include <algorithm>

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "ui/sheets/MediaTime.h"
#include "ui/sheets/SheetKit.h"

namespace kolvex {

namespace {

constexpr double kHandleWidth = 11;
constexpr double kHandleHit = 34;

}  // namespace

QImage toImage(const VideoFrame& frame) {
    if (frame.width <= 0 || frame.height <= 0 ||
        frame.rgba.size() < static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height) * 4)
        return {};
    QImage image(frame.rgba.data(), frame.width, frame.height, frame.width * 4, QImage::Format_RGBA8888);
    return image.copy();  // own the pixels
}

FrameProvider framePreview(FrameScrubber::Provider provider) {
    if (!provider) return nullptr;
    return [provider = std::move(provider)](double seconds, std::stop_token stop) -> std::optional<QImage> {
        auto frame = provider(seconds, stop);
        if (!frame) return std::nullopt;
        QImage image = toImage(*frame);
        if (image.isNull()) return std::nullopt;
        return image;
    };
}

// ---- timeline ----------------------------------------------------------------------------

TimelineView::TimelineView(double duration, KeyframeIndex keyframes, std::optional<std::vector<float>> waveform,
                           QWidget* parent)
    : QWidget(parent), m_duration(duration), m_keyframes(std::move(keyframes)), m_waveform(std::move(waveform)) {}

std::optional<size_t> TimelineView::handleAt(double x) const {
    const auto g = geometry();
    // The later handle lies on top.
    for (size_t i = m_handles.size(); i-- > 0;)
        if (std::abs(x - g.x(m_handles[i])) <= kHandleHit / 2) return i;
    return std::nullopt;
}

void TimelineView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const auto g = geometry();
    const double w = width(), h = height();
    QColor secondary = sheetkit::secondary(this);
    QPainterPath track;
    track.addRoundedRect(QRectF(0, 0, w, h), 5, 5);
    QColor trackFill = secondary;
    trackFill.setAlphaF(0.16f);
    p.fillPath(track, trackFill);

    if (m_waveform && !m_waveform->empty()) {
        QColor bars = secondary;
        bars.setAlphaF(0.55f);
        const double step = w / static_cast<double>(m_waveform->size());
        for (size_t i = 0; i < m_waveform->size(); ++i) {
            const double bar = std::max(h * (*m_waveform)[i] * 0.92, 1.0);
            p.fillRect(QRectF(step * static_cast<double>(i), h / 2 - bar / 2, std::max(step * 0.7, 0.7), bar), bars);
        }
    }
    QColor marks = secondary;
    marks.setAlphaF(0.35f);
    for (double t : m_keyframes.times())
        if (t <= m_duration) p.fillRect(QRectF(g.x(t), 0, 1, h), marks);

    QColor band = sheetkit::accent(this);
    band.setAlphaF(0.28f);
    const double bandWidth =
        std::max(g.trackWidth() * std::clamp((m_band.second - m_band.first) / m_duration, 0.0, 1.0), 2.0);
    QPainterPath bandPath;
    bandPath.addRoundedRect(QRectF(g.x(m_band.first), 0, bandWidth, h), 5, 5);
    p.fillPath(bandPath, band);

    for (double t : m_handles) {
        QPainterPath handle;
        handle.addRoundedRect(QRectF(g.x(t) - kHandleWidth / 2, 0, kHandleWidth, h), 3, 3);
        p.fillPath(handle, sheetkit::accent(this));
        p.setPen(QPen(QColor(255, 255, 255, 217), 1));
        p.drawPath(handle);
    }
}

void TimelineView::mousePressEvent(QMouseEvent* event) {
    m_dragging = handleAt(event->position().x());
    if (m_dragging && onDrag) onDrag(*m_dragging, event->position().x());
}

void TimelineView::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragging && onDrag) onDrag(*m_dragging, event->position().x());
}

void TimelineView::mouseReleaseEvent(QMouseEvent*) {
    m_dragging.reset();
}

// ---- frame pane --------------------------------------------------------------------------

FramePane::FramePane(FrameProvider provider, int height, QWidget* parent)
    : QWidget(parent), m_provider(std::move(provider)) {
    setFixedHeight(height);
    m_timer.setSingleShot(true);
    m_timer.setInterval(90);
    connect(&m_timer, &QTimer::timeout, this, &FramePane::decode);
}

FramePane::~FramePane() {
    cancel();
}

void FramePane::cancel() {
    m_timer.stop();
    m_task.stop();
}

void FramePane::request(double seconds) {
    if (!m_provider) return;
    m_time = seconds;
    cancel();
    m_timer.start();
    update();
}

void FramePane::decode() {
    const double asked = m_time;
    auto provider = m_provider;
    m_task = AsyncTask::start<std::optional<QImage>>(
        *QtTaskRunner::shared(), this, [provider, asked](std::stop_token stop) { return provider(asked, stop); },
        [this, asked](std::optional<QImage> image) {
            if (m_time != asked) return;
            m_image = std::move(image);
            ++m_delivered;
            update();
        });
}

void FramePane::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    cancel();
}

void FramePane::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath back;
    back.addRoundedRect(QRectF(rect()), 8, 8);
    p.fillPath(back, QColor(0, 0, 0, 89));
    if (m_image && !m_image->isNull()) {
        QSizeF size = m_image->size();
        size.scale(QSizeF(rect().size()), Qt::KeepAspectRatio);
        const QRectF target(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), size);
        p.save();
        p.setClipPath(back);
        p.drawImage(target, *m_image);
        p.restore();
    } else {
        p.setPen(QColor(255, 255, 255, 160));
        p.drawText(rect(), Qt::AlignCenter, "\u2026");
    }
    QFont font = p.font();
    font.setPointSizeF(sheetkit::points(10));
    p.setFont(font);
    auto badge = [&](const QString& text, bool right) {
        const QSizeF textSize = p.fontMetrics().size(0, text);
        const QSizeF size(textSize.width() + 10, textSize.height() + 4);
        const double x = right ? width() - 7 - size.width() : 7;
        const QRectF box(x, height() - 7 - size.height(), size.width(), size.height());
        QPainterPath capsule;
        capsule.addRoundedRect(box, size.height() / 2, size.height() / 2);
        p.fillPath(capsule, QColor(0, 0, 0, 140));
        p.setPen(Qt::white);
        p.drawText(box, Qt::AlignCenter, text);
    };
    if (!m_caption.isEmpty()) badge(m_caption, false);
    badge(QString::fromStdString(MediaTime::format(m_time)), true);
}

}  // namespace kolvex
