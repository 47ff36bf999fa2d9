// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/anim/Animation.h"

namespace kolvex {

// Every timing constant of the Portal's animations and timers in one value, so the tuning
// window can change them live. Durations in seconds. Each derived animation has a plainer
// form for Reduce Motion, chosen by the `reduceMotion` field (the views set it from the
// desktop's setting; the defaults leave it off).
struct PortalMotion {
    double revealResponse = 0.26;
    double revealDamping = 0.78;
    double dismissDuration = 0.15;
    double ringResponse = 0.32;
    double ringDamping = 0.74;
    double ringStagger = 0.016;
    double hoverResponse = 0.17;
    double hoverDamping = 0.74;
    double commitResponse = 0.3;
    double commitDamping = 0.7;
    double collapseAfter = 7;
    double collapseDuration = 0.55;
    double minimumProgressDisplay = 0.6;
    double successLinger = 0.72;
    double failureLinger = 1.8;
    double swirlPeriod = 9;
    double nodeLean = 0.22;    // fraction of the pointer's distance
    double nodeLeanCap = 30;   // points
    bool reduceMotion = false;

    static const PortalMotion defaultMotion;

    Animation reveal() const;
    Animation dismiss() const;
    Animation ring() const;
    Animation ringChip(int index) const;
    Animation hover() const;
    Animation commit() const;
    Animation collapse() const;
    Animation swirl() const;
    double linger(bool succeeded) const { return succeeded ? successLinger : failureLinger; }

    // The same value with `reduceMotion` replaced.
    PortalMotion withReduceMotion(bool on) const;

    bool operator==(const PortalMotion&) const = default;
};

}  // namespace kolvex
