// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

#include "core/services/Preferences.h"

namespace kolvex {

// The file-system questions planning, job execution and the engines ask: free output names,
// whether a folder can be written, sizes and free space. Holds no state: every member may be
// called from any thread at once. Tests derive from it to inject sizes, capacities or
// permission answers; the coordinator and the engines use `shared()` unless given another.
class FileManagerService {
public:
    virtual ~FileManagerService() = default;

    // The value handed to the coordinator and the engines.
    static const FileManagerService& shared();

    // The output path for `source` with `extension` (in `directory`, else beside the source).
    // `replace` gives the plain name without looking; `rename` and `ask` give the first free
    // name, where a name is taken when an item exists there or `alsoTaken` says so (names
    // promised to other jobs). Throws ConversionError::outputNameUnavailable.
    std::filesystem::path destination(const std::filesystem::path& source, std::string_view extension,
                                      const std::optional<std::filesystem::path>& directory,
                                      Preferences::ConflictBehaviour onConflict,
                                      const std::function<bool(const std::filesystem::path&)>& alsoTaken = {}) const;

    // Whether any item (file, folder, even a dangling link) is at the path.
    virtual bool itemExists(const std::filesystem::path& path) const;

    // Creates the destination's folder (with parents) when missing — a failure there throws
    // std::filesystem::filesystem_error — then throws ConversionError::insufficientPermissions
    // naming `destination` when no file can be created in that folder.
    virtual void ensureWritable(const std::filesystem::path& destination) const;

    // Whether a file can be created in `folder`: creates an unnamed file there (O_TMPFILE), or
    // where the file system has none, creates and removes an empty probe
    // ".kolvex-write-probe-<UUID>".
    virtual bool canWrite(const std::filesystem::path& folder) const;

    // The item's size in bytes (a folder's own size, not its contents); none when unreadable.
    virtual std::optional<int64_t> size(const std::filesystem::path& path) const;

    // What the file takes on its volume: its size rounded up to the blocks the volume gives it
    // (a one-line page of 2 KB takes a 4 KB block); none when unreadable.
    virtual std::optional<int64_t> allocatedSize(const std::filesystem::path& path) const;

    // Free bytes for an unprivileged writer on the volume of `path` (the path itself when it
    // ends with "/", else its folder); none when unknown.
    virtual std::optional<int64_t> availableCapacity(const std::filesystem::path& path) const;

    // Throws ConversionError::insufficientDiskSpace when the known free space is below `required`.
    void ensureCapacity(int64_t required, const std::filesystem::path& path) const;

    // Moves the file or folder `from` to `to` on the same volume, never over an existing item:
    // throws ConversionError::outputNameUnavailable when `to` is taken, filesystem_error for
    // other failures (EXDEV when the two are on different volumes). Where the file system
    // cannot rename without replacing, a hard link takes the name; where it has no hard links
    // either, an empty placeholder is created exclusively and the item renamed over it, so
    // only a name this call claimed is ever replaced.
    void moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) const;

protected:
    // The system calls under moveWithoutReplacing(), overridden by tests to play a file system
    // that lacks them. Each returns 0 or an errno value.
    virtual int renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) const;
    virtual int hardLink(const std::filesystem::path& from, const std::filesystem::path& to) const;

public:
    static constexpr std::string_view kWriteProbePrefix = ".kolvex-write-probe-";
};

}  // namespace kolvex
