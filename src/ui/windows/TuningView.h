// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <QWidget>

#include "interaction/RingLayout.h"
#include "ui/portal/model/PortalMotion.h"

class QLabel;
class QPushButton;
class QSlider;

namespace kolvex {

class PortalModel;

// The Portal tuning window's content: sliders over the live model's ring geometry and motion
// constants, "Reset to defaults" and "Copy values" (the values as a source snippet on the
// clipboard). Nothing is stored: the values last until the process ends. GUI thread only.
class TuningView : public QWidget {
    Q_OBJECT

public:
    // One slider row: what it edits, its range and how its value reads.
    struct Row {
        std::string section;
        std::string label;
        double min;
        double max;
        std::string format;  // "%.0f", "%.2f", "%.3f"
        std::string unit;    // empty: the number alone
        std::string help;    // empty: no help line
        std::function<double(const RingMetrics&, const PortalMotion&)> get;
        std::function<void(RingMetrics&, PortalMotion&, double)> set;
    };
    static const std::vector<Row>& rows();

    // `reduceMotion` says whether the desktop asks for less motion (the default reads it).
    explicit TuningView(PortalModel& model, std::function<bool()> reduceMotion = {}, QWidget* parent = nullptr);

    // "54 pt", "0.300 ×sector", "0.780".
    static std::string valueText(const Row& row, double value);
    // "Current ring: <targets> targets at r=<radius, truncated>".
    static std::string currentRingLine(int targets, double radius);
    // The eighteen lines "Copy values" puts on the clipboard.
    static std::string snippet(const RingMetrics& metrics, const PortalMotion& motion,
                               std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

    void resetToDefaults();
    void copyValues();

    // For tests.
    QSlider* slider(int row) const { return m_sliders.at(static_cast<std::size_t>(row)); }
    QLabel* valueLabel(int row) const { return m_values.at(static_cast<std::size_t>(row)); }
    QLabel* currentRing() const { return m_currentRing; }
    QPushButton* copyButton() const { return m_copy; }
    QLabel* reduceMotionNote() const { return m_reduceMotionNote; }

private:
    void refresh();

    PortalModel& m_model;
    std::vector<QSlider*> m_sliders;
    std::vector<QLabel*> m_values;
    QLabel* m_currentRing = nullptr;
    QLabel* m_reduceMotionNote = nullptr;
    QPushButton* m_copy = nullptr;
    bool m_refreshing = false;
};

}  // namespace kolvex
