// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "ui/portal/model/PortalPhase.h"
#include "ui/portal/model/PortalScheduler.h"

namespace kolvex {

class PortalModel;

// How the Portal shows the run it shows: the progress while it runs, the final fill once it
// ended, the outcome and how long it lingers (a failure whose details are read stays up), the
// collapse into the tray of a long run, and the tray's report of what runs. It acts on the
// model's published state; the run flow tells it when. GUI thread only.
class PortalDisplay {
public:
    using Clock = PortalScheduler::Clock;

    explicit PortalDisplay(PortalModel& model) : m(model) {}
    ~PortalDisplay();
    PortalDisplay(const PortalDisplay&) = delete;
    PortalDisplay& operator=(const PortalDisplay&) = delete;

    // A run took the Portal: "Converting 0%", the progress ticker, and the collapse armed for
    // `label` (the target's).
    void showRun(const std::string& label);
    // The shown run's job ended with `outcome`: the fill finishes from where it stands (at least
    // the least display time after `started`), then the outcome is shown.
    void finishShownRun(const PortalTask& task, Clock::time_point started, const PortalPhase& outcome);
    // An outcome with no run behind it (a sheet that could not be prepared, a drop the user
    // declined): shown at once, lingering as any.
    void showOutcomeNow(const PortalPhase& outcome);
    // The shown run left the Portal: the collapse is disarmed and undone.
    void stopShowingRun();
    // Ends a collapse (the Portal returns to its size) and tells the tray.
    void endCollapse();
    // The tray's progress and label: the shown fraction while the Portal shows a conversion,
    // else the mean of all runs; (none, none) when nothing runs.
    void reportToMenuBar();
    // The phase changes: details belong to the one failure they were opened for.
    void phaseChanging();
    // The pointer moved away: a failure kept up for its details closes now.
    void pointerLeft();

private:
    void startProgress();
    void scheduleCollapse(const std::string& label);
    void showOutcome(const PortalTask& task, const PortalPhase& outcome);

    PortalModel& m;
    std::optional<PortalTask> m_collapseTask;
    bool m_heldOpen = false;  // a failure outlived its linger while its details were read
};

}  // namespace kolvex
