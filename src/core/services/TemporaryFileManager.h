// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <system_error>
#include <type_traits>
#include <utility>

#include "core/services/FolderTree.h"
#include "core/services/WorkInProgress.h"

namespace kolvex {

// Private scratch folders for jobs that need intermediate files: each lives exactly as long as
// the work that uses it, under one root that only this user can enter.
//
// A plain value with no mutable state; copies may be used from any thread at once. Concurrent
// calls never share a folder (each is named by a fresh UUID).
class TemporaryFileManager {
public:
    // `root` when given; otherwise $TMPDIR (else /tmp) followed by "Kolvex-<uid>". The root is
    // created (mode 0700) by the first scratch folder, not before.
    explicit TemporaryFileManager(std::optional<std::filesystem::path> root = std::nullopt);

    // The process-wide instance, with the default root.
    static const TemporaryFileManager& shared();

    const std::filesystem::path& root() const { return m_root; }

    // Creates a scratch folder (and the root when missing), runs `body` with its path on the
    // calling thread and removes the folder with everything in it afterwards, whether the body
    // returned or threw. Returns the body's value or rethrows its exception unchanged.
    // Throws std::filesystem::filesystem_error, without running the body, when the folder cannot
    // be made or the root is unsafe (a symlink, not a folder, or owned by another user).
    template <class Body>
    auto withScratchDirectory(Body&& body) const -> std::invoke_result_t<Body, const std::filesystem::path&> {
        const ScratchDirectory scratch = makeScratchDirectory();
        return std::forward<Body>(body)(scratch.path);
    }

    // Removes the folders directly under the root whose last modification is strictly older than
    // `seconds` ago (leftovers of runs that ended before cleaning up); skips plain files, symlinks,
    // hidden entries and folders of other users. A root that is a symlink, belongs to another
    // user or is open to others is left alone (and logged). Never follows a symlink: links inside
    // a removed folder are removed, not what they point to. Returns how many were removed; a
    // missing root gives 0.
    int reapOrphans(double seconds) const;

    // Creates the root (mode 0700) when missing; throws std::filesystem::filesystem_error when
    // it is unsafe (a symlink, not a folder, or owned by another user).
    void ensureRoot() const;

    // A scratch folder, recorded as work in progress so a killed run's folder is swept at the
    // next launch.
    struct ScratchDirectory {
        std::filesystem::path path;
        WorkInProgress::Entry recorded;
        ScratchDirectory(std::filesystem::path p, WorkInProgress::Entry e) : path(std::move(p)), recorded(std::move(e)) {}
        ScratchDirectory(const ScratchDirectory&) = delete;
        ScratchDirectory& operator=(const ScratchDirectory&) = delete;
        ~ScratchDirectory() {
            // A folder that cannot be removed now is reaped at a later launch.
            folder_tree::remove(path);
        }
    };

    // Makes a scratch folder (and the root when missing) that lives as long as the value: for work
    // whose extent is not one call. Throws as withScratchDirectory.
    ScratchDirectory makeScratchDirectory() const;

private:
    std::filesystem::path m_root;
};

}  // namespace kolvex
