// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ui/anim/Animation.h"
#include "ui/portal/model/PortalMotion.h"
#include "ui/portal/model/PortalPhase.h"
#include "ui/portal/model/PortalRuns.h"
#include "ui/portal/model/PortalScheduler.h"

namespace kolvex {

// How the Portal shows the run it shows: the phase in its middle, the progress while a run
// runs, the final fill once it ended, the outcome and how long it lingers (a failure whose
// details are read stays up), the collapse into the tray of a long run, and the tray's report
// of what runs. It owns that state; the run flow tells it when. GUI thread only.
class PortalDisplay {
public:
    using Clock = PortalScheduler::Clock;

    // The state it owns, as it tells its observers which part changed.
    enum class Field { phase, showingDetails, isCollapsed, collapseProgress };

    // What it needs from around it; every callback is called on the GUI thread and may be unset.
    struct Surroundings {
        std::shared_ptr<PortalScheduler> scheduler;
        std::function<void(Field, const Animation&)> changed;
        std::function<PortalMotion()> motion;
        std::function<bool()> reduceMotion;
        std::function<std::string()> filesLabel;  // the gesture's files, for the tray's label
        std::function<void()> finished;           // the Portal should close
        std::function<void()> collapsed;          // the shown run moved to the tray
        std::function<void(std::optional<double>, std::optional<std::string>)> progressChanged;
    };

    PortalDisplay(PortalRuns& runs, Surroundings surroundings);
    ~PortalDisplay();
    PortalDisplay(const PortalDisplay&) = delete;
    PortalDisplay& operator=(const PortalDisplay&) = delete;

    const PortalPhase& phase() const { return m_phase; }
    bool showingDetails() const { return m_showingDetails; }
    bool isCollapsed() const { return m_isCollapsed; }
    double collapseProgress() const { return m_collapseProgress; }

    // A new phase; details belong to the one failure they were opened for.
    void setPhase(PortalPhase phase, const Animation& animation = Animation::none());
    void setShowingDetails(bool showing);

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
    // The pointer moved away: a failure kept up for its details closes now.
    void pointerLeft();

private:
    void startProgress();
    void scheduleCollapse(const std::string& label);
    void showOutcome(const PortalTask& task, const PortalPhase& outcome);
    void setCollapsed(bool collapsed, double progress, const Animation& animation = Animation::none());
    void finished() const;
    PortalMotion motion() const;
    bool reduceMotion() const;

    PortalRuns& m_runs;
    Surroundings m_env;
    PortalPhase m_phase;
    bool m_showingDetails = false;
    bool m_isCollapsed = false;
    double m_collapseProgress = 0;
    std::optional<PortalTask> m_collapseTask;
    bool m_heldOpen = false;  // a failure outlived its linger while its details were read
    // Work it scheduled finds it gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace kolvex
