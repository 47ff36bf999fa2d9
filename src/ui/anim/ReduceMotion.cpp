// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/anim/ReduceMotion.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gio/gio.h>

namespace kolvex {

namespace {

std::function<bool()>& overrideSource() {
    static std::function<bool()> source;
    return source;
}

bool gnomeAnimationsOff() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source) return false;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE);
    if (!schema) return false;
    bool off = false;
    if (g_settings_schema_has_key(schema, "enable-animations")) {
        GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
        off = !g_settings_get_boolean(settings, "enable-animations");
        g_object_unref(settings);
    }
    g_settings_schema_unref(schema);
    return off;
}

bool kdeAnimationsOff() {
    std::filesystem::path config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        config = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        config = std::filesystem::path(home) / ".config";
    } else {
        return false;
    }
    std::ifstream in(config / "kdeglobals");
    std::string line;
    bool inKde = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.front() == '[') {
            inKde = line.rfind("[KDE]", 0) == 0;
            continue;
        }
        if (inKde && line.rfind("AnimationDurationFactor=", 0) == 0) {
            const std::string value = line.substr(24);
            return value == "0" || value == "0.0" || value == "0.00";
        }
    }
    return false;
}

}  // namespace

bool ReduceMotion::system() {
    if (overrideSource()) return overrideSource()();
    using Clock = std::chrono::steady_clock;
    static Clock::time_point readAt{};
    static bool cached = false;
    static bool everRead = false;
    const auto now = Clock::now();
    if (!everRead || now - readAt > std::chrono::seconds(1)) {
        cached = gnomeAnimationsOff() || kdeAnimationsOff();
        readAt = now;
        everRead = true;
    }
    return cached;
}

void ReduceMotion::override(std::function<bool()> source) { overrideSource() = std::move(source); }

}  // namespace kolvex
