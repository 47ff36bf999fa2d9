// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QWidget>

#include "ui/sheets/BatchRun.h"
#include "ui/sheets/BatchSheetOptions.h"
#include "ui/sheets/DebouncedMeasure.h"
#include "ui/sheets/ImageSheetModels.h"

namespace kolvex {

// The compress tool's sheet: a quality from 0.1 to 1.0 (slider or preset), the original size
// beside the expected size of the result, and the batch row. It converts nothing itself: it asks
// `measure` for sizes (on a worker thread, 0.18 s after the last change; a result for an older
// quality is dropped) and hands the quality and batch choice to `onApply`. GUI thread only.
class CompressView : public QWidget {
    Q_OBJECT

public:
    // Expected output bytes for a quality, or none; blocks, runs on a worker thread.
    using Measure = std::function<std::optional<int64_t>(double quality, std::stop_token stop)>;

    CompressView(std::string filename, int64_t originalBytes, bool isExact, Measure measure,
                 std::optional<BatchPrompt> prompt, std::function<void(double, BatchChoice)> onApply,
                 std::function<void()> onCancel, QWidget* parent = nullptr);
    ~CompressView() override;

    // As the slider sets it (schedules a measurement).
    void setQuality(double quality);
    void choosePreset(size_t index);
    void setDebounce(int milliseconds) { m_debounce.setDelay(milliseconds); }

    double quality() const { return m_model.quality; }
    std::optional<int64_t> estimate() const { return m_estimate; }
    bool measuring() const { return m_measuring; }
    const BatchChoice& choice() const { return m_choice; }
    QString afterText() const { return m_after->text(); }
    QString savingsText() const { return m_savings->isHidden() ? QString() : m_savings->text(); }
    QPushButton* confirmButton() const { return m_confirm; }
    QPushButton* cancelButton() const { return m_cancel; }
    const std::vector<QPushButton*>& presetButtons() const { return m_presets; }
    BatchSheetOptions* batchOptions() const { return m_batch; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void scheduleMeasure();
    void runMeasure();
    void cancelMeasure();
    void refresh();

    CompressModel m_model;
    int64_t m_originalBytes;
    Measure m_measure;
    std::optional<BatchPrompt> m_prompt;
    std::function<void(double, BatchChoice)> m_onApply;
    std::function<void()> m_onCancel;
    BatchChoice m_choice;
    std::optional<int64_t> m_estimate;
    bool m_measuring = false;
    DebouncedMeasure m_debounce;

    QSlider* m_slider = nullptr;
    QLabel* m_percent = nullptr;
    QLabel* m_after = nullptr;
    QLabel* m_savings = nullptr;
    QLabel* m_savingsNote = nullptr;
    QPushButton* m_confirm = nullptr;
    QPushButton* m_cancel = nullptr;
    BatchSheetOptions* m_batch = nullptr;
    std::vector<QPushButton*> m_presets;
};

}  // namespace kolvex
