// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SelfCheck.h"

#include <algorithm>

#include "core/format/FormatRegistry.h"
#include "core/modules/EngineModules.h"
#include "core/services/ResourceBundle.h"
#include "ui/windows/ApplicationResources.h"

namespace kolvex {

SelfCheck::Request SelfCheck::requestFor(const std::vector<std::string>& arguments) {
    const auto has = [&](const char* flag) { return std::find(arguments.begin(), arguments.end(), flag) != arguments.end(); };
    if (has("--login-status")) return Request::loginStatus;
    if (has("--verify-resources")) return Request::verifyResources;
    return Request::none;
}

int SelfCheck::printLoginStatus(std::ostream& out, LoginItem::Status status) {
    out << "  open at login: " << LoginItem::statusText(status) << "\n";
    out.flush();
    return 0;
}

SelfCheck::Resources SelfCheck::Resources::current() {
    Resources resources;
    resources.bundle = [](const std::string& name) { return ResourceBundle::named(name); };
    resources.loadRegistry = [] { return FormatRegistry::loadBundled(); };
    resources.markLoads = [] { return !ApplicationResources::mark().isNull(); };
    resources.licencesPresent = [] { return ApplicationResources::licencesFile().has_value(); };
    resources.unavailableEngines = [] { return EngineModules::unavailable(); };
    return resources;
}

std::string SelfCheck::describe(const std::exception& error) {
    if (const auto* load = dynamic_cast<const FormatRegistry::LoadError*>(&error)) return load->description();
    return error.what();
}

int SelfCheck::verifyResources(std::ostream& out, const Resources& resources) {
    std::vector<std::string> failures;
    if (!resources.bundle("Kolvex_KolvexCore")) failures.push_back("Kolvex_KolvexCore.bundle not found");
    if (!resources.bundle("Kolvex_KolvexUI")) failures.push_back("Kolvex_KolvexUI.bundle not found");
    try {
        const FormatRegistry registry = resources.loadRegistry();
        const auto count = registry.allFormats().size();
        if (count < 2) throw FormatRegistry::LoadError::manifestMissing();
        out << "  format manifest: " << count << " formats\n";
    } catch (const std::exception& error) {
        failures.push_back("FormatRegistry.loadBundled failed: " + describe(error));
    }
    if (!resources.markLoads()) failures.push_back("the branding mark did not load");
    if (!resources.licencesPresent()) failures.push_back("LICENSES.md is missing — the About window would be empty");
    if (resources.unavailableEngines) {
        for (auto& reason : resources.unavailableEngines()) failures.push_back(std::move(reason));
    }

    for (const auto& failure : failures) out << "error: " << failure << "\n";
    if (failures.empty()) out << "  every bundled resource loaded\n";
    out.flush();
    return failures.empty() ? 0 : 1;
}

}  // namespace kolvex
