// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>

namespace kolvex {

// Loads the engine modules: libraries beside the shared core library that hold an engine and the
// libraries only it needs, loaded when first used so that an idle process does not map them.
// Each is loaded at most once per process and never unloaded; a failure is remembered.
class ModuleLoader {
public:
    // Why a module could not be loaded, in words for the user and the log.
    class Unavailable : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    // The table a module returns (see core/modules/EngineModule.h), `Table::kName` naming the
    // module. Thread-safe; blocks while the module loads. Throws Unavailable.
    template <class Table>
    static const Table& table() {
        return *static_cast<const Table*>(entry(Table::kName));
    }

    // The table of module `name` (kolvex-engine-<name>.so). Throws Unavailable. With `bindNow`
    // a module not loaded yet has every function of it and its libraries bound as it loads, so
    // that one that could not run fails here, not at a call: for checking an installation.
    static const void* entry(const std::string& name, bool bindNow = false);
    // The files of the modules loaded so far and of every library loaded since the first of
    // them (what the engines brought in, directly or through libraries that load plugins of
    // their own when first used); those the program had loaded before are not among them.
    // Thread-safe.
    static std::set<std::string> libraryFiles();
    // The folder the modules are loaded from: that of the core library.
    static std::filesystem::path folder();
    static std::filesystem::path file(const std::string& name);
};

}  // namespace kolvex
