// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

#include <QButtonGroup>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QWidget>

#include "ui/sheets/BatchRun.h"
#include "ui/sheets/BatchSheetOptions.h"
#include "ui/sheets/DebouncedMeasure.h"
#include "ui/sheets/ImageSheetModels.h"

namespace kolvex {

// The resize tool's sheet for images and videos: a percentage or a longest side, the new pixel
// size and, when a measure exists, the expected file size (asked on a worker thread 0.2 s after
// the resolved side last changed). Hands the longest side in pixels and the batch choice to
// `onApply`. GUI thread only.
class ResizeView : public QWidget {
    Q_OBJECT

public:
    // Expected output bytes for a longest side, or none; blocks, runs on a worker thread.
    using Measure = std::function<std::optional<int64_t>(int64_t side, std::stop_token stop)>;

    ResizeView(QSizeF originalSize, std::optional<QImage> preview, bool isVideo, int64_t originalBytes, bool isExact,
               Measure measure, std::optional<BatchPrompt> prompt, std::function<void(int64_t, BatchChoice)> onApply,
               std::function<void()> onCancel, QWidget* parent = nullptr);
    ~ResizeView() override;

    void setMode(ResizeModel::Mode mode);
    void setPercentage(double value);
    void setLongestSide(double value);
    void setDebounce(int milliseconds) { m_debounce.setDelay(milliseconds); }

    const ResizeModel& model() const { return m_model; }
    std::optional<int64_t> estimate() const { return m_estimate; }
    bool measuring() const { return m_measuring; }
    QString resultText() const { return m_after->text(); }
    QString sizeText() const { return m_afterDetail->isHidden() ? QString() : m_afterDetail->text(); }
    QString savingsText() const { return m_savings->isHidden() ? QString() : m_savings->text(); }
    QString hintText() const { return m_hint->text(); }
    QPushButton* confirmButton() const { return m_confirm; }
    QPushButton* cancelButton() const { return m_cancel; }
    const std::vector<QPushButton*>& sidePresetButtons() const { return m_sidePresets; }
    BatchSheetOptions* batchOptions() const { return m_batch; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void changed(int64_t previousSide);
    void scheduleMeasure();
    void runMeasure();
    void cancelMeasure();
    void refresh();

    ResizeModel m_model;
    int64_t m_originalBytes;
    bool m_isExact;
    Measure m_measure;
    std::optional<BatchPrompt> m_prompt;
    std::function<void(int64_t, BatchChoice)> m_onApply;
    std::function<void()> m_onCancel;
    BatchChoice m_choice;
    std::optional<int64_t> m_estimate;
    bool m_measuring = false;
    DebouncedMeasure m_debounce;

    QPushButton* m_percentageMode = nullptr;
    QPushButton* m_sideMode = nullptr;
    QStackedWidget* m_controls = nullptr;
    QSlider* m_percentSlider = nullptr;
    QSlider* m_sideSlider = nullptr;
    QLabel* m_percentText = nullptr;
    QLabel* m_sideText = nullptr;
    std::vector<QPushButton*> m_percentPresets;
    std::vector<QPushButton*> m_sidePresets;
    QLabel* m_after = nullptr;
    QLabel* m_afterDetail = nullptr;
    QLabel* m_savings = nullptr;
    QLabel* m_hint = nullptr;
    QPushButton* m_confirm = nullptr;
    QPushButton* m_cancel = nullptr;
    BatchSheetOptions* m_batch = nullptr;
};

}  // namespace kolvex
