// SPDX-License-Identifier: GPL-3.0-or-later
// The Portal on a real X display, with simulated conversions and a one-chip ring, for the
// whole-desktop tests. Prints "ready", then a line for each step a test waits for:
// "frame <left> <top> <width> <height>" (the window in Qt's logical pixels, y down) just before
// "revealed", "selected <label>", "converting", "succeeded <name>", "failed <message>", "closed",
// "unrevealed" when the Portal starts to go, "painted" when its window is first drawn on the
// screen after it shows, "gone" when its window is off the screen, and
// "focus portal" or "focus elsewhere" when the keyboard comes to the Portal or leaves it.
// With "--present FILE" it opens the keyboard-driven Portal for that file at once; with
// "--chips N" the ring has N chips (PNG, WEBP, TIFF, GIF…, clockwise from the top); with
// "--fade SECONDS" the Portal takes that long to fade out; with "--stall FIFO" the byte 's'
// written to that FIFO makes the host say "stalled" and hold its GUI thread (as a first reveal
// on a busy machine does) until the byte 'g' follows, and the byte 'l' or 'd' turns the Portal's
// theme light or dark as the Appearance setting does (no palette change comes with it), saying
// "theme light" or "theme dark"; "p X Y" and a newline on it open the Portal as a drag observed
// at the root window's pixel (X, Y) opens it, and 'h' closes it; with "--theme light" it starts
// in the light theme.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include <QApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <QWindow>

#include "ui/portal/PortalController.h"
#include "ui/portal/PortalPanel.h"
#include "ui/portal/PortalStyle.h"

namespace {

using namespace kolvex;

class Chips final : public RingTargetProviding {
public:
    explicit Chips(int count) : m_count(count) {}
    std::vector<RingTarget> targets(const std::vector<std::filesystem::path>& urls, PortalMode) const override {
        if (urls.empty()) return {};
        static const char* const kFormats[] = {"png", "webp", "tiff", "gif", "bmp", "heic", "avif", "jxl"};
        std::vector<RingTarget> ring;
        for (int i = 0; i < m_count && i < 8; ++i) {
            const std::string id = kFormats[i];
            RingTarget target;
            target.id = "format." + id;
            target.label = QString::fromStdString(id).toUpper().toStdString();
            target.formatID = FormatID(id);
            target.fileExtension = id;
            ring.push_back(target);
        }
        return ring;
    }
    std::optional<FormatCategory> category(const std::vector<std::filesystem::path>&) const override {
        return FormatCategory::image;
    }
    int categoryCount(const std::vector<std::filesystem::path>&) const override { return 1; }

private:
    int m_count = 1;
};

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Says "painted" when the window it watches is first drawn after it shows (it is mapped and
// exposed by then), and "gone" when it is hidden.
class HideWatcher final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide) {
            m_painted = false;
            say("gone");
        }
        if (event->type() == QEvent::Paint && !m_painted) {
            m_painted = true;
            say("painted");
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_painted = false;
};

// Holds the GUI thread while told to; every event meanwhile waits in the queues.
class Staller final {
public:
    std::function<void(int, int)> place;
    std::function<void()> close;

