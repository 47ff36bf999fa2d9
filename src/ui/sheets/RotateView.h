// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <vector>

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QWidget>

#include "ui/sheets/ImageSheetModels.h"

namespace kolvex {

// The rotate and flip sheet: a live preview of the picture turned and mirrored as chosen,
// quarter turns, fine angles, a stepper and a slider, two flips and the size before and after.
// One setting serves every dropped file. Hands (degrees clockwise, flip across, flip down) to
// `onApply`. For PDF pages (`Choices::quarterTurns`) only the quarter turns are offered: pages
// turn by whole quarters and are never mirrored. GUI thread only.
class RotateView : public QWidget {
    Q_OBJECT

public:
    enum class Choices { any, quarterTurns };

    RotateView(QImage image, bool emphasisesFlip, std::function<void(double, bool, bool)> onApply,
               std::function<void()> onCancel, QWidget* parent = nullptr, Choices choices = Choices::any);

    RotateModel& model() { return m_model; }
    // After the model was changed directly.
    void refresh();
    void setSliderPosition(double degrees);

    QString resultText() const { return m_result->text(); }
    bool showsNote() const { return !m_note->isHidden(); }
    QPushButton* applyButton() const { return m_apply; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* turnLeftButton() const { return m_left; }
    QPushButton* turnRightButton() const { return m_right; }
    const std::vector<QPushButton*>& quarterButtons() const { return m_quarters; }
    QCheckBox* flipHorizontalBox() const { return m_flipH; }
    QCheckBox* flipVerticalBox() const { return m_flipV; }
    QSlider* slider() const { return m_slider; }
    // Whether the fine angles and the flips are offered (not for PDF pages).
    bool offersFineAngles() const { return !m_fineBox->isHidden(); }
    bool offersFlips() const { return !m_flipBox->isHidden(); }

private:
    QImage m_image;
    RotateModel m_model;
    std::function<void(double, bool, bool)> m_onApply;
    std::function<void()> m_onCancel;

    QWidget* m_preview = nullptr;
    QPushButton* m_left = nullptr;
    QPushButton* m_right = nullptr;
    std::vector<QPushButton*> m_quarters;
    QLabel* m_angle = nullptr;
    QSlider* m_slider = nullptr;
    QLabel* m_note = nullptr;
    QWidget* m_fineBox = nullptr;
    QWidget* m_flipBox = nullptr;
    QCheckBox* m_flipH = nullptr;
    QCheckBox* m_flipV = nullptr;
    QLabel* m_result = nullptr;
    QPushButton* m_apply = nullptr;
    QPushButton* m_cancel = nullptr;
};

}  // namespace kolvex
