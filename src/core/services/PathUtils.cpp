// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/PathUtils.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>
#include <vector>

namespace kolvex::paths {

namespace {
std::string stripTrailingSeparators(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}
}  // namespace

std::string lastComponent(const fs::path& path) {
    std::string s = stripTrailingSeparators(path.string());
    if (s == "/" || s.empty()) return s;
    auto slash = s.rfind('/');
    return slash == std::string::npos ? s : s.substr(slash + 1);
}

fs::path deletingLastComponent(const fs::path& path) {
    std::string s = stripTrailingSeparators(path.string());
    if (s == "/" || s.empty()) return fs::path(s);
    auto slash = s.rfind('/');
    if (slash == std::string::npos) return fs::path();
    if (slash == 0) return fs::path("/");
    return fs::path(s.substr(0, slash));
}

std::string extension(const fs::path& path) {
    std::string name = lastComponent(path);
    auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return "";
    return name.substr(dot + 1);
}

std::string stem(const fs::path& path) {
    std::string name = lastComponent(path);
    std::string ext = extension(path);
    if (ext.empty()) return name;
    return name.substr(0, name.size() - ext.size() - 1);
}

bool isDirectory(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

fs::path absolute(const fs::path& path) {
    std::error_code ec;
    fs::path abs = fs::absolute(path, ec);
    if (ec) abs = path;
    return abs.lexically_normal();
}

bool withinSystemLimits(const fs::path& path, std::size_t room) {
    const std::string text = paths::absolute(path).string();
    if (text.size() > kMaxPathBytes || kMaxPathBytes - text.size() < room) return false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('/', start);
        if (end == std::string::npos) end = text.size();
        if (end - start > kMaxNameBytes) return false;
        start = end + 1;
    }
    return true;
}

std::string asciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

fs::path xdgBaseFolder(const char* variable, const char* fallback,
                       const std::function<const char*(const char*)>& environment) {
    auto env = [&](const char* name) -> std::string {
        const char* value = environment ? environment(name) : std::getenv(name);
        return value ? std::string(value) : std::string();
    };
    const std::string xdg = env(variable);
    if (!xdg.empty() && xdg.front() == '/') return fs::path(xdg);
    std::string home = env("HOME");
    if (home.empty()) {
        struct passwd entry {};
        struct passwd* found = nullptr;
        std::vector<char> buffer(16384);
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
            home = found->pw_dir;
    }
    return fs::path(home.empty() ? "/" : home) / fallback;
}

}  // namespace kolvex::paths
