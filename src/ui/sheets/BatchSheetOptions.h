// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "ui/sheets/BatchRun.h"

class QBoxLayout;

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

// The end of a sheet's button row, shared by every sheet with a batch prompt. GUI thread only.
// Adds the batch checkboxes to `row` when the prompt shows them; nullptr otherwise.
BatchSheetOptions* addBatchOptions(QBoxLayout* row, const std::optional<BatchPrompt>& prompt, BatchChoice* choice,
                                   std::function<void()> onChange);
// The confirming button's title: the walk's advance label while batch options show, else `title`.
QString confirmTitle(const std::optional<BatchPrompt>& prompt, const QString& title);

struct SheetButtons {
    QPushButton* cancel = nullptr;
    QPushButton* confirm = nullptr;
};
// Adds "Cancel" (calling `onCancel`, in `context`) and the confirming button titled `title`.
SheetButtons addSheetButtons(QBoxLayout* row, QObject* context, const QString& title, std::function<void()> onCancel);

}  // namespace kolvex