    explicit Staller(const std::string& fifo) {
        m_in = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        // A writer of our own keeps the FIFO from reading as ended between the test's writes.
        m_keepOpen = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (m_in < 0) return;
        m_notifier = std::make_unique<QSocketNotifier>(m_in, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { readCommands(); });
    }

private:
    void readCommands() {
        char command = 0;
        while (::read(m_in, &command, 1) == 1) {
            if (command == 'l' || command == 'd') {
                PortalStyle::setTheme(command == 'l' ? PortalStyle::Theme::light : PortalStyle::Theme::dark);
                say(command == 'l' ? "theme light" : "theme dark");
                continue;
            }
            if (command == 'p') {
                // "p X Y\n", written at once: the rest is there to read.
                std::string text;
                ::fcntl(m_in, F_SETFL, O_RDONLY);
                while (::read(m_in, &command, 1) == 1 && command != '\n') text += command;
                ::fcntl(m_in, F_SETFL, O_RDONLY | O_NONBLOCK);
                int x = 0, y = 0;
                if (std::sscanf(text.c_str(), "%d %d", &x, &y) == 2 && place) place(x, y);
                continue;
            }
            if (command == 'h') {
                if (close) close();
                continue;
            }
            if (command != 's') continue;
            say("stalled");
            ::fcntl(m_in, F_SETFL, O_RDONLY);  // blocking, until told to go on
            while (::read(m_in, &command, 1) == 1 && command != 'g') {
            }
            ::fcntl(m_in, F_SETFL, O_RDONLY | O_NONBLOCK);
        }
    }
    int m_in = -1;
    int m_keepOpen = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    int chips = 1;
    if (const auto at = args.indexOf(QStringLiteral("--chips")); at >= 0 && at + 1 < args.size())
        chips = args[at + 1].toInt();
    if (const auto at = args.indexOf(QStringLiteral("--theme")); at >= 0 && at + 1 < args.size())
        PortalStyle::setTheme(args[at + 1] == QStringLiteral("light") ? PortalStyle::Theme::light : PortalStyle::Theme::dark);
    PortalController controller(TriggerModifier::shift, std::make_shared<Chips>(chips), nullptr);
    PortalModel& model = controller.model();
    if (const auto at = args.indexOf(QStringLiteral("--fade")); at >= 0 && at + 1 < args.size()) {
        PortalMotion motion = model.motion();
        motion.dismissDuration = args[at + 1].toDouble();
        model.setMotion(motion);
    }
    std::unique_ptr<Staller> staller;
    if (const auto at = args.indexOf(QStringLiteral("--stall")); at >= 0 && at + 1 < args.size())
        staller = std::make_unique<Staller>(args[at + 1].toStdString());
    if (staller) {
        staller->place = [&controller](int x, int y) {
            const auto file = std::filesystem::path("/tmp/photo.jpg");
            PortalPanel& panel = controller.panel();
            panel.reveal(DragPayload({file}), PortalMode::convert,
                         panel.fromRoot(Point{static_cast<double>(x), static_cast<double>(y)}));
        };
        staller->close = [&controller] { controller.panel().finish(); };
    }
    HideWatcher hideWatcher;
    controller.panel().installEventFilter(&hideWatcher);
    QObject::connect(&model, &PortalModel::changed, [&](PortalModel::Field field) {
        using F = PortalModel::Field;
        if (field == F::isRevealed && model.isRevealed()) {
            const QRect g = controller.panel().geometry();
            say("frame " + std::to_string(g.x()) + " " + std::to_string(g.y()) + " " + std::to_string(g.width()) + " " +
                std::to_string(g.height()));
            say("revealed");
        }
        if (field == F::isRevealed && !model.isRevealed()) say("unrevealed");
        if (field == F::selectedIndex && model.selectedTarget()) say("selected " + model.selectedTarget()->label);
        if (field == F::phase) {
            const auto& phase = model.phase();
            if (phase.is(PortalPhase::Kind::converting) && phase.fraction == 0) say("converting");
            if (phase.is(PortalPhase::Kind::succeeded)) say("succeeded " + phase.name);
            if (phase.is(PortalPhase::Kind::failed)) say("failed " + phase.message);
        }
        if (field == F::payload && !model.payload()) say("closed");
        if (field == F::payload && model.payload()) {
            say(model.payload()->pending ? "payload pending" : "payload " + model.payload()->label());
        }
        if (field == F::isCursorInside) say(model.isCursorInside() ? "inside" : "outside");
    });
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged, [&](QWindow* window) {
        const bool portal = window && window == controller.panel().windowHandle();
        say(portal ? "focus portal" : "focus elsewhere");
    });
    controller.start();
    say("ready");
    if (const auto at = args.indexOf(QStringLiteral("--present")); at >= 0 && at + 1 < args.size()) {
        controller.present({std::filesystem::path(args[at + 1].toStdString())}, PortalMode::convert);
    }
    return app.exec();
}
