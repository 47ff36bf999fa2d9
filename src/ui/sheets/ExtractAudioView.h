// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "core/format/Identifiers.h"
#include "ui/sheets/MediaSheetModels.h"

namespace kolvex {

// The extract-audio tool's sheet: one row per output choice (keep the original track, or
// re-encode), a size per row, the bit rates of a lossy row, a note on the trade-off, Cancel and
// Extract. `measure` must be cheap: it runs for every row on every change. GUI thread only.
class ExtractAudioView : public QWidget {
    Q_OBJECT

public:
    using Measure = std::function<std::optional<int64_t>(const ExtractAudioOption&, std::optional<int64_t> bitrate)>;

    ExtractAudioView(std::string filename, std::vector<ExtractAudioOption> options,
                     std::optional<double> durationSeconds, Measure measure,
                     std::function<void(FormatID, std::optional<int64_t>)> onApply, std::function<void()> onCancel,
                     QWidget* parent = nullptr);

    void select(const std::string& id);
    void setBitrate(int kilobits);

    const ExtractAudioModel& model() const { return m_model; }
    QString subheading() const { return m_subheading->text(); }
    QString noteText() const { return m_note->text(); }
    // The size shown on each row ("" when none).
    std::vector<QString> sizeTexts() const;
    bool showsBitrates() const { return !m_bitrateRow->isHidden(); }
    const std::vector<QPushButton*>& rowButtons() const { return m_rows; }
    const std::vector<QPushButton*>& bitrateButtons() const { return m_bitrates; }
    QPushButton* extractButton() const { return m_extract; }
    QPushButton* cancelButton() const { return m_cancel; }

private:
    void refresh();

    ExtractAudioModel m_model;
    Measure m_measure;
    std::function<void(FormatID, std::optional<int64_t>)> m_onApply;
    std::function<void()> m_onCancel;

    QLabel* m_subheading = nullptr;
    std::vector<QPushButton*> m_rows;
    std::vector<QLabel*> m_sizes;
    std::vector<QLabel*> m_marks;
    QWidget* m_bitrateRow = nullptr;
    std::vector<QPushButton*> m_bitrates;
    QLabel* m_note = nullptr;
    QPushButton* m_extract = nullptr;
    QPushButton* m_cancel = nullptr;
};

}  // namespace kolvex
