// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/windows/TuningView.h"

#include <cmath>
#include <ctime>

#include <fmt/format.h>

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/anim/ReduceMotion.h"
#include "ui/portal/model/PortalModel.h"

namespace kolvex {

namespace {

constexpr int kSteps = 10000;  // slider positions across a row's range: continuous enough

// printf-style formats of the rows, without a locale: a full stop is always the separator.
std::string number(const std::string& format, double value) {
    if (format == "%.0f") return fmt::format("{:.0f}", value);
    if (format == "%.1f") return fmt::format("{:.1f}", value);
    if (format == "%.2f") return fmt::format("{:.2f}", value);
    return fmt::format("{:.3f}", value);
}

template <double RingMetrics::*Field>
TuningView::Row metricsRow(std::string section, std::string label, double min, double max, std::string format,
                           std::string unit, std::string help) {
    return {std::move(section), std::move(label), min, max, std::move(format), std::move(unit), std::move(help),
            [](const RingMetrics& m, const PortalMotion&) { return m.*Field; },
            [](RingMetrics& m, PortalMotion&, double v) { m.*Field = v; }};
}

template <double PortalMotion::*Field>
TuningView::Row motionRow(std::string section, std::string label, double min, double max, std::string format,
                          std::string unit, std::string help) {
    return {std::move(section), std::move(label), min, max, std::move(format), std::move(unit), std::move(help),
            [](const RingMetrics&, const PortalMotion& m) { return m.*Field; },
            [](RingMetrics&, PortalMotion& m, double v) { m.*Field = v; }};
}

}  // namespace

const std::vector<TuningView::Row>& TuningView::rows() {
    static const std::vector<Row> rows{
        metricsRow<&RingMetrics::deadZone>("Selection feel", "Dead zone", 20, 110, "%.0f", "pt",
                                           "How far you must move before anything selects. Higher = harder to trigger by accident."),
        metricsRow<&RingMetrics::tangentialTolerance>("Selection feel", "Stickiness", 1, 30, "%.0f", "pt",
                                                      "Tangential wobble tolerated before switching targets. Raise if it feels twitchy, lower if switching fights you."),
        metricsRow<&RingMetrics::sectorCapFraction>("Selection feel", "Switch ceiling", 0.05, 0.5, "%.3f", "×sector",
                                                    "Caps stickiness as a fraction of one sector, so a dense ring stays switchable."),
        metricsRow<&RingMetrics::baseRadius>("Ring layout", "Base radius", 80, 190, "%.0f", "pt",
                                             "Distance from centre to targets, before crowding pushes it out."),
        metricsRow<&RingMetrics::chipGap>("Ring layout", "Chip gap", 2, 32, "%.0f", "pt",
                                          "Minimum clear space between neighbouring chips."),
        motionRow<&PortalMotion::revealResponse>("Motion — appearing", "Reveal response", 0.08, 0.6, "%.3f", "s",
                                                 "Lower is snappier. This is the first thing the user perceives."),
        motionRow<&PortalMotion::revealDamping>("Motion — appearing", "Reveal damping", 0.4, 1.0, "%.3f", "",
                                                "Below ~0.8 overshoots. Some overshoot reads as alive."),
        motionRow<&PortalMotion::ringStagger>("Motion — appearing", "Ring stagger", 0, 0.06, "%.3f", "s/chip",
                                              "Per-chip delay. Zero snaps in as a block."),
        motionRow<&PortalMotion::hoverResponse>("Motion — responding", "Hover response", 0.06, 0.4, "%.3f", "s",
                                                "Should be the fastest curve here — it answers 'did it hear me?'."),
        motionRow<&PortalMotion::nodeLean>("Motion — responding", "File lean", 0, 0.5, "%.3f", "×",
                                           "How far the file preview leans toward the target."),
        motionRow<&PortalMotion::swirlPeriod>("Motion — responding", "Swirl period", 2, 20, "%.0f", "s",
                                              "One full rotation of the aperture."),
        motionRow<&PortalMotion::collapseAfter>("Motion — finishing", "Collapse to tray after", 1, 30, "%.0f", "s",
                                                "A conversion longer than this hides the Portal and continues in the tray, finishing with a notification. The Portal floats above every app, which is fine for a second and not for four minutes."),
        motionRow<&PortalMotion::minimumProgressDisplay>("Motion — finishing", "Min. progress shown", 0.1, 2.0, "%.2f", "s",
                                                         "A small image converts in ~200 ms, so the percentage is paced to stay readable for at least this long."),
        motionRow<&PortalMotion::dismissDuration>("Motion — finishing", "Dismiss duration", 0.05, 0.4, "%.3f", "s",
                                                  "Exits should be faster than entrances, and never bounce."),
        motionRow<&PortalMotion::successLinger>("Motion — finishing", "Success linger", 0.2, 2.0, "%.2f", "s",
                                                "How long the result stays. Too short and the filename can't be read."),
        motionRow<&PortalMotion::failureLinger>("Motion — finishing", "Failure linger", 0.5, 4.0, "%.2f", "s", ""),
    };
    return rows;
}

std::string TuningView::valueText(const Row& row, double value) {
    const std::string text = number(row.format, value);
    return row.unit.empty() ? text : text + " " + row.unit;
}

std::string TuningView::currentRingLine(int targets, double radius) {
    return "Current ring: " + std::to_string(targets) + " targets at r=" +
           std::to_string(static_cast<long long>(std::trunc(radius)));
}

std::string TuningView::snippet(const RingMetrics& metrics, const PortalMotion& motion,
                                std::chrono::system_clock::time_point now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    const std::string stamp = fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", utc.tm_year + 1900, utc.tm_mon + 1,
                                          utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    const std::vector<std::string> lines{
        "// Tuned " + stamp,
        "var metrics = RingMetrics()",
        "metrics.deadZone = " + number("%.0f", metrics.deadZone),
        "metrics.tangentialTolerance = " + number("%.1f", metrics.tangentialTolerance),
        "metrics.sectorCapFraction = " + number("%.2f", metrics.sectorCapFraction),
        "metrics.baseRadius = " + number("%.0f", metrics.baseRadius),
        "metrics.chipGap = " + number("%.0f", metrics.chipGap),
        "",
        "var motion = PortalMotion()",
        "motion.revealResponse = " + number("%.3f", motion.revealResponse),
        "motion.revealDamping = " + number("%.2f", motion.revealDamping),
        "motion.dismissDuration = " + number("%.3f", motion.dismissDuration),
        "motion.hoverResponse = " + number("%.3f", motion.hoverResponse),
        "motion.ringStagger = " + number("%.3f", motion.ringStagger),
        "motion.successLinger = " + number("%.2f", motion.successLinger),
        "motion.failureLinger = " + number("%.2f", motion.failureLinger),
        "motion.nodeLean = " + number("%.2f", motion.nodeLean),
        "motion.swirlPeriod = " + number("%.1f", motion.swirlPeriod),
    };
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += '\n';
        text += lines[i];
    }
    return text;
}

