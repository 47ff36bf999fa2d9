#include "core/services/ResourceBundle.h"

#include <system_error>

#include "core/services/PathUtils.h"

#ifndef KOLVEX_INSTALL_SHARE_DIR
#define KOLVEX_INSTALL_SHARE_DIR "/usr/local/share/kolvex"
#endif
#ifndef KOLVEX_BUILD_SHARE_DIR
#define KOLVEX_BUILD_SHARE_DIR ""
#endif

namespace kolvex {

namespace fs = std::filesystem;

ResourceBundle::SearchBases ResourceBundle::SearchBases::current() {
    SearchBases bases;
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && !exe.empty()) {
        fs::path bin = exe.parent_path();
        fs::path prefix = bin.parent_path();
        bases.applicationResources = prefix / "share" / "kolvex";
        bases.applicationFolder = prefix;
        bases.executableFolder = bin;
    }
    bases.coreResources = fs::path(KOLVEX_INSTALL_SHARE_DIR);
    if (std::string(KOLVEX_BUILD_SHARE_DIR).size() > 0) bases.coreFolder = fs::path(KOLVEX_BUILD_SHARE_DIR);
    return bases;
}

std::vector<fs::path> ResourceBundle::SearchBases::ordered() const {
    std::vector<fs::path> out;
    for (const auto* base : {&applicationResources, &applicationFolder, &executableFolder, &coreResources, &coreFolder}) {
        if (*base) out.push_back(**base);
    }
    return out;
}

std::optional<fs::path> ResourceBundle::named(const std::string& name) {
    return named(name, SearchBases::current());
}

std::optional<fs::path> ResourceBundle::named(const std::string& name, const SearchBases& bases) {
    const std::string suffix = ".bundle";
    const bool hasSuffix = name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    const std::string fileName = hasSuffix ? name : name + suffix;
    for (const fs::path& base : bases.ordered()) {
        fs::path candidate = base / fileName;
        // A bundle is a folder; anything else of that name is passed over.
        if (paths::isDirectory(candidate)) return candidate;
    }
    return std::nullopt;
}

}  // namespace kolvex
