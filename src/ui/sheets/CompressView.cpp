// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sheets/CompressView.h"

#include <cmath>

#include <QFrame>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "core/conversion/SizeEstimator.h"
#include "ui/sheets/SheetKit.h"

namespace kolvex {

namespace {

constexpr int kSliderScale = 1000;

QFrame* roundedBox() {
    auto* box = new QFrame;
    box->setObjectName("comparisonBox");
    box->setStyleSheet("#comparisonBox { background: rgba(128,128,128,20); border-radius: 9px; }");
    return box;
}

}  // namespace

CompressView::CompressView(std::string filename, int64_t originalBytes, bool isExact, Measure measure,
                           std::optional<BatchPrompt> prompt, std::function<void(double, BatchChoice)> onApply,
                           std::function<void()> onCancel, QWidget* parent)
    : QWidget(parent), m_originalBytes(originalBytes), m_measure(std::move(measure)), m_prompt(std::move(prompt)),
      m_onApply(std::move(onApply)), m_onCancel(std::move(onCancel)),
      m_debounce(this, 180, [this] { runMeasure(); }) {
    auto* column = sheetkit::column(this, 470, 18);

    auto* header = new QVBoxLayout;
    header->setSpacing(3);
    header->addWidget(sheetkit::title("Compress " + QString::fromStdString(filename), 430));
    header->addWidget(sheetkit::label(isExact ? "The size below is measured, not estimated."
                                              : "Sizes are estimated; a real encode varies with content.",
                                      11, QFont::Normal, true));
    column->addLayout(header);

    auto* box = roundedBox();
    auto* compare = new QHBoxLayout(box);
    compare->setContentsMargins(13, 13, 13, 13);
    compare->setSpacing(0);
    auto now = sheetkit::figure("Now", false, false);
    now.value->setText(QString::fromStdString(SizeEstimator::format(originalBytes)));
    compare->addWidget(now.widget);
    auto* arrow = sheetkit::label("\u2192", 11, QFont::DemiBold, true);
    arrow->setFixedWidth(44);
    arrow->setAlignment(Qt::AlignCenter);
    compare->addWidget(arrow);
    auto after = sheetkit::figure("After", true, false);
    m_after = after.value;
    compare->addWidget(after.widget);
    compare->addStretch(1);
    auto* savings = new QVBoxLayout;
    savings->setSpacing(1);
    m_savings = sheetkit::label(QString(), 13, QFont::DemiBold);
    m_savings->setAlignment(Qt::AlignRight);
    m_savingsNote = sheetkit::label("already well compressed", 9.5, QFont::Normal, true);
    m_savingsNote->setAlignment(Qt::AlignRight);
    savings->addWidget(m_savings);
    savings->addWidget(m_savingsNote);
    compare->addLayout(savings);
    column->addWidget(box);

    auto* controls = new QVBoxLayout;
    controls->setSpacing(9);
    auto* sliderRow = new QHBoxLayout;
    sliderRow->addWidget(new QLabel("Quality"));
    m_slider = new QSlider(Qt::Horizontal);
    m_slider->setRange(static_cast<int>(CompressModel::kMinimumQuality * kSliderScale), kSliderScale);
    m_slider->setValue(static_cast<int>(std::lround(m_model.quality * kSliderScale)));
    connect(m_slider, &QSlider::valueChanged, this,
            [this](int value) { setQuality(static_cast<double>(value) / kSliderScale); });
    sliderRow->addWidget(m_slider, 1);
    m_percent = sheetkit::label(QString(), 12, QFont::Normal, false, true);
    m_percent->setFixedWidth(44);
    m_percent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    sliderRow->addWidget(m_percent);
    controls->addLayout(sliderRow);
    auto* presetRow = new QHBoxLayout;
    presetRow->setSpacing(6);
    for (size_t i = 0; i < CompressModel::presets().size(); ++i) {
        const auto& preset = CompressModel::presets()[i];
        auto* button = new QPushButton(QString("%1\n%2").arg(preset.name, preset.detail));
        button->setMinimumWidth(82);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, i] { choosePreset(i); });
        presetRow->addWidget(button);
        m_presets.push_back(button);
    }
    presetRow->addStretch(1);
    controls->addLayout(presetRow);
    column->addLayout(controls);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    column->addWidget(divider);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    m_batch = addBatchOptions(buttons, m_prompt, &m_choice, [this] { refresh(); });
    buttons->addStretch(1);
    const auto row = addSheetButtons(buttons, this, QString(), [this] {
        if (m_onCancel) m_onCancel();
    });
    m_cancel = row.cancel;
    m_confirm = row.confirm;
    connect(m_confirm, &QPushButton::clicked, this, [this] {
        if (m_onApply) m_onApply(m_model.quality, m_choice);
    });
    column->addLayout(buttons);
    sheetkit::bindKeys(this, m_cancel, m_confirm);
    refresh();
}

CompressView::~CompressView() {
    cancelMeasure();
}

void CompressView::setQuality(double quality) {
    quality = std::min(std::max(quality, CompressModel::kMinimumQuality), CompressModel::kMaximumQuality);
    if (quality == m_model.quality) return;
    m_model.quality = quality;
    const QSignalBlocker block(m_slider);
    m_slider->setValue(static_cast<int>(std::lround(quality * kSliderScale)));
    scheduleMeasure();
    refresh();
}

void CompressView::choosePreset(size_t index) {
    if (index >= CompressModel::presets().size()) return;
    setQuality(CompressModel::presets()[index].quality);
    scheduleMeasure();
}

void CompressView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_debounce.shown();
}

void CompressView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    cancelMeasure();
}

void CompressView::cancelMeasure() {
    m_debounce.cancel();
}

void CompressView::scheduleMeasure() {
    m_debounce.schedule();
}

void CompressView::runMeasure() {
    m_measuring = true;
    refresh();
    if (!m_measure) {
        m_estimate.reset();
        m_measuring = false;
        refresh();
        return;
    }
    const double asked = m_model.quality;
    auto measure = m_measure;
    m_debounce.start(
        [measure, asked](std::stop_token stop) { return measure(asked, stop); },
        [this, asked](std::optional<int64_t> result) {
            if (m_model.quality != asked) return;  // a newer measurement will answer
            m_estimate = result;
            m_measuring = false;
            refresh();
        });
}

void CompressView::refresh() {
    m_percent->setText(QString::fromStdString(m_model.qualityText()));
    for (size_t i = 0; i < m_presets.size(); ++i)
        sheetkit::setTinted(m_presets[i], m_model.isPresetActive(CompressModel::presets()[i]));
    if (m_estimate)
        m_after->setText(QString::fromStdString(SizeEstimator::format(*m_estimate)));
    else
        m_after->setText(m_measuring ? "measuring\u2026" : "\u2014");
    const auto savings = CompressModel::savings(m_estimate, m_originalBytes);
    m_savings->setVisible(savings.has_value());
    m_savingsNote->setVisible(savings && !savings->second);
    if (savings) {
        m_savings->setText(QString::fromStdString(savings->first));
        QPalette palette = m_savings->palette();
        palette.setColor(QPalette::WindowText, savings->second ? QColor(52, 199, 89) : QColor(255, 149, 0));
        m_savings->setPalette(palette);
    }
    m_confirm->setText(QString::fromStdString(advanceTitle("Compress", m_prompt, m_choice)));
}

}  // namespace kolvex