namespace {

QLabel* styled(const QString& text, qreal pointSize, bool bold, QPalette::ColorRole role = QPalette::WindowText) {
    auto* label = new QLabel(text);
    QFont font = label->font();
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    label->setFont(font);
    label->setWordWrap(true);
    label->setForegroundRole(role);
    return label;
}

}  // namespace

TuningView::TuningView(PortalModel& model, std::function<bool()> reduceMotion, QWidget* parent)
    : QWidget(parent), m_model(model) {
    if (!reduceMotion) reduceMotion = [] { return ReduceMotion::system(); };
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    outer->addWidget(scroll);
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(22, 22, 22, 22);
    layout->setSpacing(18);
    scroll->setWidget(content);
    setMinimumSize(430, 520);

    auto* header = new QVBoxLayout;
    header->setSpacing(4);
    header->addWidget(styled("Portal Tuning", 16, true));
    header->addWidget(styled("Changes apply to the next drag. Adjust, drag a file, repeat.", 9, false,
                             QPalette::PlaceholderText));
    if (reduceMotion()) {
        m_reduceMotionNote = styled("Reduce Motion is on — motion values are overridden.", 9, false);
        m_reduceMotionNote->setStyleSheet("color: orange;");
        header->addWidget(m_reduceMotionNote);
    }
    layout->addLayout(header);

    QVBoxLayout* section = nullptr;
    std::string sectionName;
    for (std::size_t i = 0; i < rows().size(); ++i) {
        const Row& row = rows()[i];
        if (row.section != sectionName) {
            if (sectionName == "Ring layout") {
                m_currentRing = styled({}, 9, false, QPalette::PlaceholderText);
                section->addWidget(m_currentRing);
            }
            sectionName = row.section;
            section = new QVBoxLayout;
            section->setSpacing(9);
            section->addWidget(styled(QString::fromStdString(row.section).toUpper(), 10, true, QPalette::PlaceholderText));
            layout->addLayout(section);
        }
        auto* rowLayout = new QVBoxLayout;
        rowLayout->setSpacing(2);
        auto* top = new QHBoxLayout;
        top->addWidget(styled(QString::fromStdString(row.label), 12, false));
        top->addStretch(1);
        auto* value = styled({}, 11, false, QPalette::PlaceholderText);
        value->setWordWrap(false);
        top->addWidget(value);
        rowLayout->addLayout(top);
        auto* slider = new QSlider(Qt::Horizontal);
        slider->setRange(0, kSteps);
        rowLayout->addWidget(slider);
        if (!row.help.empty()) rowLayout->addWidget(styled(QString::fromStdString(row.help), 10, false, QPalette::PlaceholderText));
        section->addLayout(rowLayout);
        m_sliders.push_back(slider);
        m_values.push_back(value);
        connect(slider, &QSlider::valueChanged, this, [this, i](int position) {
            if (m_refreshing) return;
            const Row& edited = rows()[i];
            // The ends give exactly the bounds; between them the value is not rounded.
            const double value = position == kSteps ? edited.max
                                 : position == 0    ? edited.min
                                                    : edited.min + (edited.max - edited.min) * position / kSteps;
            RingMetrics metrics = m_model.metrics();
            PortalMotion motion = m_model.motion();
            edited.set(metrics, motion, value);
            if (!(metrics == m_model.metrics())) m_model.setMetrics(metrics);
            if (!(motion == m_model.motion())) m_model.setMotion(motion);
        });
    }

    auto* footer = new QHBoxLayout;
    auto* reset = new QPushButton("Reset to defaults");
    connect(reset, &QPushButton::clicked, this, &TuningView::resetToDefaults);
    footer->addWidget(reset);
    footer->addStretch(1);
    m_copy = new QPushButton("Copy values");
    connect(m_copy, &QPushButton::clicked, this, &TuningView::copyValues);
    footer->addWidget(m_copy);
    layout->addLayout(footer);

    auto* copyShortcut = new QAction(this);
    copyShortcut->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    copyShortcut->setShortcutContext(Qt::WindowShortcut);
    connect(copyShortcut, &QAction::triggered, this, &TuningView::copyValues);
    addAction(copyShortcut);

    connect(&m_model, &PortalModel::changed, this, [this](PortalModel::Field field) {
        if (field == PortalModel::Field::metrics || field == PortalModel::Field::motion ||
            field == PortalModel::Field::targets)
            refresh();
    });
    refresh();
}

void TuningView::refresh() {
    m_refreshing = true;
    for (std::size_t i = 0; i < rows().size(); ++i) {
        const Row& row = rows()[i];
        const double value = row.get(m_model.metrics(), m_model.motion());
        const double fraction = (value - row.min) / (row.max - row.min);
        m_sliders[i]->setValue(static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * kSteps)));
        m_values[i]->setText(QString::fromStdString(valueText(row, value)));
    }
    m_currentRing->setText(QString::fromStdString(
        currentRingLine(static_cast<int>(m_model.targets().size()), m_model.layout().radius)));
    m_refreshing = false;
}

void TuningView::resetToDefaults() {
    m_model.setMetrics(RingMetrics{});
    m_model.setMotion(PortalMotion{});
    refresh();
}

void TuningView::copyValues() {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        clipboard->clear();
        clipboard->setText(QString::fromStdString(snippet(m_model.metrics(), m_model.motion())));
    }
    m_copy->setText("Copied ✓");
    // Each press starts its own two-second wait; the first one to end restores the title.
    QTimer::singleShot(2000, this, [this] { m_copy->setText("Copy values"); });
}

}  // namespace kolvex
