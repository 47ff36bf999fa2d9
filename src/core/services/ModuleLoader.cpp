#include "core/services/ModuleLoader.h"

#include <map>
#include <mutex>

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
    static std::mutex mutex;
    static std::map<std::string, Loaded> modules;
    std::lock_guard lock(mutex);
    auto found = modules.find(name);
    if (found == modules.end()) {
        Log::Interval interval("Loading the " + name + " engine");
        found = modules.emplace(name, open(name, bindNow)).first;
        if (found->second.table) Log::engine().info("Loaded the {} engine", name);
        else Log::engine().error("{}", found->second.failure);
    }
    if (!found->second.table) throw Unavailable(found->second.failure);
    return found->second.table;
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
