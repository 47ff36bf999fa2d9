// SPDX-License-Identifier: GPL-3.0-or-later
#include "interaction/x11/DragObserver.h"

#include <string>

namespace kolvex {

DragObserver::DragObserver(TriggerModifier trigger, std::unique_ptr<DragInputSource> source, UserDefaults* defaults)
    : m_trigger(trigger),
      m_resolver(trigger, TriggerModifier::option),
      m_source(std::move(source)),
      m_defaults(defaults) {
    m_pollTimer.setInterval(pollInterval);
    m_pollTimer.setTimerType(Qt::PreciseTimer);
    // The timer dies with the observer, so the callback never outlives it.
    QObject::connect(&m_pollTimer, &QTimer::timeout, [this] { tick(); });
}

DragObserver::~DragObserver() {
    m_pollTimer.stop();
    if (m_source) m_source->close();
}

void DragObserver::start() {
    if (m_listening) return;
    m_listening = m_source && m_source->open([this](DragInputSource::Wake wake) { onWake(wake); });
    if (m_listening) {
        Log::interaction().info("DragObserver started, trigger={}", toString(m_trigger));
    } else {
        Log::interaction().error("Failed to install global mouse monitor");
    }
}

void DragObserver::stop() {
    if (m_listening) {
        m_source->close();
        m_listening = false;
    }
    m_pollTimer.stop();
    if (m_machine.phase == PortalTriggerMachine::Phase::revealed) emitSignal(Dismiss{false});
    m_machine.reset();
}

std::optional<bool> DragObserver::triggerHeldAtRelease() {
    if (!m_listening || !m_source) return std::nullopt;
    const auto modifiers = m_source->modifiersAtRelease();
    if (!modifiers) return std::nullopt;
    return m_resolver.mode(*modifiers).has_value();
}

void DragObserver::updateTrigger(TriggerModifier trigger) {
    m_trigger = trigger;
    m_resolver = ModeResolver::forTrigger(trigger);
    UserDefaults& defaults = m_defaults ? *m_defaults : UserDefaults::standard();
    defaults.set(kTriggerDefaultsKey, std::string(toString(trigger)));
    Log::interaction().info("Trigger changed to {}", toString(trigger));
}

void DragObserver::markPortalVisible() {
    if (!m_revealSignpost) return;
    m_revealSignpost->end();
    m_revealSignpost.reset();
}

void DragObserver::onWake(DragInputSource::Wake wake) {
    if (wake == DragInputSource::Wake::escape && m_listening && onEscape) onEscape();
    // A sample reads the devices itself; input seen while it runs needs no second one.
    if (m_inTick || !m_listening) return;
    if (m_pollTimer.isActive()) {
        // Keys and a changed drag are answered at once rather than at the next tick.
        if (wake != DragInputSource::Wake::pointer) tick();
        return;
    }
    beginPollingIfNeeded();
}

void DragObserver::beginPollingIfNeeded() {
    if (m_pollTimer.isActive()) return;
    // A drag that carries no files (or whose files are still being asked for) starts nothing;
    // the source wakes us again when it knows more.
    if (!currentPayload()) return;
    m_pollTimer.start();
    tick();
}

std::optional<DragPayload> DragObserver::currentPayload() {
    const auto drag = m_source->currentDrag();
    if (!drag) {
        m_dragVoid = m_source->lastDragCancelled();
        m_cachedPayload.reset();
        return std::nullopt;
    }
    m_lastChangeCount = drag->sessionID;
    m_dragVoid = drag->files == DragInputSource::Files::none;
    switch (drag->files) {
    case DragInputSource::Files::known: m_cachedPayload = drag->payload; break;
    case DragInputSource::Files::pending: m_cachedPayload = DragPayload::pendingFiles(); break;
    case DragInputSource::Files::reading:
    case DragInputSource::Files::none: m_cachedPayload.reset(); break;
    }
    if (m_cachedPayload) m_cachedPayload->sourceWindow = drag->sourceWindow;
    return m_cachedPayload;
}

void DragObserver::tick() {
    if (!m_listening || m_inTick) return;
    m_inTick = true;
    const auto payload = currentPayload();
    const auto sample = m_source->sample();
    const auto mode = m_resolver.mode(sample.modifiers);
    const auto action = m_machine.apply({payload.has_value(), mode.has_value(), sample.leftButtonDown, m_lastChangeCount});

    switch (action) {
    case PortalTriggerMachine::Action::reveal:
        if (payload && mode) {
            m_revealSignpost = std::make_unique<Log::Interval>("portal.reveal");
            Log::interaction().info("REVEAL {} mode={} targets-pending", payload->label(), toString(*mode));
            emitSignal(Reveal{*payload, *mode, sample.pointer});
        }
        break;
    case PortalTriggerMachine::Action::track:
        if (mode) emitSignal(Track{sample.pointer, *mode});
        break;
    case PortalTriggerMachine::Action::dismiss: {
        // A drag that was cancelled or carried no files never ends in a drop, nor does one whose
        // button went up after the trigger: a busy moment may show us both only now, together.
        const bool mayCommit = m_machine.phase == PortalTriggerMachine::Phase::idle && !m_dragVoid &&
                               !(sample.leftButtonDown == false && triggerHeldAtRelease() == false);
        Log::interaction().info("DISMISS mayCommit={}", mayCommit);
        emitSignal(Dismiss{mayCommit});
        break;
    }
    case PortalTriggerMachine::Action::none: break;
    }

    if (m_machine.phase == PortalTriggerMachine::Phase::idle) {
        m_pollTimer.stop();
        m_cachedPayload.reset();
    }
    m_inTick = false;
}

void DragObserver::emitSignal(const Signal& signal) {
    if (onSignal) onSignal(signal);
}

}  // namespace kolvex
