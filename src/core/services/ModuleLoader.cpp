// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/ModuleLoader.h"

#include <link.h>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include <dlfcn.h>
#include <fmt/format.h>

#include "core/BuildInfo.h"
#include "core/services/Log.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

struct Loaded {
    const void* table = nullptr;
    std::string failure;
};

using ModuleEntry = const void* (*)(const char* version);

// The files of every shared object the process has loaded.
std::set<std::string> loadedFiles() {
    std::set<std::string> files;
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            if (info->dlpi_name && info->dlpi_name[0] == '/') static_cast<std::set<std::string>*>(data)->insert(info->dlpi_name);
            return 0;
        },
        &files);
    return files;
}

std::mutex mutex;
// Guarded by `mutex`.
std::map<std::string, Loaded>& modules() {
    static std::map<std::string, Loaded> loaded;
    return loaded;
}
// The shared objects the program had loaded before its first module, guarded by `mutex`.
std::optional<std::set<std::string>>& programFiles() {
    static std::optional<std::set<std::string>> files;
    return files;
}

Loaded open(const std::string& name, bool bindNow) {
    const fs::path path = ModuleLoader::file(name);
    const auto failed = [&](const std::string& why) {
        return Loaded{nullptr, fmt::format("Kolvex could not load its {} engine ({}): {}. Reinstalling Kolvex should "
                                           "repair it.",
                                           name, path.string(), why)};
    };
    // Functions are bound when first called, as at a program's start: binding every function of
    // libvips or FFmpeg and all they link up front takes longer than the first job itself. (The
    // modules are linked with no undefined symbols of their own.)
    void* handle = ::dlopen(path.c_str(), (bindNow ? RTLD_NOW : RTLD_LAZY) | RTLD_LOCAL);
    if (!handle) {
        const char* error = ::dlerror();
        return failed(error ? error : "unknown error");
    }
    auto entry = reinterpret_cast<ModuleEntry>(::dlsym(handle, "kolvex_engine_module"));
    if (!entry) return failed("it is not a Kolvex engine module");
    const void* table = entry(buildinfo::kVersion);
    if (!table) return failed(fmt::format("it belongs to another version than this Kolvex ({})", buildinfo::kVersion));
    return Loaded{table, {}};
}

}  // namespace

const void* ModuleLoader::entry(const std::string& name, bool bindNow) {
    std::lock_guard lock(mutex);
    auto found = modules().find(name);
    if (found == modules().end()) {
        Log::Interval interval("Loading the " + name + " engine");
        if (!programFiles()) programFiles() = loadedFiles();
        found = modules().emplace(name, open(name, bindNow)).first;
        if (found->second.table) Log::engine().info("Loaded the {} engine", name);
        else Log::engine().error("{}", found->second.failure);
    }
    if (!found->second.table) throw Unavailable(found->second.failure);
    return found->second.table;
}

std::set<std::string> ModuleLoader::libraryFiles() {
    std::set<std::string> files;
    std::lock_guard lock(mutex);
    if (!programFiles()) return files;
    for (const std::string& file : loadedFiles()) {
        if (programFiles()->contains(file)) continue;
        // As the process's mappings name it: the loader may have found it through a link.
        std::error_code error;
        const fs::path real = fs::canonical(file, error);
        files.insert(error ? file : real.string());
    }
    return files;
}

fs::path ModuleLoader::folder() {
    // This function's own address lies in the core library, whichever program runs it.
    Dl_info info{};
    if (::dladdr(reinterpret_cast<const void*>(&ModuleLoader::folder), &info) && info.dli_fname)
        return fs::path(info.dli_fname).parent_path().lexically_normal();
    return {};
}

fs::path ModuleLoader::file(const std::string& name) { return folder() / ("kolvex-engine-" + name + ".so"); }

}  // namespace kolvex
