// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/LoginItem.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include <unistd.h>

#include "core/services/Uuid.h"

namespace kolvex {

namespace fs = std::filesystem;

LoginItem::Environment LoginItem::Environment::current() {
    Environment environment;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config && fs::path(config).is_absolute()) {
        environment.configHome = config;
    } else {
        const char* home = std::getenv("HOME");
        environment.configHome = fs::path(home && *home ? home : "/") / ".config";
    }
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error && !self.empty()) environment.executable = self;
    return environment;
}

fs::path LoginItem::entryPath(const Environment& environment) {
    return environment.configHome / "autostart" / "org.kolvex.Kolvex.desktop";
}

namespace {

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// The entry is active unless it says Hidden=true or X-GNOME-Autostart-enabled=false in its
// main group.
bool entryIsActive(const fs::path& path) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    bool inMainGroup = false;
    bool active = true;
    while (std::getline(in, line)) {
        line = trimmed(line);
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup) continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = trimmed(line.substr(0, equals));
        const std::string value = trimmed(line.substr(equals + 1));
        if (key == "Hidden" && value == "true") active = false;
        if (key == "X-GNOME-Autostart-enabled" && value == "false") active = false;
    }
    return active;
}

}  // namespace

LoginItem::Status LoginItem::status(const Environment& environment) {
    if (!environment.executable) return Status::notFound;
    std::error_code error;
    const fs::path entry = entryPath(environment);
    if (fs::is_regular_file(entry, error) && entryIsActive(entry)) return Status::enabled;
    return Status::notRegistered;
}

std::string LoginItem::statusText(Status status) {
    switch (status) {
    case Status::notRegistered: return "not registered — Kolvex will not open at login";
    case Status::enabled: return "enabled — your desktop will open Kolvex at login";
    case Status::requiresApproval: return "needs approval in your desktop's settings for startup applications";
    case Status::notFound: return "not found — your desktop cannot see this copy of the app";
    }
    return "unknown";
}

std::string LoginItem::quotedExec(const std::string& path) {
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    std::string escaped;
    for (char c : quoted) {
        if (c == '\\') escaped += "\\\\";
        else if (c == '%') escaped += "%%";
        else escaped += c;
    }
    return escaped;
}

std::string LoginItem::desktopEntry(const fs::path& executable) {
    std::ostringstream text;
    text << "[Desktop Entry]\n"
         << "Type=Application\n"
         << "Name=Kolvex\n"
         << "Comment=Convert files where they lie\n"
         << "Exec=" << quotedExec(executable.string()) << "\n"
         << "Icon=org.kolvex.Kolvex\n"
         << "Terminal=false\n"
         << "X-GNOME-Autostart-enabled=true\n";
    return text.str();
}

std::optional<std::string> LoginItem::set(bool on, const Environment& environment) {
    const Status current = status(environment);
    const fs::path entry = entryPath(environment);
    std::error_code error;
    if (!on) {
        if (current != Status::enabled) return std::nullopt;
        if (!fs::remove(entry, error) && error) return "Could not remove " + entry.string() + ": " + error.message();
        return std::nullopt;
    }
    if (current == Status::enabled) return std::nullopt;
    if (!environment.executable) return std::string("The path of this copy of Kolvex is unknown");

    fs::create_directories(entry.parent_path(), error);
    if (error) return "Could not create " + entry.parent_path().string() + ": " + error.message();
    // Written beside the entry and renamed over it, so a half-written entry never exists.
    const fs::path temporary = entry.parent_path() / (".org.kolvex.Kolvex.desktop." + Uuid::random().toString());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << desktopEntry(*environment.executable);
        out.flush();
        if (!out) {
            out.close();
            fs::remove(temporary, error);
            return "Could not write " + entry.string();
        }
    }
    fs::rename(temporary, entry, error);
    if (error) {
        const std::string message = "Could not write " + entry.string() + ": " + error.message();
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return message;
    }
    return std::nullopt;
}

}  // namespace kolvex
