// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace kolvex {

// Opening Kolvex at login through an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/org.kolvex.Kolvex.desktop. Changing it never fights a state the
// user set: turning on when it is on, or off when it is off, touches nothing. Any thread; the
// callers use it on the GUI thread.
class LoginItem {
public:
    enum class Status { notRegistered, enabled, requiresApproval, notFound };

    // Where the entry lives and what it starts; injectable so tests never touch the home folder.
    struct Environment {
        std::filesystem::path configHome;                // $XDG_CONFIG_HOME, else ~/.config
        std::optional<std::filesystem::path> executable;  // this program; none when unknown

        // From the process's environment and /proc/self/exe.
        static Environment current();
    };

    // The autostart entry's path.
    static std::filesystem::path entryPath(const Environment& environment);
    // enabled when the entry exists and is neither hidden nor switched off; notFound when the
    // program's own path is unknown (an entry could not start it); else notRegistered.
    static Status status(const Environment& environment = Environment::current());
    // One line for "--login-status" and the logs.
    static std::string statusText(Status status);
    // Registers (writes the entry) or unregisters (removes it). Returns the error text when that
    // failed, none otherwise; nothing is done when the status already matches.
    static std::optional<std::string> set(bool on, const Environment& environment = Environment::current());

    // The entry's text for `executable`.
    static std::string desktopEntry(const std::filesystem::path& executable);
    // `path` quoted for an Exec line: in double quotes, with ", `, $ and \ escaped, then every
    // backslash doubled (the desktop file's own string escaping) and % doubled.
    static std::string quotedExec(const std::string& path);
};

}  // namespace kolvex
