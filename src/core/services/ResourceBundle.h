// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kolvex {

// Finds a resource bundle (a folder named "<Name>.bundle") wherever the build or the
// installation put it. Any thread.
class ResourceBundle {
public:
    // The folders searched, in order. A missing base is skipped.
    struct SearchBases {
        std::optional<std::filesystem::path> applicationResources;  // <prefix>/share/kolvex
        std::optional<std::filesystem::path> applicationFolder;     // <prefix>
        std::optional<std::filesystem::path> executableFolder;      // <prefix>/bin
        std::optional<std::filesystem::path> coreResources;         // the configured install layout, beside <prefix>/bin
        std::optional<std::filesystem::path> coreFolder;            // the build tree's stage, for programs run from it

        // The bases of this process: derived from /proc/self/exe.
        static SearchBases current();
        // The bases of a program at `executable`: its install tree, found relative to it, and
        // the build tree's stage only when the program lies inside that stage.
        static SearchBases forExecutable(const std::filesystem::path& executable);
        std::vector<std::filesystem::path> ordered() const;
    };

    // The bundle folder of that name ("Kolvex_KolvexCore" or "Kolvex_KolvexCore.bundle"), or nothing.
    static std::optional<std::filesystem::path> named(const std::string& name);
    static std::optional<std::filesystem::path> named(const std::string& name, const SearchBases& bases);
};

}  // namespace kolvex
