// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sheets/CropView.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "ui/sheets/SheetKit.h"

namespace kolvex {

namespace {

constexpr double kCornerHit = 30;
constexpr double kEdgeThickness = 20;
constexpr double kEdgeShortening = 36;

QRectF toQt(const CropModel::Rect& r) {
    return {r.x, r.y, r.width, r.height};
}

}  // namespace

CropView::CropView(QImage image, std::optional<BatchPrompt> prompt, std::function<void(UnitRect, BatchChoice)> onApply,
                   std::function<void()> onCancel, QWidget* parent)
    : QWidget(parent), m_image(std::move(image)), m_model(m_image.width(), m_image.height()), m_prompt(std::move(prompt)),
      m_onApply(std::move(onApply)), m_onCancel(std::move(onCancel)) {
    setFixedSize(620, 470);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(14);

    m_canvas = new CropCanvas(this, &m_model, &m_image);
    m_canvas->setMinimumHeight(300);
    column->addWidget(m_canvas, 1);

    auto* aspectRow = new QHBoxLayout;
    auto* segments = new QHBoxLayout;
    segments->setSpacing(0);
    for (auto preset : CropModel::allPresets()) {
        auto* b = new QPushButton(CropModel::label(preset));
        b->setAutoDefault(false);
        b->setFixedWidth(372 / 6);
        connect(b, &QPushButton::clicked, this, [this, preset] { setAspect(preset); });
        segments->addWidget(b);
        m_aspects.push_back(b);
    }
    aspectRow->addLayout(segments);
    aspectRow->addStretch(1);
    m_dimensions = sheetkit::label(QString(), 11, QFont::Normal, true, true);
    aspectRow->addWidget(m_dimensions);
    column->addLayout(aspectRow);

    auto* buttons = new QHBoxLayout;
    auto* resetButton = new QPushButton("Reset");
    resetButton->setAutoDefault(false);
    connect(resetButton, &QPushButton::clicked, this, &CropView::reset);
    buttons->addWidget(resetButton);
    buttons->addStretch(1);
    m_batch = addBatchOptions(buttons, m_prompt, &m_choice, nullptr);
    const auto row = addSheetButtons(buttons, this, confirmTitle(m_prompt, "Crop"), [this] {
        if (m_onCancel) m_onCancel();
    });
    m_cancel = row.cancel;
    m_confirm = row.confirm;
    connect(m_confirm, &QPushButton::clicked, this, [this] {
        if (m_onApply && m_model.canApply()) m_onApply(m_model.normalisedForCoreGraphics(), m_choice);
    });
    column->addLayout(buttons);
    sheetkit::bindKeys(this, m_cancel, m_confirm);
    refresh();
}

void CropView::setAspect(CropModel::AspectPreset preset) {
    m_model.setAspect(preset);
    refresh();
}

void CropView::reset() {
    m_model.reset();
    refresh();
}

void CropView::refresh() {
    const auto& presets = CropModel::allPresets();
    for (size_t i = 0; i < m_aspects.size(); ++i) sheetkit::setTinted(m_aspects[i], presets[i] == m_model.aspect);
    m_dimensions->setText(QString::fromStdString(m_model.dimensionsLabel()));
    m_confirm->setEnabled(m_model.canApply());
    m_canvas->update();
}

CropCanvas::CropCanvas(CropView* view, CropModel* model, const QImage* image)
    : QWidget(view), m_view(view), m_model(model), m_image(image) {
    setMouseTracking(false);
}

CropModel::Rect CropCanvas::fitRect() const {
    return m_model->fit(width(), height());
}

std::optional<CropModel::Handle> CropCanvas::handleAt(QPointF point) const {
    using H = CropModel::Handle;
    const auto s = m_model->selectionRect(fitRect());
    auto anchorPoint = [&](H h) {
        const auto [fx, fy] = CropModel::anchor(h);
        return QPointF(s.x + fx * s.width, s.y + fy * s.height);
    };
    for (H h : {H::topLeft, H::topRight, H::bottomLeft, H::bottomRight}) {
        const QPointF c = anchorPoint(h);
        if (QRectF(c.x() - kCornerHit / 2, c.y() - kCornerHit / 2, kCornerHit, kCornerHit).contains(point)) return h;
    }
    for (H h : {H::top, H::bottom, H::left, H::right}) {
        const QPointF c = anchorPoint(h);
        const bool across = h == H::top || h == H::bottom;
        const double length = std::max((across ? s.width : s.height) - kEdgeShortening, 0.0);
        const QSizeF size = across ? QSizeF(length, kEdgeThickness) : QSizeF(kEdgeThickness, length);
        if (QRectF(c.x() - size.width() / 2, c.y() - size.height() / 2, size.width(), size.height()).contains(point))
            return h;
    }
    if (toQt(s).contains(point)) return H::move;
    return std::nullopt;
}

void CropCanvas::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const auto fit = fitRect();
    p.drawImage(toQt(fit), *m_image);
    const auto s = m_model->selectionRect(fit);
    QPainterPath dim;
    dim.setFillRule(Qt::OddEvenFill);
    dim.addRect(toQt(fit));
    dim.addRect(toQt(s).intersected(toQt(fit)));
    p.fillPath(dim, QColor(0, 0, 0, 140));
    const QColor accent = sheetkit::accent(this);
    p.setPen(QPen(accent, 1.5));
    p.drawRect(toQt(s).adjusted(0.75, 0.75, -0.75, -0.75));
    QColor thirds(255, 255, 255, 71);
    for (int i = 1; i <= 2; ++i) {
        p.fillRect(QRectF(s.x + s.width * i / 3, s.y, 0.5, s.height), thirds);
        p.fillRect(QRectF(s.x, s.y + s.height * i / 3, s.width, 0.5), thirds);
    }
    p.setBrush(Qt::white);
    p.setPen(QPen(accent, 1.5));
    for (auto h : {CropModel::Handle::topLeft, CropModel::Handle::topRight, CropModel::Handle::bottomLeft,
                   CropModel::Handle::bottomRight}) {
        const auto [fx, fy] = CropModel::anchor(h);
        p.drawEllipse(QPointF(s.x + fx * s.width, s.y + fy * s.height), 5.25, 5.25);
    }
}

void CropCanvas::mousePressEvent(QMouseEvent* event) {
    m_dragging = handleAt(event->position());
    m_pressAt = event->position();
}

void CropCanvas::mouseMoveEvent(QMouseEvent* event) {
    if (!m_dragging) return;
    const QPointF delta = event->position() - m_pressAt;
    if (!m_model->dragOrigin && std::hypot(delta.x(), delta.y()) < 1) return;
    m_model->drag(*m_dragging, delta.x(), delta.y(), fitRect());
    m_view->refresh();
}

void CropCanvas::mouseReleaseEvent(QMouseEvent*) {
    m_dragging.reset();
    m_model->endDrag();
}

}  // namespace kolvex
