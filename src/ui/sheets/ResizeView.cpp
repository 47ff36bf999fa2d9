// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sheets/ResizeView.h"

#include <cmath>

#include <QFrame>
#include <QHBoxLayout>
#include <QPixmap>
#include <QVBoxLayout>

#include "core/conversion/SizeEstimator.h"
#include "ui/sheets/SheetKit.h"

namespace kolvex {

namespace {

QString percentText(double value) {
    return QString::number(static_cast<int64_t>(std::floor(value))) + "%";
}

}  // namespace

ResizeView::ResizeView(QSizeF originalSize, std::optional<QImage> preview, bool isVideo, int64_t originalBytes,
                       bool isExact, Measure measure, std::optional<BatchPrompt> prompt,
                       std::function<void(int64_t, BatchChoice)> onApply, std::function<void()> onCancel,
                       QWidget* parent)
    : QWidget(parent), m_model(originalSize.width(), originalSize.height(), isVideo), m_originalBytes(originalBytes),
      m_isExact(isExact), m_measure(std::move(measure)), m_prompt(std::move(prompt)), m_onApply(std::move(onApply)),
      m_onCancel(std::move(onCancel)),
      m_debounce(this, 200, [this] { runMeasure(); }) {
    auto* column = sheetkit::column(this, 470, 16);

    if (preview && !preview->isNull()) {
        auto* picture = new QLabel;
        picture->setAlignment(Qt::AlignCenter);
        picture->setPixmap(QPixmap::fromImage(preview->scaled(430, 170, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        column->addWidget(picture);
    }

    auto* modes = new QHBoxLayout;
    modes->setSpacing(0);
    auto* group = new QButtonGroup(this);
    m_percentageMode = new QPushButton(ResizeModel::modeLabel(ResizeModel::Mode::percentage));
    m_sideMode = new QPushButton(ResizeModel::modeLabel(ResizeModel::Mode::longestSide));
    for (auto* b : {m_percentageMode, m_sideMode}) {
        b->setCheckable(true);
        b->setAutoDefault(false);
        group->addButton(b);
        modes->addWidget(b);
    }
    m_percentageMode->setChecked(true);
    connect(m_percentageMode, &QPushButton::clicked, this, [this] { setMode(ResizeModel::Mode::percentage); });
    connect(m_sideMode, &QPushButton::clicked, this, [this] { setMode(ResizeModel::Mode::longestSide); });
    column->addLayout(modes);

    m_controls = new QStackedWidget;
    auto makeControls = [&](const QString& caption, QSlider*& slider, QLabel*& text, int textWidth) {
        auto* page = new QWidget;
        auto* pageColumn = new QVBoxLayout(page);
        pageColumn->setContentsMargins(0, 0, 0, 0);
        pageColumn->setSpacing(8);
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel(caption));
        slider = new QSlider(Qt::Horizontal);
        row->addWidget(slider, 1);
        text = sheetkit::label(QString(), 12, QFont::Normal, false, true);
        text->setFixedWidth(textWidth);
        text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        row->addWidget(text);
        pageColumn->addLayout(row);
        auto* presets = new QHBoxLayout;
        presets->setSpacing(6);
        pageColumn->addLayout(presets);
        m_controls->addWidget(page);
        return presets;
    };
    auto* percentPresets = makeControls("Scale to", m_percentSlider, m_percentText, 44);
    m_percentSlider->setRange(5, 100);
    m_percentSlider->setValue(static_cast<int>(m_model.percentage));
    connect(m_percentSlider, &QSlider::valueChanged, this, [this](int v) { setPercentage(v); });
    for (double value : ResizeModel::percentagePresets()) {
        auto* b = new QPushButton(percentText(value));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, value] { setPercentage(value); });
        percentPresets->addWidget(b);
        m_percentPresets.push_back(b);
    }
    percentPresets->addStretch(1);
    auto* sidePresets = makeControls("Longest side", m_sideSlider, m_sideText, 64);
    // Up to the original's size: a resize never enlarges.
    m_sideSlider->setRange(static_cast<int>(m_model.smallestSide()), static_cast<int>(m_model.largestSide()));
    m_sideSlider->setSingleStep(2);
    m_sideSlider->setPageStep(100);
    {
        const QSignalBlocker block(m_sideSlider);
        m_sideSlider->setValue(static_cast<int>(m_model.longestSide));
    }
    connect(m_sideSlider, &QSlider::valueChanged, this, [this](int v) {
        const double lowest = static_cast<double>(m_model.smallestSide());
        setLongestSide(lowest + std::round((v - lowest) / 2.0) * 2);
    });
    for (const auto& preset : m_model.presets()) {
        auto* b = new QPushButton(preset.label);
        b->setAutoDefault(false);
        const double side = static_cast<double>(preset.side);
        connect(b, &QPushButton::clicked, this, [this, side] { setLongestSide(side); });
        sidePresets->addWidget(b);
        m_sidePresets.push_back(b);
    }
    sidePresets->addStretch(1);
    column->addWidget(m_controls);

    auto* box = new QFrame;
    box->setObjectName("outcomeBox");
    box->setStyleSheet("#outcomeBox { background: rgba(128,128,128,20); border-radius: 9px; }");
    auto* outcome = new QHBoxLayout(box);
    outcome->setContentsMargins(13, 13, 13, 13);
    outcome->setSpacing(0);
    auto now = sheetkit::figure("Now", false, originalBytes >= 1);
    now.value->setText(QString::fromStdString(m_model.originalLabel()));
    if (now.detail) now.detail->setText(QString::fromStdString(SizeEstimator::format(originalBytes)));
    outcome->addWidget(now.widget);
    auto* arrow = sheetkit::label("\u2192", 11, QFont::DemiBold, true);
    arrow->setFixedWidth(44);
    arrow->setAlignment(Qt::AlignCenter);
    outcome->addWidget(arrow);
    auto after = sheetkit::figure("After", true, true);
    m_after = after.value;
    m_afterDetail = after.detail;
    outcome->addWidget(after.widget);
    outcome->addStretch(1);
    m_savings = sheetkit::label(QString(), 12, QFont::DemiBold);
    QPalette green = m_savings->palette();
    green.setColor(QPalette::WindowText, QColor(52, 199, 89));
    m_savings->setPalette(green);
    outcome->addWidget(m_savings);
    column->addWidget(box);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    column->addWidget(divider);

    auto* buttons = new QHBoxLayout;
    m_hint = sheetkit::label("Aspect ratio is preserved.", 10, QFont::Normal, true);
    buttons->addWidget(m_hint);
    buttons->addStretch(1);
    m_batch = addBatchOptions(buttons, m_prompt, &m_choice, [this] { refresh(); });
    const auto row = addSheetButtons(buttons, this, QString(), [this] {
        if (m_onCancel) m_onCancel();
    });
    m_cancel = row.cancel;
    m_confirm = row.confirm;
    connect(m_confirm, &QPushButton::clicked, this, [this] {
        if (m_onApply && m_model.canApply()) m_onApply(m_model.resolvedLongestSide(), m_choice);
    });
    column->addLayout(buttons);
    sheetkit::bindKeys(this, m_cancel, m_confirm);
    refresh();
}

ResizeView::~ResizeView() {
    cancelMeasure();
}

void ResizeView::setMode(ResizeModel::Mode mode) {
    const auto before = m_model.resolvedLongestSide();
    m_model.mode = mode;
    changed(before);
}

void ResizeView::setPercentage(double value) {
    const auto before = m_model.resolvedLongestSide();
    m_model.percentage = std::min(std::max(value, 5.0), 100.0);
    changed(before);
}

void ResizeView::setLongestSide(double value) {
    const auto before = m_model.resolvedLongestSide();
    m_model.longestSide = std::min(std::max(value, static_cast<double>(m_model.smallestSide())),
                                   static_cast<double>(m_model.largestSide()));
    changed(before);
}

void ResizeView::changed(int64_t previousSide) {
    if (m_model.resolvedLongestSide() != previousSide) {
        // An estimate for another size says nothing about this one.
        m_estimate.reset();
        scheduleMeasure();
    }
    refresh();
}

void ResizeView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_debounce.shown();
}

