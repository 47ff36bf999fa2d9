// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sheets/ExtractAudioView.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "core/conversion/SizeEstimator.h"
#include "ui/sheets/MediaTime.h"
#include "ui/sheets/SheetKit.h"

namespace kolvex {

namespace {

// A row that takes clicks as a whole: a flat button laid out by its own layout, as tall as that
// layout needs (a button's own size leaves its children's descenders cut).
class RowButton : public QPushButton {
public:
    QSize sizeHint() const override { return fitted(QPushButton::sizeHint(), layout() ? layout()->sizeHint() : QSize()); }
    QSize minimumSizeHint() const override {
        return fitted(QPushButton::minimumSizeHint(), layout() ? layout()->minimumSize() : QSize());
    }

private:
    static QSize fitted(QSize own, QSize laidOut) { return own.expandedTo(laidOut).expandedTo(QSize(0, 44)); }
};

}  // namespace

ExtractAudioView::ExtractAudioView(std::string filename, std::vector<ExtractAudioOption> options,
                                   std::optional<double> durationSeconds, Measure measure,
                                   std::function<void(FormatID, std::optional<int64_t>)> onApply,
                                   std::function<void()> onCancel, QWidget* parent)
    : QWidget(parent), m_model(std::move(options)), m_measure(std::move(measure)), m_onApply(std::move(onApply)),
      m_onCancel(std::move(onCancel)) {
    auto* column = sheetkit::column(this, 460, 16);

    auto* header = new QVBoxLayout;
    header->setSpacing(3);
    header->addWidget(sheetkit::title("Extract audio from " + QString::fromStdString(filename), 420));
    m_subheading = sheetkit::label(
        durationSeconds ? QString::fromStdString(MediaTime::clock(*durationSeconds)) + " of audio."
                        : QString("Choose what to write."),
        11, QFont::Normal, true);
    header->addWidget(m_subheading);
    column->addLayout(header);

    auto* list = new QFrame;
    list->setObjectName("optionList");
    list->setStyleSheet("#optionList { background: rgba(128,128,128,15); border-radius: 9px; }");
    auto* rows = new QVBoxLayout(list);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    for (size_t i = 0; i < m_model.options.size(); ++i) {
        const auto& option = m_model.options[i];
        if (i > 0) {
            auto* divider = new QFrame;
            divider->setFrameShape(QFrame::HLine);
            rows->addWidget(divider);
        }
        auto* button = new RowButton;
        button->setFlat(true);
        button->setAutoDefault(false);
        auto* row = new QHBoxLayout(button);
        row->setContentsMargins(12, 9, 12, 9);
        row->setSpacing(10);
        auto* mark = sheetkit::label(QString(), 13);
        mark->setAttribute(Qt::WA_TransparentForMouseEvents);
        row->addWidget(mark);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(1);
        auto* titleRow = new QHBoxLayout;
        titleRow->setSpacing(6);
        auto* title = sheetkit::label(QString::fromStdString(option.title), 12.5, QFont::Medium);
        title->setAttribute(Qt::WA_TransparentForMouseEvents);
        titleRow->addWidget(title);
        if (option.isCopy) {
            auto* badge = sheetkit::label("ORIGINAL", 8, QFont::Bold);
            badge->setAttribute(Qt::WA_TransparentForMouseEvents);
            badge->setObjectName("originalBadge");
            badge->setStyleSheet("#originalBadge { padding: 1px 4px; border-radius: 6px; }");
            QPalette palette = badge->palette();
            palette.setColor(QPalette::WindowText, sheetkit::accent(this));
            badge->setPalette(palette);
            titleRow->addWidget(badge);
        }
        titleRow->addStretch(1);
        texts->addLayout(titleRow);
        auto* detail = sheetkit::label(QString::fromStdString(option.detail), 10.5, QFont::Normal, true);
        detail->setAttribute(Qt::WA_TransparentForMouseEvents);
        texts->addWidget(detail);
        row->addLayout(texts, 1);
        auto* size = sheetkit::label(QString(), 11, QFont::Normal, false, true);
        size->setAttribute(Qt::WA_TransparentForMouseEvents);
        row->addWidget(size);
        const std::string id = option.id();
        connect(button, &QPushButton::clicked, this, [this, id] { select(id); });
        rows->addWidget(button);
        m_rows.push_back(button);
        m_sizes.push_back(size);
        m_marks.push_back(mark);
    }
    column->addWidget(list);

    m_bitrateRow = new QWidget;
    auto* bitrates = new QHBoxLayout(m_bitrateRow);
    bitrates->setContentsMargins(0, 0, 0, 0);
    bitrates->setSpacing(6);
    bitrates->addWidget(sheetkit::label("Bitrate", 11, QFont::Normal, true));
    for (int kbps : ExtractAudioModel::bitrates()) {
        auto* b = new QPushButton(QString::number(kbps) + "k");
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, kbps] { setBitrate(kbps); });
        bitrates->addWidget(b);
        m_bitrates.push_back(b);
    }
    bitrates->addStretch(1);
    column->addWidget(m_bitrateRow);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    column->addWidget(divider);

    auto* footer = new QHBoxLayout;
    m_note = sheetkit::label(QString(), 10);
    footer->addWidget(m_note);
    footer->addStretch(1);
    m_cancel = new QPushButton("Cancel");
    m_cancel->setAutoDefault(false);
    m_extract = new QPushButton("Extract");
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_onCancel) m_onCancel();
    });
    connect(m_extract, &QPushButton::clicked, this, [this] {
        const auto* chosen = m_model.chosen();
        if (!chosen || !m_onApply) return;
        m_onApply(chosen->format, m_model.bitrateFor(*chosen));
    });
    footer->addWidget(m_cancel);
    footer->addWidget(m_extract);
    column->addLayout(footer);
    sheetkit::bindKeys(this, m_cancel, m_extract);
    refresh();
}

