// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ParameterWait.h"

#include "ui/portal/model/PortalModel.h"

namespace kolvex {

ParameterWait::ParameterWait(PortalModel& model, std::function<void()> onWithdrawn)
    : m_model(model), m_onWithdrawn(std::move(onWithdrawn)) {
    m_waiting = m_model.phase().is(PortalPhase::Kind::needsParameters);
    connect(&m_model, &PortalModel::changed, this, [this](PortalModel::Field field) {
        if (field == PortalModel::Field::phase) phaseChanged();
    });
}

void ParameterWait::phaseChanged() {
    const bool waiting = m_model.phase().is(PortalPhase::Kind::needsParameters);
    const bool left = m_waiting && !waiting;
    m_waiting = waiting;
    if (left && !m_answering && m_onWithdrawn) m_onWithdrawn();
}

}  // namespace kolvex
