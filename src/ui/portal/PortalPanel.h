// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QPointer>
#include <QWidget>
#include <QWindow>

#include "core/format/RingTarget.h"
#include "interaction/DragPayload.h"
#include "interaction/Geometry.h"
#include "ui/portal/PortalDropView.h"
#include "ui/portal/PortalScreens.h"
#include "ui/portal/model/PortalScheduler.h"

namespace kolvex {

class PortalModel;
class PortalView;

// The Portal's window: a round, frameless, always-on-top, override-redirect tool window of
// 480 × 480 that appears under the pointer during a drag without taking the focus from the
// program dragged from, or centred on the main screen and focused when opened from the
// keyboard. It decides when the window shows and goes: the reveal, the dismiss rules after
// the drag (with a 0.12 s grace for a drop), the finish after a conversion, the collapse into
// the tray and screen changes. All positions are global with y upwards. GUI thread.
class PortalPanel : public QWidget {
    Q_OBJECT

public:
    static constexpr double kSide = 480;
    // How long a drop owed after a release on the Portal is waited for.
    static constexpr double kDropWait = 3.0;

    // What the panel takes from its surroundings; the defaults are the real ones.
    struct Environment {
        std::shared_ptr<PortalScheduler> scheduler;              // default: QtPortalScheduler
        std::function<bool()> reduceMotion;                      // default: the desktop's setting
        std::function<std::vector<PortalScreen>()> screens;      // default: Qt's screens, in its order
        std::function<std::optional<PortalScreen>()> mainScreen; // default: the primary screen
        std::function<double()> rootHeight;                      // default: the virtual desktop's height
        std::function<void(int, int)> nudgePointer;              // default: XTest
        std::function<bool()> compositing;                       // default: a compositing manager runs
        // Where the pointer is now, in the root window's pixels (y down). Default: asked of the
        // X server on xcb, none elsewhere.
        std::function<std::optional<Point>()> pointer;
    };

    explicit PortalPanel(PortalModel& model, Environment environment = {});
    ~PortalPanel() override;

    // The one conversion from the pointer as the window system reports it (the X root
    // window's pixels, y down) to the Portal's coordinates (Qt's logical pixels, y up), which
    // placement, clamping, the ring and the selection all work in. A point off every screen
    // is carried over by the first screen's scale.
    Point fromRoot(Point root) const;

    void reveal(const DragPayload& payload, PortalMode mode, Point at);
    void present(const DragPayload& payload, PortalMode mode);
    void track(Point at, PortalMode mode);
    // Points the selection where the pointer is at this moment. The drag observer's poll and a
    // source's drag positions both trail a quick hand, so a drop asks the window system itself
    // before it takes the chip.
    void followPointer();
    void dismiss(bool mayCommit);
    // Whether the drop arriving now may convert; logs why not. A drop is owed to the Portal
    // once the button was let go over it with the trigger held, however late the drop comes;
    // one whose button went up without the trigger is refused, whatever the Portal shows yet.
    bool takesDrop();
    // Whether the trigger key was held as the button was let go, as the drag observer saw it;
    // none while unknown. Set by the controller.
    void setTriggerAtRelease(std::function<std::optional<bool>()> held) { m_triggerAtRelease = std::move(held); }
    void finish();
    // Shrinks into `toward` (the tray icon's frame, y upwards) or, without one, only hides.
    void collapse(std::optional<Rect> toward);

    void orderOut();
    void orderFrontRegardless();

    bool isKeyboardDriven() const { return m_isKeyboardDriven; }
    void setKeyboardDriven(bool keyboardDriven) { m_isKeyboardDriven = keyboardDriven; }
    Point anchor() const { return m_anchor; }
    // The window's frame, y upwards (it shrinks during a collapse).
    Rect frame() const;
    // A rectangle in Qt's screen coordinates (y down, such as the tray icon's geometry) in
    // the Portal's upward ones.
    Rect upwardRect(const QRect& topDown) const;
    PortalDropView* dropView() const { return m_dropView; }
    PortalView* portalView() const { return m_view; }

    // Called when the screens change; public for the screen notifications and tests.
    void handleScreenChange();
    // Escape was pressed somewhere on the desktop. A keyboard-driven Portal that does not have
    // the keyboard (the user clicked another window) still closes on it while it waits for a
    // choice; one that has the keyboard handles its own keys.
    void escapePressedAnywhere();

protected:
    void resizeEvent(QResizeEvent* event) override;
    // A click on the keyboard-driven Portal takes the keyboard back: the window system gives
    // an override-redirect window no focus of its own accord.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setAnchor(Point at);
    // Where the keyboard Portal is centred: the main screen's usable area, or the first screen
    // that has one, or else the display's top-left corner.
    Rect keyboardArea() const;
    void nudge();
    void letInputThrough(bool through);
    void setFrame(Rect frame);
    // The round shape for the window's size and its screen's scale.
    void applyShape();
    void show(bool keyboardDriven);
    void hideContent();
    double fadeOut() const;
    void applyFlags(bool keyboardDriven);
    void collapseStep(double start, Rect from, Rect to, double duration);
    void takeKeyboard();
    // Takes the keyboard, and asks again while the window manager has not given it.
    void claimKeyboard();
    void askForKeyboardAgain(unsigned long gesture, int triesLeft);
    bool hasKeyboard() const;
    // The drag's source has offered it to the Portal's window in this gesture.
    bool sourceOffered() const { return m_dropView && m_dropView->sourceEntered(); }

    PortalModel& m_model;
    Environment m_env;
    QPointer<PortalDropView> m_dropView;
    PortalView* m_view = nullptr;
    Point m_anchor;
    bool m_isKeyboardDriven = false;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    unsigned long m_collapseGeneration = 0;
    QPointer<QWindow> m_watchedWindow;  // the window whose clicks are watched
    std::function<std::optional<bool>()> m_triggerAtRelease;
    // The button was let go over the Portal with the trigger held: its drop is on its way.
    bool m_dropOwed = false;
    bool m_dropArrived = false;  // a drop came in this gesture, taken or not
    unsigned long m_gestureGeneration = 0;  // counts reveals and presents
};

}  // namespace kolvex
