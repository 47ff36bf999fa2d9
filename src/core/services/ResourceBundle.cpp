// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/ResourceBundle.h"

#include <system_error>

#include "core/services/PathUtils.h"

// Where the install puts the resources, relative to the installed executable's folder, so a
// tree installed under any prefix (or unpacked anywhere) finds its own.
#ifndef KOLVEX_BIN_TO_SHARE
#define KOLVEX_BIN_TO_SHARE "../share/kolvex"
#endif
// The build tree's stage and its resources; searched only by programs that run from it.
#ifndef KOLVEX_BUILD_STAGE_DIR
#define KOLVEX_BUILD_STAGE_DIR ""
#endif
#ifndef KOLVEX_BUILD_SHARE_DIR
#define KOLVEX_BUILD_SHARE_DIR ""
#endif

namespace kolvex {

namespace fs = std::filesystem;

namespace {

bool isInside(const fs::path& path, const fs::path& folder) {
    const fs::path normalFolder = folder.lexically_normal();
    const fs::path relative = path.lexically_normal().lexically_relative(normalFolder);
    return !normalFolder.empty() && !relative.empty() && *relative.begin() != "..";
}

}  // namespace

ResourceBundle::SearchBases ResourceBundle::SearchBases::current() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return forExecutable(ec ? fs::path() : exe);
}

ResourceBundle::SearchBases ResourceBundle::SearchBases::forExecutable(const fs::path& executable) {
    SearchBases bases;
    if (executable.empty()) return bases;
    const fs::path bin = executable.parent_path();
    const fs::path prefix = bin.parent_path();
    bases.applicationResources = prefix / "share" / "kolvex";
    bases.applicationFolder = prefix;
    bases.executableFolder = bin;
    bases.coreResources = (bin / KOLVEX_BIN_TO_SHARE).lexically_normal();
    // A copy of the program elsewhere must not borrow the build tree's resources.
    const std::string stage = KOLVEX_BUILD_STAGE_DIR;
    if (!stage.empty() && *KOLVEX_BUILD_SHARE_DIR && isInside(executable, stage))
        bases.coreFolder = fs::path(KOLVEX_BUILD_SHARE_DIR);
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
