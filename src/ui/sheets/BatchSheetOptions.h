#pragma once

#include <functional>

#include <QCheckBox>
#include <QLabel>
#include <QWidget>

#include "ui/sheets/BatchRun.h"

namespace kolvex {

// The row of batch checkboxes beside a sheet's buttons: "Set each file individually" when the
// sheet sets all files at once and may offer it; the step text and "Start converting as I go"
// during a walk. The two checkboxes never appear together. GUI thread only.
class BatchSheetOptions : public QWidget {
    Q_OBJECT

public:
    // `choice` is the sheet's; the row edits it and calls `onChange` after every edit.
    BatchSheetOptions(const BatchPrompt& prompt, BatchChoice* choice, std::function<void()> onChange,
                      QWidget* parent = nullptr);

    QCheckBox* individuallyBox() const { return m_individually; }
    QCheckBox* startsImmediatelyBox() const { return m_startsImmediately; }
    QLabel* positionLabel() const { return m_position; }

private:
    QCheckBox* m_individually = nullptr;
    QCheckBox* m_startsImmediately = nullptr;
    QLabel* m_position = nullptr;
};

}  // namespace kolvex
