// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/LoginItem.h"

namespace kolvex {

class FormatRegistry;

// The two command-line self-checks: they print a short report to standard output and end the
// process without any interface.
class SelfCheck {
public:
    // What a command line asks for: "--login-status" wins over "--verify-resources"; only exact
    // arguments count.
    enum class Request { none, loginStatus, verifyResources };
    static Request requestFor(const std::vector<std::string>& arguments);

    // Prints "  open at login: <status text>". Always 0.
    static int printLoginStatus(std::ostream& out, LoginItem::Status status);

    // What the resource check looks at; the defaults are the real lookups.
    struct Resources {
        std::function<std::optional<std::filesystem::path>(const std::string&)> bundle;
        std::function<FormatRegistry()> loadRegistry;  // throws on failure
        std::function<bool()> markLoads;
        std::function<bool()> licencesPresent;
        // Why each engine module that does not load fails (loads them all); none: not checked.
        std::function<std::vector<std::string>()> unavailableEngines;

        static Resources current();
    };
    // Checks the resource bundles, the format manifest, the branding mark, the licence notices
    // and the engine modules; prints one "error: " line per failure. 0 when all passed, else 1.
    static int verifyResources(std::ostream& out, const Resources& resources = Resources::current());

    // How an error thrown by the manifest load reads in reports and logs.
    static std::string describe(const std::exception& error);
};

}  // namespace kolvex
