// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sheets/TimeField.h"

#include <algorithm>

#include <QEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QVBoxLayout>

#include "ui/sheets/MediaTime.h"
#include "ui/sheets/SheetKit.h"

namespace kolvex {

namespace {

// Return belongs to the field (it commits the time), not to the sheet's default button.
class TimeEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::ShortcutOverride) {
            const auto key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                event->accept();
                return true;
            }
        }
        return QLineEdit::event(event);
    }
};

}  // namespace

TimeField::TimeField(const QString& label, double seconds, double lower, double upper,
                     std::function<void(double)> onCommit, QWidget* parent)
    : QWidget(parent), m_edit(new TimeEdit), m_seconds(seconds), m_lower(lower), m_upper(upper),
      m_onCommit(std::move(onCommit)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(1);
    column->addWidget(sheetkit::label(label.toUpper(), 9, QFont::DemiBold, true));
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(sheetkit::points(12));
    m_edit->setFont(font);
    // Room for the longest time it shows, in the font it shows it in.
    m_edit->setFixedWidth(QFontMetrics(font).horizontalAdvance(QStringLiteral("00:00:00.00")) + 16);
    column->addWidget(m_edit);
    show(QString::fromStdString(MediaTime::format(seconds)));
    connect(m_edit, &QLineEdit::returnPressed, this, [this] {
        if (m_edit->text() == m_written) {
            if (onReturnUntouched) onReturnUntouched();
            return;
        }
        commit();
    });
    connect(m_edit, &QLineEdit::editingFinished, this, [this] {
        if (!m_edit->hasFocus()) commit();
    });
}

void TimeField::show(const QString& text) {
    m_written = text;
    m_edit->setText(text);
}

void TimeField::setSeconds(double seconds) {
    m_seconds = seconds;
    const bool typing = m_edit->hasFocus() && m_edit->text() != m_written;
    if (!typing) show(QString::fromStdString(MediaTime::format(seconds)));
}

void TimeField::setRange(double lower, double upper) {
    m_lower = lower;
    m_upper = upper;
}

void TimeField::commit() {
    // Text the field wrote itself is the bound time as shown, rounded to hundredths: committing it
    // would move the time the user never touched (and pull it to a keyframe).
    if (m_edit->text() == m_written) return;
    const auto value = MediaTime::parse(m_edit->text().toStdString());
    if (!value) {
        show(QString::fromStdString(MediaTime::format(m_seconds)));
        return;
    }
    const double clamped = std::min(m_upper, std::max(m_lower, *value));
    show(QString::fromStdString(MediaTime::format(clamped)));
    if (m_onCommit) m_onCommit(clamped);
}

}  // namespace kolvex
