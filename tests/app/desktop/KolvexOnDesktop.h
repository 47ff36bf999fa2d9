// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include "DesktopHarness.h"
#include "support/TempDir.h"

// The kolvex program on a desktop of its own (see DesktopHarness.h): started with its log on
// stderr, read back line by line, and its windows looked up by title.
namespace kolvex::testing {

// Reads the program's log (on stderr) until `text` appears or the time is up.
bool waitForLog(QProcess& process, std::string& log, const std::string& text, std::chrono::milliseconds timeout);

// Reads the program's log until `text` appears at `seen` or after it, and moves `seen` past it;
// false when the time is up or the program ended first.
bool awaitLog(QProcess& process, std::string& log, std::size_t& seen, const std::string& text,
              std::chrono::milliseconds timeout);
// The same for `text` written at `from` or later in the log (a line that came after an action).
bool waitForLogAfter(QProcess& process, std::string& log, size_t from, const std::string& text,
                     std::chrono::milliseconds timeout);

// The environment of the program on `xvfb` with its home in `home` and its log on stderr.
QProcessEnvironment kolvexEnvironment(const Xvfb& xvfb, const TempDir& home);

// Starts a session bus of its own in `bus` and points `environment` at it: a second launch finds
// the first copy through it. Returns false when the bus gave no address.
bool startSessionBus(QProcess& bus, QProcessEnvironment& environment);

void startKolvex(QProcess& kolvex, const Xvfb& xvfb, const TempDir& home, const QStringList& arguments);

// Starts a system tray (trayer, at the screen's top right) on `xvfb` and waits until it holds
// the tray's selection, where a tray icon looks for it. Empty when it is up; else why not.
std::string startTray(QProcess& tray, const Xvfb& xvfb, const QProcessEnvironment& environment);

// Runs a program to its end and gives its standard output; empty when it failed to run.
std::string outputOf(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
                     int* exitCode = nullptr);

// Where a window with this title is on the screen, by xwininfo; none when it is not viewable.
struct WindowFrame {
    int x = 0, y = 0, width = 0, height = 0;
};
std::optional<WindowFrame> viewableWindow(const QProcessEnvironment& environment, const QString& title);
inline bool windowIsViewable(const QProcessEnvironment& environment, const QString& title) {
    return viewableWindow(environment, title).has_value();
}

// How many Right presses take the keyboard Portal from its first chip to the chip `label`, by
// the latest ring the log shows with that chip ("RING n=3 r=118 PDF@90°(…) Markdown@…"); none
// when no ring in the log has it.
std::optional<int> chipSteps(const std::string& log, const std::string& label);

// Polls `done` every 100 ms until it holds or the time is up (stretched by `patience`).
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// Answers the question titled `title` with `key`, pressed whenever the question, still up, has
// the keyboard, until `answered` holds or the time is up. A key typed the moment a window comes
// up can be lost while the window manager settles the keyboard (it may pass through a window of
// its own and back). Returns `answered()`.
bool answerWithKey(FakeInput& input, const std::string& key, const std::string& title,
                   const std::function<bool()>& answered, std::chrono::milliseconds timeout);

// Moves the pointer a pixel to and fro, as a resting hand does, until `ringHasChips` holds. A
// source that did not answer the drag observer in time names its files to the Portal when the
// pointer next moves over it, and the ring is then built again. Returns `ringHasChips()`.
bool nudgeUntilTheRingFills(FakeInput& input, const std::function<bool()>& ringHasChips);

}  // namespace kolvex::testing
