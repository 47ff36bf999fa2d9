// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include <QTimer>

#include "core/format/RingTarget.h"
#include "core/services/Log.h"
#include "core/services/TriggerModifier.h"
#include "core/services/UserDefaults.h"
#include "interaction/DragPayload.h"
#include "interaction/Geometry.h"
#include "interaction/ModeResolver.h"
#include "interaction/PortalTriggerMachine.h"
#include "interaction/x11/DragInputSource.h"

namespace kolvex {

// Watches file drags anywhere on screen together with the modifier keys and the left button,
// and tells the Portal when to appear, follow the pointer and go. Costs nothing while no file
// drag is under way: input wakes it, and only then does it sample the devices 120 times a
// second until its trigger machine is idle again.
//
// GUI thread only. Signals are delivered synchronously from inside the sample that decided
// them, so the Portal reacts within the same event-loop pass.
class DragObserver {
public:
    struct Reveal {
        DragPayload payload;  // may be pending: the files then come with the drop
        PortalMode mode;
        Point at;  // the X root window's pixels, y down (see DragInputSource::Sample)
    };
    struct Track {
        Point at;  // as Reveal::at
        PortalMode mode;
    };
    struct Dismiss {
        // Set when the drag itself ended (a drop on the Portal may be under way); clear when
        // only the trigger was let go, or the drag was cancelled or turned out to carry no files.
        bool mayCommit = false;
    };
    using Signal = std::variant<Reveal, Track, Dismiss>;

    static constexpr std::chrono::milliseconds pollInterval{8};  // ≈ 1/120 s
    static constexpr const char* kTriggerDefaultsKey = "PortalTriggerModifier";

    // `defaults` receives the trigger key when it changes; the standard store when none.
    DragObserver(TriggerModifier trigger, std::unique_ptr<DragInputSource> source, UserDefaults* defaults = nullptr);
    ~DragObserver();
    DragObserver(const DragObserver&) = delete;
    DragObserver& operator=(const DragObserver&) = delete;

    std::function<void(const Signal&)> onSignal;
    // Escape was pressed anywhere on the desktop, whatever window has the keyboard.
    std::function<void()> onEscape;

    // Starts listening for input (once). Logs the failure and stays idle when the window
    // system cannot be reached.
    void start();
    // Stops listening and polling; a showing Portal gets one dismiss without commit.
    void stop();
    // Changes the trigger key; the next sample uses it. Stores its raw value.
    void updateTrigger(TriggerModifier trigger);
    // Ends the "portal.reveal" interval; called once the Portal window is on screen.
    void markPortalVisible();

    // Whether the trigger key was held at the instant the left button was let go, the instant
    // the user dropped: a drop whose button went up without it belongs to the window below,
    // however late the Portal hears of it. None while the button is down or before its release
    // has arrived.
    std::optional<bool> triggerHeldAtRelease();

    TriggerModifier trigger() const { return m_trigger; }
    const ModeResolver& resolver() const { return m_resolver; }
    const PortalTriggerMachine& machine() const { return m_machine; }
    bool isListening() const { return m_listening; }
    bool isPolling() const { return m_pollTimer.isActive(); }

private:
    void onWake(DragInputSource::Wake wake);
    void beginPollingIfNeeded();
    std::optional<DragPayload> currentPayload();
    void tick();
    void emitSignal(const Signal& signal);

    TriggerModifier m_trigger;
    ModeResolver m_resolver;
    PortalTriggerMachine m_machine;
    std::unique_ptr<DragInputSource> m_source;
    UserDefaults* m_defaults = nullptr;
    bool m_listening = false;
    QTimer m_pollTimer;
    std::int64_t m_lastChangeCount = -1;
    std::optional<DragPayload> m_cachedPayload;
    // Set while the current drag's files are known not to exist or the drag was cancelled:
    // its end is then no drop.
    bool m_dragVoid = false;
    std::unique_ptr<Log::Interval> m_revealSignpost;
    bool m_inTick = false;
};

}  // namespace kolvex
