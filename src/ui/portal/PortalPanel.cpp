// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/PortalPanel.h"

#include <cmath>

#include <QGuiApplication>
#include <QRegion>
#include <QResizeEvent>
#include <QScreen>
#include <QWindow>

#include "core/services/Log.h"
#include "interaction/PortalPlacement.h"
#include "interaction/x11/Compositor.h"
#include "interaction/x11/PointerNudge.h"
#include "ui/anim/CubicBezier.h"
#include "ui/anim/ReduceMotion.h"
#include "ui/portal/PortalDropView.h"
#include "ui/portal/PortalView.h"
#include "ui/portal/model/PortalModel.h"

namespace kolvex {

using PortalScreens::containsPointer;
using PortalScreens::rootFrameOf;
using PortalScreens::upward;

namespace {

PortalPanel::Environment completed(PortalPanel::Environment env) {
    if (!env.scheduler) env.scheduler = std::make_shared<QtPortalScheduler>();
    if (!env.reduceMotion) env.reduceMotion = [] { return ReduceMotion::system(); };
    if (!env.rootHeight) env.rootHeight = &PortalScreens::virtualHeight;
    if (!env.screens) env.screens = [root = env.rootHeight] { return PortalScreens::all(root()); };
    if (!env.mainScreen) env.mainScreen = [root = env.rootHeight] { return PortalScreens::primary(root()); };
    if (!env.nudgePointer) env.nudgePointer = [](int dx, int dy) { nudgePointer(dx, dy); };
    if (!env.compositing) env.compositing = &compositingManagerRunning;
    if (!env.pointer) {
        env.pointer = []() -> std::optional<Point> {
            if (QGuiApplication::platformName() != QLatin1String("xcb")) return std::nullopt;
            const auto at = pointerPosition();
            if (!at) return std::nullopt;
            return Point{static_cast<double>(at->first), static_cast<double>(at->second)};
        };
    }
    return env;
}

bool contains(const Rect& r, Point p) {
    return p.x >= r.minX() && p.x < r.maxX() && p.y >= r.minY() && p.y < r.maxY();
}

constexpr Qt::WindowFlags kBaseFlags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                       Qt::X11BypassWindowManagerHint;

}  // namespace

PortalPanel::PortalPanel(PortalModel& model, Environment environment)
    : QWidget(nullptr, kBaseFlags | Qt::WindowDoesNotAcceptFocus),
      m_model(model),
      m_env(completed(std::move(environment))) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_NoSystemBackground);
    setWindowTitle(QStringLiteral("Kolvex Portal"));
    resize(static_cast<int>(kSide), static_cast<int>(kSide));

    auto* drop = new PortalDropView(model, this);
    drop->setDropGate([this] { return takesDrop(); });
    drop->setGeometry(rect());
    m_dropView = drop;
    m_view = new PortalView(model, drop);
    m_view->setGeometry(drop->rect());

    auto watch = [this](QScreen* screen) {
        connect(screen, &QScreen::geometryChanged, this, &PortalPanel::handleScreenChange);
        connect(screen, &QScreen::availableGeometryChanged, this, &PortalPanel::handleScreenChange);
    };
    for (QScreen* s : QGuiApplication::screens()) watch(s);
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::screenAdded, this, [this, watch](QScreen* s) {
            watch(s);
            handleScreenChange();
        });
        connect(app, &QGuiApplication::screenRemoved, this, [this] { handleScreenChange(); });
    }
}

PortalPanel::~PortalPanel() { *m_alive = false; }

void PortalPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_dropView) m_dropView->setGeometry(rect());
    if (m_view) m_view->setGeometry(rect());
    applyShape();
}

void PortalPanel::applyShape() {
    // A round window: drops outside the circle go to the window below. The window system keeps
    // the shape in its own pixels, which Qt works out from the device pixel ratio of the
    // screen the window is on at the time: on a head of another scale the same logical circle
    // is a different shape, so it is handed over again, even when Qt thinks it unchanged.
    const QRegion round(rect(), QRegion::Ellipse);
    setMask(round);
    if (QWindow* window = windowHandle(); window && testAttribute(Qt::WA_WState_Created)) window->setMask(round);
}

