// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/PortalController.h"

#include <QTimer>

#include "interaction/x11/X11DragInputs.h"

namespace kolvex {

PortalController::PortalController(TriggerModifier trigger, std::shared_ptr<const RingTargetProviding> provider,
                                   std::shared_ptr<ConversionCoordinator> coordinator)
    : m_observer(std::make_unique<DragObserver>(trigger, std::make_unique<X11DragInputs>())),
      m_model(std::make_unique<PortalModel>(std::move(provider), std::move(coordinator))),
      m_panel(std::make_unique<PortalPanel>(*m_model)) {
    wire();
}

PortalController::PortalController(TriggerModifier trigger, std::unique_ptr<DragInputSource> source,
                                   std::shared_ptr<const RingTargetProviding> provider,
                                   std::shared_ptr<PortalConversionService> service,
                                   PortalModel::Environment modelEnvironment,
                                   PortalPanel::Environment panelEnvironment, UserDefaults* defaults)
    : m_observer(std::make_unique<DragObserver>(trigger, std::move(source), defaults)),
      m_model(std::make_unique<PortalModel>(std::move(provider), std::move(service), std::move(modelEnvironment))),
      m_panel(std::make_unique<PortalPanel>(*m_model, std::move(panelEnvironment))) {
    wire();
}

PortalController::~PortalController() {
    *m_alive = false;
    m_observer->onSignal = nullptr;
    m_observer->onEscape = nullptr;
    m_model->onFinished = nullptr;
    m_model->onCollapse = nullptr;
    m_model->onAsking = nullptr;
}

void PortalController::wire() {
    std::weak_ptr<bool> alive = m_alive;
    m_model->onFinished = [this, alive] {
        if (!alive.expired()) m_panel->finish();
    };
    // A question asked in front of the user: the Portal, above every window, steps aside until
    // the run starts or the drop's outcome is shown.
    m_model->onAsking = [this, alive](bool asking) {
        if (alive.expired()) return;
        if (asking) m_panel->orderOut();
        else setPortalVisible(true);
    };
    m_model->onCollapse = [this, alive] {
        if (alive.expired()) return;
        std::optional<Rect> rect;
        if (collapseTarget) rect = collapseTarget();
        m_panel->collapse(rect);
    };
    m_observer->onSignal = [this, alive](const DragObserver::Signal& signal) {
        if (!alive.expired()) handle(signal);
    };
    m_observer->onEscape = [this, alive] {
        if (!alive.expired()) m_panel->escapePressedAnywhere();
    };
    m_panel->setTriggerAtRelease([this, alive]() -> std::optional<bool> {
        if (alive.expired()) return std::nullopt;
        return m_observer->triggerHeldAtRelease();
    });
}

void PortalController::handle(const DragObserver::Signal& signal) {
    if (const auto* reveal = std::get_if<DragObserver::Reveal>(&signal)) {
        m_panel->reveal(reveal->payload, reveal->mode, m_panel->fromRoot(reveal->at));
        // The reveal interval ends once the window has been put on screen.
        std::weak_ptr<bool> alive = m_alive;
        QTimer::singleShot(0, this, [this, alive] {
            if (!alive.expired()) m_observer->markPortalVisible();
        });
    } else if (const auto* track = std::get_if<DragObserver::Track>(&signal)) {
        m_panel->track(m_panel->fromRoot(track->at), track->mode);
    } else if (const auto* dismiss = std::get_if<DragObserver::Dismiss>(&signal)) {
        m_panel->dismiss(dismiss->mayCommit);
    }
}

void PortalController::start() {
    m_panel->orderOut();
    m_panel->ensurePolished();  // laid out once ahead of the first reveal
    m_observer->start();
}

void PortalController::stop() {
    m_observer->stop();
    m_model->resetToBrowsing();
    m_panel->orderOut();
}

void PortalController::updateTrigger(TriggerModifier trigger) { m_observer->updateTrigger(trigger); }

void PortalController::present(const std::vector<std::filesystem::path>& files, PortalMode mode) {
    if (files.empty()) return;
    m_panel->present(DragPayload(files), mode);
}

void PortalController::replaceEngines(std::shared_ptr<const RingTargetProviding> provider,
                                      std::shared_ptr<ConversionCoordinator> coordinator) {
    m_model->replaceProvider(std::move(provider), std::move(coordinator));
}

void PortalController::setPortalVisible(bool visible) {
    if (!visible) {
        m_panel->orderOut();
        return;
    }
    const auto kind = m_model->phase().kind;
    if (kind != PortalPhase::Kind::browsing || m_model->isRevealed()) m_panel->orderFrontRegardless();
}

}  // namespace kolvex
