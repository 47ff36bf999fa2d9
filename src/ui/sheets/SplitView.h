// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QWidget>

#include "core/ffmpeg/KeyframeIndex.h"
#include "ui/sheets/BatchRun.h"
#include "ui/sheets/BatchSheetOptions.h"
#include "ui/sheets/MediaPreview.h"
#include "ui/sheets/MediaSheetModels.h"
#include "ui/sheets/TimeField.h"

namespace kolvex {

// The split tool's sheet for one video or audio file: one cut on a timeline, or 2 to 20 equal
// parts, pulled to keyframes when the file has them; the resulting parts listed. Hands the cut
// times and the batch choice to `onApply`. GUI thread only.
class SplitView : public QWidget {
    Q_OBJECT

public:
    SplitView(double duration, KeyframeIndex keyframes, std::string filename, FrameProvider frame,
              std::optional<std::vector<float>> waveform, std::optional<BatchPrompt> prompt,
              std::function<void(std::vector<double>, BatchChoice)> onApply, std::function<void()> onCancel,
              QWidget* parent = nullptr);
    ~SplitView() override;

    void setMethod(SplitModel::Method method);
    void setParts(int parts);
    void dragCut(double x);
    void commitTyped(double value);
    // Facts read after the sheet opened. awaitKeyframes() marks the file a video; until its
    // keyframes are in, the sheet says so. Once they are, the cut moves to the nearest one.
    void awaitKeyframes();
    void setKeyframes(KeyframeIndex keyframes);
    // What the engine will make of each part (its own plan); the cuts snap to the keyframes.
    void setQuestion(std::shared_ptr<const CutQuestion> question);
    void setWaveform(std::optional<std::vector<float>> waveform);

    const SplitModel& model() const { return m_model; }
    std::vector<QString> outcomeRows() const;
    QString eachPartText() const { return m_eachPart->text(); }
    QString explanationText() const { return m_explanation->text(); }
    FramePane* previewPane() const { return m_pane; }
    TimelineView* timeline() const { return m_timeline; }
    TimeField* cutField() const { return m_field; }
    QPushButton* confirmButton() const { return m_confirm; }
    QPushButton* cancelButton() const { return m_cancel; }
    BatchSheetOptions* batchOptions() const { return m_batch; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    SplitModel m_model;
    std::optional<BatchPrompt> m_prompt;
    std::function<void(std::vector<double>, BatchChoice)> m_onApply;
    std::function<void()> m_onCancel;
    BatchChoice m_choice;
    bool m_shown = false;
    bool m_keyframesKnown = true;

    QPushButton* m_atPoint = nullptr;
    QPushButton* m_equal = nullptr;
    QStackedWidget* m_methods = nullptr;
    FramePane* m_pane = nullptr;
    TimelineView* m_timeline = nullptr;
    TimeField* m_field = nullptr;
    QSpinBox* m_parts = nullptr;
    QLabel* m_eachPart = nullptr;
    QLabel* m_explanation = nullptr;
    QVBoxLayout* m_outcome = nullptr;
    std::vector<QString> m_rows;
    QPushButton* m_confirm = nullptr;
    QPushButton* m_cancel = nullptr;
    BatchSheetOptions* m_batch = nullptr;
};

}  // namespace kolvex