double PortalPanel::fadeOut() const { return m_env.reduceMotion() ? 0.1 : m_model.motion().dismissDuration; }

Rect PortalPanel::frame() const {
    const QRect g = geometry();
    return upward(g, m_env.rootHeight());
}

Rect PortalPanel::upwardRect(const QRect& topDown) const { return upward(topDown, m_env.rootHeight()); }

void PortalPanel::setFrame(Rect r) {
    const double top = m_env.rootHeight() - (r.origin.y + r.size.height);
    const QRect g(static_cast<int>(std::lround(r.origin.x)), static_cast<int>(std::lround(top)),
                  static_cast<int>(std::lround(r.size.width)), static_cast<int>(std::lround(r.size.height)));
    setGeometry(g);
    // A hidden widget only notes its new geometry for its next showing; the window itself
    // keeps the old frame meanwhile. Drag sources that read the windows' frames once when a
    // drag begins (Chromium) would then look for the Portal where it last was, a shrunken
    // square at the tray: the window gets its frame and its round shape at once.
    if (!isVisible() && testAttribute(Qt::WA_WState_Created)) {
        if (QWindow* window = windowHandle()) {
            window->setGeometry(g);
            window->setMask(QRegion(QRect(QPoint(0, 0), g.size()), QRegion::Ellipse));
        }
    }
}

void PortalPanel::applyFlags(bool keyboardDriven) {
    const Qt::WindowFlags wanted = keyboardDriven ? kBaseFlags : (kBaseFlags | Qt::WindowDoesNotAcceptFocus);
    if (windowFlags() == wanted) return;
    // Flags change only while hidden.
    const bool wasVisible = isVisible();
    if (wasVisible) hide();
    setWindowFlags(wanted);
    if (wasVisible) QWidget::show();
}

void PortalPanel::orderOut() {
    ++m_collapseGeneration;
    hide();
}

void PortalPanel::orderFrontRegardless() {
    ++m_collapseGeneration;  // a collapse under way stops here
    QWidget::show();
    letInputThrough(false);
    raise();
    // Changing the window flags makes a new window: watch whichever is current.
    if (QWindow* window = windowHandle(); window && window != m_watchedWindow) {
        window->installEventFilter(this);
        connect(window, &QWindow::screenChanged, this, [this] { applyShape(); });
        m_watchedWindow = window;
    }
    applyShape();
}

void PortalPanel::letInputThrough(bool through) {
    // An empty input shape: drag sources look past the window for their target while it fades.
    if (QWindow* window = windowHandle()) window->setFlag(Qt::WindowTransparentForInput, through);
}

void PortalPanel::show(bool) {
    // Without a compositor nothing is translucent: the disc is painted opaque instead.
    if (m_view) m_view->setOpaque(!m_env.compositing());
    m_model.setRevealed(true);
}

void PortalPanel::hideContent() { m_model.setRevealed(false); }

Point PortalPanel::fromRoot(Point root) const {
    const double height = m_env.rootHeight();
    const auto screens = m_env.screens();
    const PortalScreen* chosen = nullptr;
    for (const auto& screen : screens) {
        if (contains(rootFrameOf(screen, height), root)) {
            chosen = &screen;
            break;
        }
    }
    if (!chosen && !screens.empty()) chosen = &screens.front();
    if (!chosen) return upwardFromTopDown(root.x, root.y, height);
    const Rect native = rootFrameOf(*chosen, height);
    const double scale = chosen->scale > 0 ? chosen->scale : 1.0;
    const double left = chosen->frame.origin.x;
    const double top = height - chosen->frame.maxY();
    return upwardFromTopDown(left + (root.x - native.origin.x) / scale, top + (root.y - native.origin.y) / scale,
                             height);
}

