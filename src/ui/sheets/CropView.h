// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "core/format/ConversionOptions.h"
#include "ui/sheets/BatchRun.h"
#include "ui/sheets/BatchSheetOptions.h"
#include "ui/sheets/ImageSheetModels.h"

namespace kolvex {

class CropCanvas;

// The crop tool's sheet: the preview picture with a selection that nine drag targets move and
// resize, aspect presets, a thirds grid and the selection's size in pixels. Hands the selection
// (unit coordinates, origin at the bottom left) and the batch choice to `onApply`. GUI thread.
class CropView : public QWidget {
    Q_OBJECT

public:
    CropView(QImage image, std::optional<BatchPrompt> prompt, std::function<void(UnitRect, BatchChoice)> onApply,
             std::function<void()> onCancel, QWidget* parent = nullptr);

    void setAspect(CropModel::AspectPreset preset);
    void reset();

    const CropModel& model() const { return m_model; }
    CropCanvas* canvas() const { return m_canvas; }
    QString dimensionsText() const { return m_dimensions->text(); }
    QPushButton* confirmButton() const { return m_confirm; }
    QPushButton* cancelButton() const { return m_cancel; }
    const std::vector<QPushButton*>& aspectButtons() const { return m_aspects; }
    BatchSheetOptions* batchOptions() const { return m_batch; }

private:
    friend class CropCanvas;
    void refresh();

    QImage m_image;
    CropModel m_model;
    std::optional<BatchPrompt> m_prompt;
    std::function<void(UnitRect, BatchChoice)> m_onApply;
    std::function<void()> m_onCancel;
    BatchChoice m_choice;

    CropCanvas* m_canvas = nullptr;
    QLabel* m_dimensions = nullptr;
    QPushButton* m_confirm = nullptr;
    QPushButton* m_cancel = nullptr;
    BatchSheetOptions* m_batch = nullptr;
    std::vector<QPushButton*> m_aspects;
};

// The picture area of the crop sheet: draws the picture, the dimming, the selection with its
// thirds and handles, and turns mouse drags into selection changes.
class CropCanvas : public QWidget {
    Q_OBJECT

public:
    CropCanvas(CropView* view, CropModel* model, const QImage* image);

    CropModel::Rect fitRect() const;
    // What a press at `point` grabs: corners over edges over the inside.
    std::optional<CropModel::Handle> handleAt(QPointF point) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    CropView* m_view;
    CropModel* m_model;
    const QImage* m_image;
    std::optional<CropModel::Handle> m_dragging;
    QPointF m_pressAt;
};

}  // namespace kolvex
