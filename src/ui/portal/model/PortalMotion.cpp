// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/model/PortalMotion.h"

namespace kolvex {

const PortalMotion PortalMotion::defaultMotion{};

Animation PortalMotion::reveal() const {
    return reduceMotion ? Animation::easeOut(0.12) : Animation::spring(revealResponse, revealDamping);
}

Animation PortalMotion::dismiss() const {
    return Animation::easeOut(reduceMotion ? 0.1 : dismissDuration);
}

Animation PortalMotion::ring() const {
    return reduceMotion ? Animation::easeOut(0.12) : Animation::spring(ringResponse, ringDamping);
}

Animation PortalMotion::ringChip(int index) const {
    return reduceMotion ? Animation::easeOut(0.12) : ring().delayed(ringStagger * index);
}

Animation PortalMotion::hover() const {
    return reduceMotion ? Animation::easeOut(0.09) : Animation::spring(hoverResponse, hoverDamping);
}

Animation PortalMotion::commit() const {
    return reduceMotion ? Animation::easeOut(0.14) : Animation::spring(commitResponse, commitDamping);
}

Animation PortalMotion::collapse() const {
    return reduceMotion ? Animation::easeOut(0.14) : Animation::timingCurve(0.4, 0.0, 0.9, 0.4, collapseDuration);
}

Animation PortalMotion::swirl() const {
    return Animation::linear(swirlPeriod).repeatingForever();
}

PortalMotion PortalMotion::withReduceMotion(bool on) const {
    PortalMotion copy = *this;
    copy.reduceMotion = on;
    return copy;
}

}  // namespace kolvex
