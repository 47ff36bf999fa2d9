// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sheets/RotateView.h"

#include <cmath>

#include <QFrame>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QVBoxLayout>

#include "ui/sheets/SheetKit.h"

namespace kolvex {

namespace {

constexpr int kSliderScale = 100;  // hundredths of a degree

QString degrees(double value) {
    return QString::number(static_cast<int64_t>(value)) + "\u00B0";
}

// The picture turned and mirrored about its centre, fitted inside a 34-point margin.
class RotatePreview : public QWidget {
public:
    RotatePreview(const QImage* image, const RotateModel* model) : m_image(image), m_model(model) {
        setFixedHeight(260);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        QPainterPath back;
        back.addRoundedRect(QRectF(rect()), 8, 8);
        QColor fill = sheetkit::secondary(this);
        fill.setAlphaF(0.1f);
        p.fillPath(back, fill);
        if (m_image->isNull()) return;
        const QRectF area = QRectF(rect()).adjusted(34, 34, -34, -34);
        QSizeF size = m_image->size();
        size.scale(area.size(), Qt::KeepAspectRatio);
        p.translate(area.center());
        p.rotate(m_model->angle);
        p.scale(m_model->flipHorizontal ? -1 : 1, m_model->flipVertical ? -1 : 1);
        p.drawImage(QRectF(-size.width() / 2, -size.height() / 2, size.width(), size.height()), *m_image);
    }

private:
    const QImage* m_image;
    const RotateModel* m_model;
};

}  // namespace

RotateView::RotateView(QImage image, bool emphasisesFlip, std::function<void(double, bool, bool)> onApply,
                       std::function<void()> onCancel, QWidget* parent, Choices choices)
    : QWidget(parent), m_image(std::move(image)), m_model(m_image.width(), m_image.height(), emphasisesFlip),
      m_onApply(std::move(onApply)), m_onCancel(std::move(onCancel)) {
    auto* column = sheetkit::column(this, 470, 16);
    m_preview = new RotatePreview(&m_image, &m_model);
    column->addWidget(m_preview);

    auto* controls = new QVBoxLayout;
    controls->setSpacing(14);
    auto* quarterRow = new QHBoxLayout;
    quarterRow->setSpacing(8);
    m_left = new QPushButton("\u21BA 90\u00B0 left");
    m_right = new QPushButton("\u21BB 90\u00B0 right");
    connect(m_left, &QPushButton::clicked, this, [this] {
        m_model.turnLeft();
        refresh();
    });
    connect(m_right, &QPushButton::clicked, this, [this] {
        m_model.turnRight();
        refresh();
    });
    quarterRow->addWidget(m_left);
    quarterRow->addWidget(m_right);
    quarterRow->addStretch(1);
    for (double turn : RotateModel::quarterTurns()) {
        auto* b = new QPushButton(degrees(turn));
        connect(b, &QPushButton::clicked, this, [this, turn] {
            m_model.angle = turn;
            refresh();
        });
        quarterRow->addWidget(b);
        m_quarters.push_back(b);
    }
    controls->addLayout(quarterRow);

    m_fineBox = new QWidget;
    auto* fine = new QVBoxLayout(m_fineBox);
    fine->setContentsMargins(0, 0, 0, 0);
    fine->setSpacing(6);
    auto* fineHeader = new QHBoxLayout;
    fineHeader->addWidget(sheetkit::label("Any angle", 11, QFont::DemiBold, true));
    fineHeader->addStretch(1);
    m_angle = sheetkit::label(QString(), 12, QFont::Normal, false, true);
    fineHeader->addWidget(m_angle);
    auto* down = new QToolButton;
    down->setText("\u2212");
    auto* up = new QToolButton;
    up->setText("+");
    connect(down, &QToolButton::clicked, this, [this] {
        m_model.stepDown();
        refresh();
    });
    connect(up, &QToolButton::clicked, this, [this] {
        m_model.stepUp();
        refresh();
    });
    fineHeader->addWidget(down);
    fineHeader->addWidget(up);
    fine->addLayout(fineHeader);
    m_slider = new QSlider(Qt::Horizontal);
    m_slider->setRange(0, static_cast<int>(std::lround(RotateModel::kSliderMaximum * kSliderScale)));
    connect(m_slider, &QSlider::valueChanged, this,
            [this](int value) { setSliderPosition(static_cast<double>(value) / kSliderScale); });
    fine->addWidget(m_slider);
    auto* chips = new QHBoxLayout;
    chips->setSpacing(6);
    for (double angle : RotateModel::fineAngles()) {
        auto* b = new QPushButton(degrees(angle));
        b->setFlat(true);
        connect(b, &QPushButton::clicked, this, [this, angle] {
            m_model.angle = angle;
            refresh();
        });
        chips->addWidget(b);
    }
    chips->addStretch(1);
    m_note = sheetkit::label("\u24D8 resamples, and adds corners", 10, QFont::Normal, true);
    chips->addWidget(m_note);
    fine->addLayout(chips);
    controls->addWidget(m_fineBox);

    m_flipBox = new QWidget;
    auto* flips = new QHBoxLayout(m_flipBox);
    flips->setContentsMargins(0, 0, 0, 0);
    flips->setSpacing(18);
    m_flipH = new QCheckBox("Flip horizontally");
    m_flipV = new QCheckBox("Flip vertically");
    m_flipH->setChecked(m_model.flipHorizontal);
    connect(m_flipH, &QCheckBox::toggled, this, [this](bool on) {
        m_model.flipHorizontal = on;
        refresh();
    });
    connect(m_flipV, &QCheckBox::toggled, this, [this](bool on) {
        m_model.flipVertical = on;
        refresh();
    });
    flips->addWidget(m_flipH);
    flips->addWidget(m_flipV);
    flips->addStretch(1);
    controls->addWidget(m_flipBox);
    if (choices == Choices::quarterTurns) {
        // Pages turn by whole quarters and are never mirrored.
        m_model.flipHorizontal = false;
        m_model.flipVertical = false;
        if (m_model.angle == 0) m_model.angle = 90;
        m_fineBox->hide();
        m_flipBox->hide();
    }
    column->addLayout(controls);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    column->addWidget(divider);

    auto* buttons = new QHBoxLayout;
    m_result = sheetkit::label(QString(), 11, QFont::Normal, true, true);
    buttons->addWidget(m_result);
    buttons->addStretch(1);
    m_cancel = new QPushButton("Cancel");
    m_apply = new QPushButton("Apply");
    for (auto* b : findChildren<QPushButton*>()) b->setAutoDefault(false);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_onCancel) m_onCancel();
    });
    connect(m_apply, &QPushButton::clicked, this, [this] {
        if (m_onApply && !m_model.isNoOp()) m_onApply(m_model.angle, m_model.flipHorizontal, m_model.flipVertical);
    });
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_apply);
    column->addLayout(buttons);
    sheetkit::bindKeys(this, m_cancel, m_apply);
    refresh();
}

void RotateView::setSliderPosition(double value) {
    m_model.setSliderAngle(value);
    refresh();
}

void RotateView::refresh() {
    for (size_t i = 0; i < m_quarters.size(); ++i)
        sheetkit::setTinted(m_quarters[i], RotateModel::quarterTurns()[i] == m_model.angle);
    m_angle->setText(QString::fromStdString(m_model.angleText()));
    {
        const QSignalBlocker block(m_slider);
        m_slider->setValue(static_cast<int>(std::lround(m_model.angle * kSliderScale)));
    }
    m_note->setVisible(m_model.showsResampleNote());
    {
        const QSignalBlocker a(m_flipH), b(m_flipV);
        m_flipH->setChecked(m_model.flipHorizontal);
        m_flipV->setChecked(m_model.flipVertical);
    }
    m_result->setText(QString::fromStdString(m_model.resultLabel()));
    m_apply->setEnabled(!m_model.isNoOp());
    m_preview->update();
}

}  // namespace kolvex