void PortalPanel::reveal(const DragPayload& payload, PortalMode mode, Point at) {
    ++m_gestureGeneration;
    m_dropOwed = false;
    m_dropArrived = false;
    if (m_dropView) m_dropView->forgetEntry();
    m_isKeyboardDriven = false;
    m_model.setKeyboardDriven(false);
    m_model.beginGesture(payload, mode);
    applyFlags(false);
    setAnchor(at);
    orderFrontRegardless();
    show(false);
    nudge();
}

void PortalPanel::nudge() {
    // A drag source re-picks its target only when the pointer moves; two separate moves,
    // since one flush of both is ignored.
    m_env.nudgePointer(1, 0);
    std::weak_ptr<bool> alive = m_alive;
    m_env.scheduler->after(std::chrono::milliseconds(30), [this, alive] {
        if (alive.expired()) return;
        m_env.nudgePointer(-1, 0);
    });
}

Rect PortalPanel::keyboardArea() const {
    const auto usable = [](const Rect& r) { return r.size.width >= 1 && r.size.height >= 1; };
    const auto areaOf = [&usable](const PortalScreen& screen) -> std::optional<Rect> {
        if (usable(screen.visibleFrame)) return screen.visibleFrame;
        if (usable(screen.frame)) return screen.frame;
        return std::nullopt;
    };
    // Without an active monitor the window system still names a main screen, of no size at the
    // origin: centring on it would put the Portal off every screen.
    if (const auto main = m_env.mainScreen()) {
        if (auto area = areaOf(*main)) return *area;
    }
    for (const auto& screen : m_env.screens()) {
        if (auto area = areaOf(screen)) return *area;
    }
    // No screen has a size: the root window's top-left corner is still on the display.
    Log::interaction().warn("No screen has a size; the keyboard Portal opens at the display's top-left corner");
    return Rect{Point{0, m_env.rootHeight() - kSide}, Size{kSide, kSide}};
}

void PortalPanel::present(const DragPayload& payload, PortalMode mode) {
    ++m_gestureGeneration;
    m_dropOwed = false;
    m_dropArrived = false;
    m_isKeyboardDriven = true;
    m_model.beginGesture(payload, mode, PortalModel::GestureStart::handedOver);
    m_model.setKeyboardDriven(true);
    const Rect v = keyboardArea();
    const Point origin{v.origin.x + v.size.width / 2 - kSide / 2, v.origin.y + v.size.height / 2 - kSide / 2};
    m_anchor = origin;
    setFrame(Rect{origin, Size{kSide, kSide}});
    m_model.selectFirstTarget();
    applyFlags(true);
    orderFrontRegardless();
    claimKeyboard();
    show(true);
}

void PortalPanel::track(Point at, PortalMode mode) {
    m_model.apply(mode);
    m_model.updateCursor({at.x - (m_anchor.x + kSide / 2), at.y - (m_anchor.y + kSide / 2)});
}

void PortalPanel::followPointer() {
    if (m_isKeyboardDriven) return;
    if (const auto root = m_env.pointer()) {
        const Point at = fromRoot(*root);
        m_model.updateCursor({at.x - (m_anchor.x + kSide / 2), at.y - (m_anchor.y + kSide / 2)});
    }
}

void PortalPanel::setAnchor(Point at) {
    std::optional<PortalScreen> under;
    for (const auto& screen : m_env.screens()) {
        if (containsPointer(screen.frame, at)) {
            under = screen;
            break;
        }
    }
    Point origin = PortalPlacement::origin(at, Size{kSide, kSide}, under ? std::optional(under->visibleFrame) : std::nullopt);
    // Pushed against an edge by logical pixels, whose rounding can put its real ones past it.
    if (under) origin = PortalScreens::withinRealPixels(origin, kSide, *under, m_env.rootHeight());
    if (!under) {
        Log::interaction().warn("Cursor at {},{} is not inside any screen frame; Portal left unclamped",
                                static_cast<long>(at.x), static_cast<long>(at.y));
    }
    m_anchor = origin;
    setFrame(Rect{origin, Size{kSide, kSide}});
    m_model.anchorGesture({at.x - (origin.x + kSide / 2), at.y - (origin.y + kSide / 2)});
}

