// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include <QObject>

namespace kolvex {

class PortalModel;

// Watches the Portal model's wait for tool parameters and reports when the Portal stops
// waiting on its own — Escape, its Cancel, the tray's Cancel — so the sheet it waited for can
// go. The shell's own answers (apply, discard) run inside answering() and are not reported.
// GUI thread only.
class ParameterWait : public QObject {
    Q_OBJECT

public:
    ParameterWait(PortalModel& model, std::function<void()> onWithdrawn);

    // Runs one of the shell's answers to the wait.
    template <typename Call>
    void answering(Call call) {
        const bool before = m_answering;
        m_answering = true;
        call();
        m_answering = before;
    }

private:
    void phaseChanged();

    PortalModel& m_model;
    std::function<void()> m_onWithdrawn;
    bool m_waiting = false;
    bool m_answering = false;
};

}  // namespace kolvex
