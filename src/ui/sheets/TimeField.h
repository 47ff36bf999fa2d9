// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include <QLineEdit>
#include <QWidget>

namespace kolvex {

// A labelled time entry: shows the bound time as "m:ss.hh", takes seconds, m:s or h:m:s, and on
// Return or when it loses focus clamps the typed time into its range and reports it. An
// unreadable entry reverts to the bound time; text the user has not changed commits nothing. While the user types, a change of the bound time
// from elsewhere does not overwrite the text. GUI thread only.
class TimeField : public QWidget {
    Q_OBJECT

public:
    TimeField(const QString& label, double seconds, double lower, double upper, std::function<void(double)> onCommit,
              QWidget* parent = nullptr);

    // The bound time changed (the caller owns it).
    void setSeconds(double seconds);
    void setRange(double lower, double upper);
    // Applies the text the user typed: reverts it, or clamps, shows and reports it. Nothing when
    // the text is still what the field last showed.
    void commit();
    // Stops reporting: the owner is going away (losing focus while it is torn down commits).
    void detach() {
        m_onCommit = nullptr;
        onReturnUntouched = nullptr;
    }
    // Return in the field with nothing typed: there is no time to take, so the owner may treat it
    // as its own Return.
    std::function<void()> onReturnUntouched;

    QLineEdit* editor() const { return m_edit; }
    QString text() const { return m_edit->text(); }

private:
    void show(const QString& text);

    QLineEdit* m_edit;
    double m_seconds;
    double m_lower;
    double m_upper;
    QString m_written;
    std::function<void(double)> m_onCommit;
};

}  // namespace kolvex
