// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sheets/SplitView.h"

#include <QButtonGroup>
#include <QFrame>
#include <QHBoxLayout>

#include "ui/sheets/MediaTime.h"
#include "ui/sheets/SheetKit.h"

namespace kolvex {

namespace {

QString timeText(double seconds) {
    return QString::fromStdString(MediaTime::format(seconds));
}

}  // namespace

SplitView::SplitView(double duration, KeyframeIndex keyframes, std::string filename, FrameProvider frame,
                     std::optional<std::vector<float>> waveform, std::optional<BatchPrompt> prompt,
                     std::function<void(std::vector<double>, BatchChoice)> onApply, std::function<void()> onCancel,
                     QWidget* parent)
    : QWidget(parent), m_model(duration, std::move(keyframes)), m_prompt(std::move(prompt)),
      m_onApply(std::move(onApply)), m_onCancel(std::move(onCancel)) {
    auto* column = sheetkit::column(this, 560, 14);

    m_explanation = sheetkit::label(QString(), 11, QFont::Normal, true);
    sheetkit::header(column, sheetkit::title("Split " + QString::fromStdString(filename), 520), m_explanation);

    auto* picker = new QHBoxLayout;
    picker->setSpacing(0);
    auto* group = new QButtonGroup(this);
    m_atPoint = new QPushButton(SplitModel::label(SplitModel::Method::atPoint));
    m_equal = new QPushButton(SplitModel::label(SplitModel::Method::equalParts));
    for (auto* b : {m_atPoint, m_equal}) {
        b->setCheckable(true);
        b->setAutoDefault(false);
        b->setMinimumWidth(120);
        group->addButton(b);
        picker->addWidget(b);
    }
    picker->addStretch(1);
    connect(m_atPoint, &QPushButton::clicked, this, [this] { setMethod(SplitModel::Method::atPoint); });
    connect(m_equal, &QPushButton::clicked, this, [this] { setMethod(SplitModel::Method::equalParts); });
    column->addLayout(picker);

    m_methods = new QStackedWidget;
    auto* pointPage = new QWidget;
    auto* pointColumn = new QVBoxLayout(pointPage);
    pointColumn->setContentsMargins(0, 0, 0, 0);
    pointColumn->setSpacing(14);
    if (frame) {
        m_pane = new FramePane(std::move(frame), 190);
        pointColumn->addWidget(m_pane);
    }
    const bool hasWaveform = waveform && !waveform->empty();
    m_timeline = new TimelineView(m_model.duration, m_model.keyframes, std::move(waveform));
    m_timeline->setFixedHeight(hasWaveform ? 64 : 46);
    m_timeline->onDrag = [this](size_t, double x) { dragCut(x); };
    pointColumn->addWidget(m_timeline);
    auto* fieldRow = new QHBoxLayout;
    m_field = new TimeField("Split at", m_model.point, SplitModel::kMargin, m_model.duration - SplitModel::kMargin,
                            [this](double v) { commitTyped(v); });
    fieldRow->addWidget(m_field, 0, Qt::AlignBottom);
    fieldRow->addStretch(1);
    pointColumn->addLayout(fieldRow);
    m_methods->addWidget(pointPage);

    auto* partsPage = new QWidget;
    auto* partsColumn = new QVBoxLayout(partsPage);
    partsColumn->setContentsMargins(0, 0, 0, 0);
    partsColumn->setSpacing(8);
    auto* partsRow = new QHBoxLayout;
    partsRow->addWidget(new QLabel("Split into"));
    m_parts = new QSpinBox;
    m_parts->setRange(SplitModel::kMinimumParts, SplitModel::kMaximumParts);
    m_parts->setSuffix(" parts");
    m_parts->setValue(m_model.parts);
    m_parts->setFixedWidth(130);
    connect(m_parts, &QSpinBox::valueChanged, this, [this](int v) { setParts(v); });
    partsRow->addWidget(m_parts);
    partsRow->addStretch(1);
    partsColumn->addLayout(partsRow);
    m_eachPart = sheetkit::label(QString(), 10.5, QFont::Normal, true);
    partsColumn->addWidget(m_eachPart);
    partsColumn->addStretch(1);
    m_methods->addWidget(partsPage);
    column->addWidget(m_methods);

    auto* outcomeBox = new QFrame;
    outcomeBox->setObjectName("outcomeList");
    outcomeBox->setStyleSheet("#outcomeList { background: rgba(128,128,128,20); border-radius: 8px; }");
    m_outcome = new QVBoxLayout(outcomeBox);
    m_outcome->setContentsMargins(11, 11, 11, 11);
    m_outcome->setSpacing(3);
    column->addWidget(outcomeBox);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_batch = addBatchOptions(buttons, m_prompt, &m_choice, nullptr);
    const auto row = addSheetButtons(buttons, this, confirmTitle(m_prompt, "Split"), [this] {
        if (m_onCancel) m_onCancel();
    });
    m_cancel = row.cancel;
    m_confirm = row.confirm;
    connect(m_confirm, &QPushButton::clicked, this, [this] {
        if (m_model.method == SplitModel::Method::atPoint) m_field->commit();
        const auto points = m_model.points();
        if (m_onApply && !points.empty()) m_onApply(points, m_choice);
    });
    column->addLayout(buttons);
    sheetkit::bindKeys(this, m_cancel, m_confirm);
    // Return in the cut's field takes a typed time (the parts then show where it landed); with
    // nothing typed, it splits.
    m_field->onReturnUntouched = [this] {
        if (m_confirm->isEnabled()) m_confirm->click();
    };
    refresh();
}

SplitView::~SplitView() {
    m_field->detach();
}

void SplitView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        if (m_pane) m_pane->request(m_model.point);
    }
}

