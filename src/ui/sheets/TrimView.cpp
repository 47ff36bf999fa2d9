// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sheets/TrimView.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "ui/sheets/MediaTime.h"
#include "ui/sheets/SheetKit.h"

namespace kolvex {

TrimView::TrimView(double duration, KeyframeIndex keyframes, std::string filename, FrameProvider frame,
                   std::optional<std::vector<float>> waveform, std::optional<BatchPrompt> prompt,
                   std::function<void(double, double, BatchChoice)> onApply, std::function<void()> onCancel,
                   QWidget* parent)
    : QWidget(parent), m_model(duration, std::move(keyframes)), m_prompt(std::move(prompt)),
      m_onApply(std::move(onApply)), m_onCancel(std::move(onCancel)) {
    auto* column = sheetkit::column(this, 560, 14);

    m_explanation = sheetkit::label(QString(), 11, QFont::Normal, true);
    sheetkit::header(column, sheetkit::title("Trim " + QString::fromStdString(filename), 520), m_explanation);

    if (frame) {
        m_pane = new FramePane(std::move(frame), 200);
        column->addWidget(m_pane);
    }
    m_timeline = new TimelineView(m_model.duration, m_model.keyframes, std::move(waveform));
    m_timeline->setFixedHeight(54);
    m_timeline->onDrag = [this](size_t handle, double x) {
        dragHandle(handle == 0 ? TrimModel::Edge::start : TrimModel::Edge::end, x);
    };
    column->addWidget(m_timeline);

    auto* times = new QHBoxLayout;
    times->setSpacing(14);
    m_startField = new TimeField("Start", m_model.start, 0, m_model.startFieldMaximum(),
                                 [this](double v) { commitStart(v); });
    m_endField = new TimeField("End", m_model.end, m_model.endFieldMinimum(), m_model.duration,
                               [this](double v) { commitEnd(v); });
    times->addWidget(m_startField, 0, Qt::AlignBottom);
    times->addWidget(m_endField, 0, Qt::AlignBottom);
    auto kept = sheetkit::figure("Keeps", true, false);
    m_kept = kept.value;
    times->addWidget(kept.widget, 0, Qt::AlignBottom);
    times->addStretch(1);
    m_offer = new QPushButton;
    m_offer->setAutoDefault(false);
    m_offer->setVisible(false);
    connect(m_offer, &QPushButton::clicked, this, [this] {
        if (const auto offer = m_model.offer()) {
            m_model.take(*offer);
            requestPreview(offer->edge == TrimModel::Edge::start ? m_model.start : m_model.end, offer->edge);
            refresh();
        }
    });
    times->addWidget(m_offer, 0, Qt::AlignBottom);
    column->addLayout(times);

    auto* buttons = new QHBoxLayout;
    auto* whole = new QPushButton("Whole file");
    whole->setAutoDefault(false);
    connect(whole, &QPushButton::clicked, this, &TrimView::wholeFile);
    buttons->addWidget(whole);
    buttons->addStretch(1);
    m_batch = addBatchOptions(buttons, m_prompt, &m_choice, nullptr);
    const auto row = addSheetButtons(buttons, this, confirmTitle(m_prompt, "Trim"), [this] {
        if (m_onCancel) m_onCancel();
    });
    m_cancel = row.cancel;
    m_confirm = row.confirm;
    connect(m_confirm, &QPushButton::clicked, this, [this] {
        // Return while typing a time takes the typed time and trims.
        m_startField->commit();
        m_endField->commit();
        if (m_onApply && m_model.canApply()) m_onApply(m_model.start, m_model.end, m_choice);
    });
    column->addLayout(buttons);
    sheetkit::bindKeys(this, m_cancel, m_confirm);
    // The fields take Return themselves: it commits the typed time (first), then trims.
    for (auto* field : {m_startField, m_endField})
        connect(field->editor(), &QLineEdit::returnPressed, m_confirm, [this] {
            if (m_confirm->isEnabled()) m_confirm->click();
        });
    refresh();
}

TrimView::~TrimView() {
    m_startField->detach();
    m_endField->detach();
}

void TrimView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        requestPreview(0, TrimModel::Edge::start);
    }
}

void TrimView::dragHandle(TrimModel::Edge edge, double x) {
    const double t = m_model.dragTo(edge, x, m_timeline->geometry());
    requestPreview(t, edge);
    refresh();
}

void TrimView::commitStart(double value) {
    m_model.commitStart(value);
    requestPreview(m_model.start, TrimModel::Edge::start);
    refresh();
}

void TrimView::commitEnd(double value) {
    m_model.commitEnd(value);
    requestPreview(m_model.end, TrimModel::Edge::end);
    refresh();
}

void TrimView::wholeFile() {
    m_model.wholeFile();
    requestPreview(0, TrimModel::Edge::start);
    refresh();
}

void TrimView::awaitKeyframes() {
    m_model.video = true;
    m_keyframesKnown = false;
    refresh();
}

void TrimView::setKeyframes(KeyframeIndex keyframes) {
    m_model.keyframes = std::move(keyframes);
    m_keyframesKnown = true;
    m_timeline->setKeyframes(m_model.keyframes);
    refresh();
}

void TrimView::setQuestion(std::shared_ptr<const CutQuestion> question) {
    if (question && question->hasPictures()) {
        setKeyframes(question->copyStarts());
    } else {
        m_keyframesKnown = true;
    }
    m_model.question = std::move(question);
    refresh();
}

void TrimView::setWaveform(std::optional<std::vector<float>> waveform) {
    m_timeline->setWaveform(std::move(waveform));
}

void TrimView::requestPreview(double time, TrimModel::Edge edge) {
    if (!m_pane) return;
    m_pane->setCaption(edge == TrimModel::Edge::start ? "START" : "END");
    m_pane->request(time);
}

void TrimView::refresh() {
    m_explanation->setText(m_keyframesKnown ? QString::fromStdString(m_model.explanation())
                                            : QStringLiteral("Reading the keyframes\u2026"));
    const auto offer = m_model.offer();
    if (offer)
        m_offer->setText(QString::fromStdString((offer->edge == TrimModel::Edge::start ? "Start at " : "End at ") +
                                                MediaTime::format(offer->time)));
    m_offer->setVisible(offer.has_value());
    m_timeline->setHandles({m_model.start, m_model.end});
    m_timeline->setBand(m_model.start, m_model.end);
    m_startField->setRange(0, m_model.startFieldMaximum());
    m_endField->setRange(m_model.endFieldMinimum(), m_model.duration);
    m_startField->setSeconds(m_model.start);
    m_endField->setSeconds(m_model.end);
    m_kept->setText(QString::fromStdString(MediaTime::format(m_model.kept())));
    m_confirm->setEnabled(m_model.canApply());
}

}  // namespace kolvex
