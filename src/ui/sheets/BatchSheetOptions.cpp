// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sheets/BatchSheetOptions.h"

#include <QHBoxLayout>

#include "ui/sheets/SheetKit.h"

namespace kolvex {

BatchSheetOptions::BatchSheetOptions(const BatchPrompt& prompt, BatchChoice* choice, std::function<void()> onChange,
                                     QWidget* parent)
    : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(14);
    auto smallFont = [](QWidget* w) {
        QFont f = w->font();
        f.setPointSizeF(sheetkit::points(11));
        w->setFont(f);
    };
    if (!prompt.position) {
        if (prompt.offersIndividual) {
            m_individually = new QCheckBox("Set each file individually");
            smallFont(m_individually);
            m_individually->setChecked(choice->setEachIndividually);
            connect(m_individually, &QCheckBox::toggled, this, [choice, onChange](bool on) {
                choice->setEachIndividually = on;
                if (onChange) onChange();
            });
            row->addWidget(m_individually);
        }
    } else {
        m_position = sheetkit::label(QString::fromStdString(*prompt.position), 11, QFont::Medium, true);
        row->addWidget(m_position);
        m_startsImmediately = new QCheckBox("Start converting as I go");
        smallFont(m_startsImmediately);
        m_startsImmediately->setToolTip(
            "Each file converts as soon as you finish with it, so the batch is nearly done by the time you reach the "
            "last one.");
        choice->startsImmediately = prompt.startsImmediately;
        m_startsImmediately->setChecked(choice->startsImmediately);
        connect(m_startsImmediately, &QCheckBox::toggled, this, [choice, onChange](bool on) {
            choice->startsImmediately = on;
            if (onChange) onChange();
        });
        row->addWidget(m_startsImmediately);
    }
    row->addStretch(1);
}

BatchSheetOptions* addBatchOptions(QBoxLayout* row, const std::optional<BatchPrompt>& prompt, BatchChoice* choice,
                                   std::function<void()> onChange) {
    if (!showsBatchOptions(prompt)) return nullptr;
    auto* options = new BatchSheetOptions(*prompt, choice, std::move(onChange));
    row->addWidget(options);
    return options;
}

QString confirmTitle(const std::optional<BatchPrompt>& prompt, const QString& title) {
    return showsBatchOptions(prompt) ? QString::fromStdString(prompt->advanceLabel) : title;
}

SheetButtons addSheetButtons(QBoxLayout* row, QObject* context, const QString& title, std::function<void()> onCancel) {
    SheetButtons buttons;
    buttons.cancel = new QPushButton("Cancel");
    buttons.cancel->setAutoDefault(false);
    buttons.confirm = new QPushButton(title);
    QObject::connect(buttons.cancel, &QPushButton::clicked, context, [onCancel = std::move(onCancel)] {
        if (onCancel) onCancel();
    });
    row->addWidget(buttons.cancel);
    row->addWidget(buttons.confirm);
    return buttons;
}

}  // namespace kolvex