bool PortalPanel::takesDrop() {
    // Asked first: hearing of the release may bring the drag observer's dismiss along.
    const std::optional<bool> heldAtRelease =
        !m_isKeyboardDriven && m_triggerAtRelease ? m_triggerAtRelease() : std::nullopt;
    const bool owed = m_dropOwed;
    m_dropOwed = false;
    m_dropArrived = true;
    if (heldAtRelease == false) {
        // The user let the trigger go before the button: an ordinary drag, which a busy moment
        // kept aimed at the Portal. Refused, the source keeps its files where they are.
        Log::interaction().info("DROP refused: the button was let go without the trigger key");
        return false;
    }
    if (!m_model.isRevealed() && !owed) {
        Log::interaction().info("DROP on a hidden Portal refused");
        return false;
    }
    followPointer();
    return true;
}

void PortalPanel::dismiss(bool mayCommit) {
    if (!m_model.phase().is(PortalPhase::Kind::browsing)) return;
    std::weak_ptr<bool> alive = m_alive;
    // Released over the Portal with the trigger held: the source owes us its drop, which a busy
    // source or a busy desktop may deliver well after the grace. A source that has not heard us
    // accept may already have left the window at the release, withdrawing it: a release on a
    // chip after the source had offered us the drag owes it all the same.
    bool owed = false;
    bool onChip = false;
    if (mayCommit && m_model.isRevealed() && !m_isKeyboardDriven) {
        if (!m_model.isCursorInside()) followPointer();  // where the button went up
        onChip = m_model.selectedTarget().has_value();
        owed = !m_dropArrived && (m_model.isCursorInside() || (onChip && sourceOffered()));
    }
    m_dropOwed = owed;
    if (owed) Log::interaction().info("Drag released on the Portal; waiting for its drop");
    const auto grace = mayCommit ? std::chrono::milliseconds(120) : std::chrono::milliseconds(0);
    const unsigned long gesture = m_gestureGeneration;
    const double released = std::chrono::duration<double>(m_env.scheduler->now().time_since_epoch()).count();
    auto step = std::make_shared<std::function<void()>>();
    auto toldLate = std::make_shared<bool>(false);
    *step = [this, alive, mayCommit, onChip, gesture, released, toldLate,
             weakStep = std::weak_ptr<std::function<void()>>(step)] {
        if (alive.expired()) return;
        // A drop that committed during the grace keeps the Portal open.
        if (!m_model.phase().is(PortalPhase::Kind::browsing)) return;
        if (gesture != m_gestureGeneration) return;  // a new gesture has the Portal now
        // The source's offer may reach us only after the drag observer saw the release.
        if (onChip && !m_dropArrived && sourceOffered()) m_dropOwed = true;
        if (m_dropOwed) {
            // A source that leaves the window after the release has withdrawn its drop.
            const bool withdrawn = !m_model.isCursorInside();
            const double now = std::chrono::duration<double>(m_env.scheduler->now().time_since_epoch()).count();
            if (!withdrawn && now - released < kDropWait) {
                if (!*toldLate) Log::interaction().info("The drop is late; still waiting for it");
                *toldLate = true;
                if (auto again = weakStep.lock()) m_env.scheduler->after(std::chrono::milliseconds(40), [again] { (*again)(); });
                return;
            }
            m_dropOwed = false;
            if (withdrawn) {
                Log::interaction().info("The drag's source withdrew its drop after the release on the Portal");
            } else {
                Log::interaction().warn("No drop arrived {:.1f} s after the release on the Portal", kDropWait);
            }
            // The user let go on a chip with the trigger held: the drag's files go there.
            if (m_model.selectedTarget() && m_dropView && m_dropView->commitUndeliveredDrop()) return;
        }
        hideContent();
        if (!mayCommit) {
            // The drag goes on without us: its source still takes our window for its target
            // until the pointer moves, and a release during the fade would drop on it. Let
            // the input through at once and make the source look again.
            letInputThrough(true);
            nudge();
        }
        // A new reveal meanwhile keeps the window and the gesture.
        m_env.scheduler->after(PortalScheduler::seconds(fadeOut()), [this, alive] {
            if (alive.expired()) return;
            if (m_model.isRevealed() || !m_model.phase().is(PortalPhase::Kind::browsing)) return;
            orderOut();
        });
        m_env.scheduler->after(PortalScheduler::seconds(0.45), [this, alive] {
            if (alive.expired()) return;
            if (!m_model.isRevealed() && m_model.phase().is(PortalPhase::Kind::browsing)) m_model.clearGesture();
        });
    };
    m_env.scheduler->after(grace, [step] { (*step)(); });
}

