// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "core/ffmpeg/KeyframeIndex.h"
#include "ui/sheets/BatchRun.h"
#include "ui/sheets/BatchSheetOptions.h"
#include "ui/sheets/MediaPreview.h"
#include "ui/sheets/MediaSheetModels.h"
#include "ui/sheets/TimeField.h"

namespace kolvex {

// The trim tool's sheet for one video or audio file: a frame preview (videos), a timeline with
// the waveform (audio), keyframe marks and two handles, start and end fields, the kept length,
// whether the cut is a stream copy, and the batch row. Hands (start, end, batch choice) to
// `onApply`. GUI thread only.
class TrimView : public QWidget {
    Q_OBJECT

public:
    TrimView(double duration, KeyframeIndex keyframes, std::string filename, FrameProvider frame,
             std::optional<std::vector<float>> waveform, std::optional<BatchPrompt> prompt,
             std::function<void(double, double, BatchChoice)> onApply, std::function<void()> onCancel,
             QWidget* parent = nullptr);
    ~TrimView() override;

    // A handle dragged to a pointer x on the timeline.
    void dragHandle(TrimModel::Edge edge, double x);
    void commitStart(double value);
    void commitEnd(double value);
    void wholeFile();
    // Facts read after the sheet opened. awaitKeyframes() marks the file a video; until its
    // keyframes are in, the sheet says so, and keyframesKnown() is false.
    void awaitKeyframes();
    void setKeyframes(KeyframeIndex keyframes);
    // What the engine will make of the cut (its own plan); the handles snap to the keyframes a
    // copy can start on.
    void setQuestion(std::shared_ptr<const CutQuestion> question);
    void setWaveform(std::optional<std::vector<float>> waveform);
    bool keyframesKnown() const { return m_keyframesKnown; }

    const TrimModel& model() const { return m_model; }
    QString explanationText() const { return m_explanation->text(); }
    QString keptText() const { return m_kept->text(); }
    FramePane* previewPane() const { return m_pane; }
    TimelineView* timeline() const { return m_timeline; }
    TimeField* startField() const { return m_startField; }
    TimeField* endField() const { return m_endField; }
    QPushButton* confirmButton() const { return m_confirm; }
    QPushButton* cancelButton() const { return m_cancel; }
    // Takes the start or end the explanation offers for a stream copy; hidden when none is.
    QPushButton* offerButton() const { return m_offer; }
    BatchSheetOptions* batchOptions() const { return m_batch; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void requestPreview(double time, TrimModel::Edge edge);
    void refresh();

    TrimModel m_model;
    std::optional<BatchPrompt> m_prompt;
    std::function<void(double, double, BatchChoice)> m_onApply;
    std::function<void()> m_onCancel;
    BatchChoice m_choice;
    bool m_shown = false;
    bool m_keyframesKnown = true;

    QLabel* m_explanation = nullptr;
    FramePane* m_pane = nullptr;
    TimelineView* m_timeline = nullptr;
    TimeField* m_startField = nullptr;
    TimeField* m_endField = nullptr;
    QLabel* m_kept = nullptr;
    QPushButton* m_confirm = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_offer = nullptr;
    BatchSheetOptions* m_batch = nullptr;
};

}  // namespace kolvex