void ResizeView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    cancelMeasure();
}

void ResizeView::cancelMeasure() {
    m_debounce.cancel();
}

void ResizeView::scheduleMeasure() {
    if (!m_measure) return;
    m_debounce.schedule();
}

void ResizeView::runMeasure() {
    if (!m_measure) return;
    m_measuring = true;
    refresh();
    const int64_t side = m_model.resolvedLongestSide();
    auto measure = m_measure;
    m_debounce.start(
        [measure, side](std::stop_token stop) { return measure(side, stop); },
        [this, side](std::optional<int64_t> result) {
            if (m_model.resolvedLongestSide() != side) return;
            m_estimate = result;
            m_measuring = false;
            refresh();
        });
}

void ResizeView::refresh() {
    const bool percentage = m_model.mode == ResizeModel::Mode::percentage;
    m_controls->setCurrentIndex(percentage ? 0 : 1);
    m_percentageMode->setChecked(percentage);
    m_sideMode->setChecked(!percentage);
    {
        const QSignalBlocker a(m_percentSlider), b(m_sideSlider);
        m_percentSlider->setValue(static_cast<int>(m_model.percentage));
        m_sideSlider->setValue(static_cast<int>(m_model.longestSide));
    }
    m_percentText->setText(percentText(m_model.percentage));
    m_sideText->setText(QString::number(static_cast<int64_t>(std::floor(m_model.longestSide))) + " px");
    for (size_t i = 0; i < m_percentPresets.size(); ++i)
        sheetkit::setTinted(m_percentPresets[i], m_model.percentage == ResizeModel::percentagePresets()[i]);
    const auto presets = m_model.presets();
    for (size_t i = 0; i < m_sidePresets.size(); ++i)
        sheetkit::setTinted(m_sidePresets[i], m_model.longestSide == static_cast<double>(presets[i].side));

    m_after->setText(QString::fromStdString(m_model.resultLabel()));
    // At the picture's own size nothing is written, so nothing is saved either.
    const bool changes = m_model.canApply();
    const std::optional<int64_t> estimate =
        changes ? m_estimate : (m_originalBytes >= 1 ? std::optional<int64_t>(m_originalBytes) : std::nullopt);
    const auto size =
        ResizeModel::sizeLabel(static_cast<bool>(m_measure), estimate, changes && m_measuring, m_isExact || !changes);
    m_afterDetail->setVisible(size.has_value());
    if (size) m_afterDetail->setText(QString::fromStdString(*size));
    const bool saves = changes && m_originalBytes >= 1 && m_estimate && *m_estimate < m_originalBytes;
    m_savings->setVisible(saves);
    if (saves) {
        const double s = 1.0 - static_cast<double>(*m_estimate) / static_cast<double>(m_originalBytes);
        m_savings->setText(QString::number(static_cast<int64_t>(std::floor(s * 100 + 1e-9))) + "% smaller");
    }
    m_confirm->setText(QString::fromStdString(advanceTitle("Resize", m_prompt, m_choice)));
    m_confirm->setEnabled(m_model.canApply());
}

}  // namespace kolvex