void PortalPanel::finish() {
    m_model.resetToBrowsing();
    hideContent();
    std::weak_ptr<bool> alive = m_alive;
    m_env.scheduler->after(PortalScheduler::seconds(fadeOut()), [this, alive] {
        if (alive.expired()) return;
        if (m_model.isRevealed()) return;
        orderOut();
        m_model.setPayload(std::nullopt);
    });
}

void PortalPanel::collapse(std::optional<Rect> toward) {
    std::weak_ptr<bool> alive = m_alive;
    if (toward && !m_env.reduceMotion()) {
        const Rect target{Point{toward->origin.x + toward->size.width / 2 - 24,
                                toward->origin.y + toward->size.height / 2 - 24},
                          Size{48, 48}};
        ++m_collapseGeneration;
        const double start = std::chrono::duration<double>(m_env.scheduler->now().time_since_epoch()).count();
        const Rect from = frame();
        const double duration = m_model.motion().collapseDuration;
        collapseStep(start, from, target, duration);
        return;
    }
    m_env.scheduler->after(std::chrono::milliseconds(200), [this, alive] {
        if (alive.expired()) return;
        if (m_model.isCollapsed()) orderOut();
    });
}

void PortalPanel::collapseStep(double start, Rect from, Rect to, double duration) {
    const unsigned long generation = m_collapseGeneration;
    const double now = std::chrono::duration<double>(m_env.scheduler->now().time_since_epoch()).count();
    const double t = duration > 0 ? std::min((now - start) / duration, 1.0) : 1.0;
    const double k = CubicBezier(0.4, 0.0, 0.9, 0.4).value(t);
    auto mix = [k](double a, double b) { return a + (b - a) * k; };
    setFrame(Rect{Point{mix(from.origin.x, to.origin.x), mix(from.origin.y, to.origin.y)},
                  Size{mix(from.size.width, to.size.width), mix(from.size.height, to.size.height)}});
    if (t >= 1) {
        orderOut();
        setFrame(Rect{m_anchor, Size{kSide, kSide}});
        applyShape();
        return;
    }
    std::weak_ptr<bool> alive = m_alive;
    m_env.scheduler->after(std::chrono::milliseconds(16), [this, alive, start, from, to, duration, generation] {
        if (alive.expired()) return;
        if (generation != m_collapseGeneration) {  // ordered out or shown anew meanwhile
            setFrame(Rect{m_anchor, Size{kSide, kSide}});
            applyShape();
            return;
        }
        collapseStep(start, from, to, duration);
    });
}

void PortalPanel::handleScreenChange() {
    if (!isVisible()) return;
    const Point centre{m_anchor.x + kSide / 2, m_anchor.y + kSide / 2};
    for (const auto& screen : m_env.screens()) {
        if (contains(screen.frame, centre)) return;
    }
    Log::interaction().info("Portal anchor left the display layout; dismissing");
    m_model.resetToBrowsing();
    hideContent();
    orderOut();
}

}  // namespace kolvex