void ExtractAudioView::select(const std::string& id) {
    m_model.selection = id;
    refresh();
}

void ExtractAudioView::setBitrate(int kilobits) {
    m_model.bitrate = kilobits;
    refresh();
}

std::vector<QString> ExtractAudioView::sizeTexts() const {
    std::vector<QString> texts;
    for (auto* label : m_sizes) texts.push_back(label->text());
    return texts;
}

void ExtractAudioView::refresh() {
    const auto* chosen = m_model.chosen();
    for (size_t i = 0; i < m_model.options.size(); ++i) {
        const auto& option = m_model.options[i];
        const bool selected = chosen && chosen->id() == option.id();
        m_marks[i]->setText(selected ? "\u25C9" : "\u25CB");
        const auto bytes = m_measure ? m_measure(option, m_model.bitrateFor(option)) : std::nullopt;
        m_sizes[i]->setText(bytes ? QString::fromStdString(SizeEstimator::format(*bytes)) : QString());
        QPalette palette = m_sizes[i]->palette();
        palette.setColor(QPalette::WindowText, selected ? palette.color(QPalette::Text) : sheetkit::secondary(this));
        m_sizes[i]->setPalette(palette);
    }
    m_bitrateRow->setVisible(chosen && chosen->isLossy);
    for (size_t i = 0; i < m_bitrates.size(); ++i)
        sheetkit::setTinted(m_bitrates[i], ExtractAudioModel::bitrates()[i] == m_model.bitrate);
    QPalette palette = m_note->palette();
    switch (m_model.note()) {
    case ExtractAudioModel::Note::copy:
        m_note->setText("\u26A1 Nothing is re-encoded, so this is instant and lossless.");
        palette.setColor(QPalette::WindowText, sheetkit::secondary(this));
        break;
    case ExtractAudioModel::Note::lossy:
        m_note->setText("\u26A0 Re-encoding audio that is already compressed loses a little quality.");
        palette.setColor(QPalette::WindowText, QColor(255, 149, 0));
        break;
    case ExtractAudioModel::Note::lossless:
        m_note->setText("\u2713 Lossless, but larger than the original.");
        palette.setColor(QPalette::WindowText, sheetkit::secondary(this));
        break;
    case ExtractAudioModel::Note::rewritten:
        m_note->setText("\u2713 Lossless: the original sound, written again.");
        palette.setColor(QPalette::WindowText, sheetkit::secondary(this));
        break;
    case ExtractAudioModel::Note::kept:
        m_note->setText("\u2713 Lossless: every sample is kept.");
        palette.setColor(QPalette::WindowText, sheetkit::secondary(this));
        break;
    }
    m_note->setPalette(palette);
    m_extract->setEnabled(chosen != nullptr);
}

}  // namespace kolvex
