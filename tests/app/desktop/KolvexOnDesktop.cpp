// SPDX-License-Identifier: GPL-3.0-or-later
#include "KolvexOnDesktop.h"

#include <algorithm>
#include <sstream>

#include <QThread>

namespace kolvex::testing {

using namespace std::chrono_literals;

bool waitForLog(QProcess& process, std::string& log, const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + patience(timeout);
    while (log.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= 0ms || process.state() == QProcess::NotRunning) return false;
        process.waitForReadyRead(static_cast<int>(std::min(left, 200ms).count()));
        log += process.readAllStandardError().toStdString();
    }
    return true;
}

bool awaitLog(QProcess& process, std::string& log, std::size_t& seen, const std::string& text,
              std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + patience(timeout);
    while (true) {
        const auto at = log.find(text, seen);
        if (at != std::string::npos) {
            seen = at + text.size();
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline || process.state() == QProcess::NotRunning) return false;
        process.waitForReadyRead(100);
        log += process.readAllStandardError().toStdString();
    }
}

bool waitForLogAfter(QProcess& process, std::string& log, size_t from, const std::string& text,
                     std::chrono::milliseconds timeout) {
    std::size_t seen = from;
    return awaitLog(process, log, seen, text, timeout);
}

QProcessEnvironment kolvexEnvironment(const Xvfb& xvfb, const TempDir& home) {
    auto environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : desktopEnvironment(xvfb.display(), home.path()))
        environment.insert(QString::fromStdString(name), QString::fromStdString(value));
    environment.insert("XDG_DOWNLOAD_DIR", QString::fromStdString((home / "Downloads").string()));
    environment.insert("KOLVEX_LOG", "stderr");
    return environment;
}

void startKolvex(QProcess& kolvex, const Xvfb& xvfb, const TempDir& home, const QStringList& arguments) {
    kolvex.setProcessEnvironment(kolvexEnvironment(xvfb, home));
    kolvex.setProcessChannelMode(QProcess::SeparateChannels);
    kolvex.start(KOLVEX_PROGRAM, arguments);
}

std::string startTray(QProcess& tray, const Xvfb& xvfb, const QProcessEnvironment& environment) {
    tray.setProcessEnvironment(environment);
    tray.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120"});
    if (!tray.waitForStarted(10000)) return "trayer did not start";
    FakeInput display(xvfb.display());
    if (!display.ok()) return "no connection to " + xvfb.display();
    if (!waitFor([&] { return display.selectionHasOwner("_NET_SYSTEM_TRAY_S0"); }, 10s))
        return "trayer never took the system tray's selection";
    return {};
}

bool startSessionBus(QProcess& bus, QProcessEnvironment& environment) {
    bus.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    if (!bus.waitForReadyRead(10000)) return false;
    const QString address = QString::fromUtf8(bus.readLine()).trimmed();
    if (address.isEmpty()) return false;
    environment.insert("DBUS_SESSION_BUS_ADDRESS", address);
    return true;
}

std::string outputOf(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
                     int* exitCode) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(15000)) return {};
    if (exitCode) *exitCode = process.exitCode();
    return process.readAllStandardOutput().toStdString();
}

std::optional<WindowFrame> viewableWindow(const QProcessEnvironment& environment, const QString& title) {
    int code = -1;
    const std::string info = outputOf("xwininfo", {"-name", title}, environment, &code);
    if (code != 0 || info.find("Map State: IsViewable") == std::string::npos) return std::nullopt;
    WindowFrame frame;
    std::istringstream lines(info);
    for (std::string line; std::getline(lines, line);) {
        const auto value = [&line] { return std::stoi(line.substr(line.find(':') + 1)); };
        if (line.find("Absolute upper-left X:") != std::string::npos) frame.x = value();
        if (line.find("Absolute upper-left Y:") != std::string::npos) frame.y = value();
        if (line.find("Width:") != std::string::npos) frame.width = value();
        if (line.find("Height:") != std::string::npos) frame.height = value();
    }
    return frame;
}

std::optional<int> chipSteps(const std::string& log, const std::string& label) {
    const auto chip = log.rfind(" " + label + "@");
    if (chip == std::string::npos) return std::nullopt;
    const auto ring = log.rfind("RING n=", chip);
    if (ring == std::string::npos || log.find('\n', ring) < chip) return std::nullopt;
    return static_cast<int>(std::count(log.begin() + static_cast<long>(ring), log.begin() + static_cast<long>(chip), '@'));
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + patience(timeout);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QThread::msleep(100);
    }
    return true;
}

bool answerWithKey(FakeInput& input, const std::string& key, const std::string& title,
                   const std::function<bool()>& answered, std::chrono::milliseconds timeout) {
    for (int presses = 0; presses < 10 && !answered(); ++presses) {
        if (!waitFor([&] { return answered() || input.focusedWindowTitle() == title; }, 10s) || answered()) break;
        input.key(key, true);
        input.key(key, false);
        input.sync();
        // Taken once the question leaves the keyboard; pressed again if it has it back.
        (void)waitFor([&] { return answered() || input.focusedWindowTitle() != title; }, 2s);
    }
    return waitFor(answered, timeout);
}

bool nudgeUntilTheRingFills(FakeInput& input, const std::function<bool()>& ringHasChips) {
    for (int step = 0; step < 20; ++step) {
        if (ringHasChips()) return true;
        input.moveBy(step % 2 == 0 ? 1 : -1, 0);
        input.sync();
        waitFor(ringHasChips, std::chrono::milliseconds(500));
    }
    return ringHasChips();
}

}  // namespace kolvex::testing
