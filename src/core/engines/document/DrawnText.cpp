// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/document/DrawnText.h"

#include <QFont>
#include <QPaintEngine>
#include <QTransform>

namespace kolvex {

// Claims what Qt's PDF engine claims, so that a painter takes the same paths on both.
class DrawnTextRecorder::Engine : public QPaintEngine {
public:
    explicit Engine(DrawnTextRecorder& owner)
        : QPaintEngine(QPaintEngine::AllFeatures & ~(QPaintEngine::PorterDuff | QPaintEngine::PerspectiveTransform |
                                                     QPaintEngine::ObjectBoundingModeGradients | QPaintEngine::ConicalGradientFill)),
          m_owner(owner) {}

    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawImage(const QRectF&, const QImage&, const QRectF&, Qt::ImageConversionFlags) override {}
    void drawPath(const QPainterPath&) override {}
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
    void drawTextItem(const QPointF& at, const QTextItem& item) override {
        if (m_owner.m_pages.empty()) m_owner.m_pages.emplace_back();
        const QString text = m_owner.m_spelling ? m_owner.m_spelling(item.text(), item.font().families()) : item.text();
        const QTransform transform = state ? state->transform() : QTransform();
        const QFont font = item.font();
        const double size = font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize() > 0 ? font.pixelSize() : 0;
        m_owner.m_pages.back().push_back({text, item.renderFlags().testFlag(QTextItem::RightToLeft), transform.map(at), size * transform.m22()});
    }
    Type type() const override { return QPaintEngine::User; }

private:
    DrawnTextRecorder& m_owner;
};

DrawnTextRecorder::DrawnTextRecorder(const QPaintDevice& like, Spelling spelling)
    : m_engine(std::make_unique<Engine>(*this)), m_spelling(std::move(spelling)) {
    for (int metric = PdmWidth; metric <= PdmDevicePixelRatioScaled; ++metric) {
        switch (static_cast<PaintDeviceMetric>(metric)) {
        case PdmWidth: m_metrics[metric] = like.width(); break;
        case PdmHeight: m_metrics[metric] = like.height(); break;
        case PdmWidthMM: m_metrics[metric] = like.widthMM(); break;
        case PdmHeightMM: m_metrics[metric] = like.heightMM(); break;
        case PdmNumColors: m_metrics[metric] = like.colorCount(); break;
        case PdmDepth: m_metrics[metric] = like.depth(); break;
        case PdmDpiX: m_metrics[metric] = like.logicalDpiX(); break;
        case PdmDpiY: m_metrics[metric] = like.logicalDpiY(); break;
        case PdmPhysicalDpiX: m_metrics[metric] = like.physicalDpiX(); break;
        case PdmPhysicalDpiY: m_metrics[metric] = like.physicalDpiY(); break;
        case PdmDevicePixelRatio: m_metrics[metric] = like.devicePixelRatio() < 1 ? 1 : static_cast<int>(like.devicePixelRatio()); break;
        case PdmDevicePixelRatioScaled: m_metrics[metric] = static_cast<int>(like.devicePixelRatio() * devicePixelRatioFScale()); break;
        }
    }
}

DrawnTextRecorder::~DrawnTextRecorder() = default;

void DrawnTextRecorder::startPage() { m_pages.emplace_back(); }

QPaintEngine* DrawnTextRecorder::paintEngine() const { return m_engine.get(); }

int DrawnTextRecorder::metric(PaintDeviceMetric metric) const {
    return metric >= 0 && metric <= PdmDevicePixelRatioScaled ? m_metrics[metric] : 0;
}

}  // namespace kolvex