void SplitView::setMethod(SplitModel::Method method) {
    m_model.method = method;
    refresh();
}

void SplitView::setParts(int parts) {
    m_model.setParts(parts);
    refresh();
}

void SplitView::dragCut(double x) {
    m_model.dragTo(x, m_timeline->geometry());
    if (m_pane) m_pane->request(m_model.point);
    refresh();
}

void SplitView::commitTyped(double value) {
    m_model.commitTyped(value);
    if (m_pane) m_pane->request(m_model.point);
    refresh();
}

void SplitView::awaitKeyframes() {
    m_model.video = true;
    m_keyframesKnown = false;
    refresh();
}

void SplitView::setKeyframes(KeyframeIndex keyframes) {
    m_model.keyframes = std::move(keyframes);
    m_keyframesKnown = true;
    m_timeline->setKeyframes(m_model.keyframes);
    // The cut stays where it is: only the user's drags and typed times snap to keyframes, and
    // a cut off the keyframes is re-encoded around, as the explanation says.
    refresh();
}

void SplitView::setWaveform(std::optional<std::vector<float>> waveform) {
    m_timeline->setWaveform(std::move(waveform));
    m_timeline->setFixedHeight(m_timeline->hasWaveform() ? 64 : 46);
}

std::vector<QString> SplitView::outcomeRows() const {
    return m_rows;
}

void SplitView::setQuestion(std::shared_ptr<const CutQuestion> question) {
    // A cut snaps to the nearest keyframe, however far: to any, so it stays near where it was
    // asked, and the explanation says which parts that makes re-encoded.
    if (question && question->hasPictures()) {
        setKeyframes(question->keyframes());
    } else {
        m_keyframesKnown = true;
    }
    m_model.question = std::move(question);
    refresh();
}

void SplitView::refresh() {
    m_explanation->setText(m_keyframesKnown ? QString::fromStdString(m_model.explanation())
                                            : QStringLiteral("Reading the keyframes\u2026"));
    const bool atPoint = m_model.method == SplitModel::Method::atPoint;
    m_atPoint->setChecked(atPoint);
    m_equal->setChecked(!atPoint);
    sheetkit::setTinted(m_atPoint, atPoint);
    sheetkit::setTinted(m_equal, !atPoint);
    m_methods->setCurrentIndex(atPoint ? 0 : 1);
    // The sheet is as tall as the page it shows, not as the tallest page.
    for (int i = 0; i < m_methods->count(); ++i)
        m_methods->widget(i)->setSizePolicy(QSizePolicy::Preferred,
                                            i == m_methods->currentIndex() ? QSizePolicy::Preferred : QSizePolicy::Ignored);
    m_methods->updateGeometry();
    m_timeline->setHandles({m_model.point});
    m_timeline->setBand(0, m_model.point);
    // The preview shows the frame at the cut, however the cut got there.
    if (m_pane && m_shown && m_pane->requestedTime() != m_model.point) m_pane->request(m_model.point);
    m_field->setSeconds(m_model.point);
    {
        const QSignalBlocker block(m_parts);
        m_parts->setValue(m_model.parts);
    }
    m_eachPart->setText("Each part runs about " + timeText(m_model.duration / m_model.parts) + ".");

    while (auto* item = m_outcome->takeAt(0)) {
        if (auto* w = item->widget()) w->deleteLater();
        if (auto* l = item->layout()) {
            while (auto* inner = l->takeAt(0)) {
                if (auto* w = inner->widget()) w->deleteLater();
                delete inner;
            }
        }
        delete item;
    }
    m_rows.clear();
    int number = 1;
    for (const auto& [from, to] : m_model.outcome()) {
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        auto* part = sheetkit::label(QString("Part %1").arg(number), 10, QFont::DemiBold, true);
        part->setMinimumWidth(46);
        auto* span = sheetkit::label(timeText(from) + " \u2192 " + timeText(to), 11, QFont::Normal, false, true);
        auto* length = sheetkit::label("(" + timeText(to - from) + ")", 10, QFont::Normal, true, true);
        row->addWidget(part);
        row->addWidget(span);
        row->addStretch(1);
        row->addWidget(length);
        m_outcome->addLayout(row);
        m_rows.push_back(part->text() + " " + span->text() + " " + length->text());
        ++number;
    }
    m_confirm->setEnabled(m_model.canApply());
}

}  // namespace kolvex
