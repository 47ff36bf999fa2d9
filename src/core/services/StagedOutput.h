// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <string_view>
#include <vector>

#include "core/services/FileManagerService.h"
#include "core/services/WorkInProgress.h"

namespace kolvex {

// An output that appears under its final name only when it is complete. It is written under a
// hidden name in the destination's own folder (".<name>.kolvex-<UUID>.<extension>": the same
// volume, the extension kept for writers that choose a format by it), recorded as work in
// progress, and moved into place by commit() without ever replacing an item that is there.
// Dropped uncommitted, it removes what was staged; it never touches the final name.
// One owner; not shared between threads.
class StagedOutput {
public:
    enum class Kind {
        file,    // nothing is created: the writer creates path() itself (or calls write/adopt)
        folder,  // path() is created as an empty folder to fill
    };

    // Throws outputPathTooLong, before anything is made, when the system cannot hold the
    // destination or the hidden name beside it (the part of it taken from the destination's name
    // is shortened first, down to one character).
    explicit StagedOutput(std::filesystem::path destination, Kind kind = Kind::file,
                          const FileManagerService& files = FileManagerService::shared(),
                          WorkInProgress& record = WorkInProgress::shared());
    ~StagedOutput();
    StagedOutput(const StagedOutput&) = delete;
    StagedOutput& operator=(const StagedOutput&) = delete;
    StagedOutput(StagedOutput&&) noexcept;
    StagedOutput& operator=(StagedOutput&&) = delete;

    // Whether the system can hold an output at `destination` and the hidden name it is staged
    // under: what the constructor checks, for refusing a job before it starts. Makes nothing.
    static bool fits(const std::filesystem::path& destination);

    // Where to write.
    const std::filesystem::path& path() const { return m_staged; }
    const std::filesystem::path& destination() const { return m_destination; }
    bool committed() const { return m_committed; }

    // Creates path() exclusively and writes `bytes` to it. Throws insufficientPermissions
    // (naming the destination) when the folder refuses new files, filesystem_error otherwise.
    void write(std::string_view bytes);
    // Moves a finished file made elsewhere (a scratch folder) to path(); across volumes it is
    // copied and the original removed. Throws as write().
    void adopt(const std::filesystem::path& file);

    // Moves path() to the destination without replacing anything. When another writer took the
    // name meanwhile, the work is kept under the next free name (OutputNaming::successors), which
    // destination() then gives: callers report destination(), not the name they asked for.
    // Throws outputNameUnavailable(the name asked for) when every name is taken,
    // insufficientPermissions when the folder refuses the move, filesystem_error otherwise; what
    // was staged is then removed when the object goes.
    void commit();
    // Moves path() to exactly `destination`: throws outputNameUnavailable when it is taken.
    void commit(const std::filesystem::path& destination);
    // After commit(): removes the committed item again, but only while it is still the item this
    // object put there (same file, not one that took its name since). Never throws.
    void withdraw() noexcept;

    // write() then commit(); returns where the bytes went.
    static std::filesystem::path writeAtomically(const std::filesystem::path& destination, std::string_view bytes,
                                const FileManagerService& files = FileManagerService::shared());

    // Commits every output in order, each as commit() does (a name taken meanwhile gives way to
    // the next free one: read destination() after); when one fails, withdraws those already
    // committed and rethrows, so the set appears whole or not at all. The set is recorded as work
    // in progress before the first move, so that a kill part-way leaves its moved outputs to the
    // next sweep.
    static void commitAll(std::vector<StagedOutput>& outputs, WorkInProgress& record = WorkInProgress::shared());

private:
    friend class StagedOutputSet;
    // A folder (or file) that keeps `room` bytes of path to spare below its hidden name.
    StagedOutput(std::filesystem::path destination, Kind kind, size_t room, const FileManagerService& files,
                 WorkInProgress& record);
    // A file at `staged`, inside a folder that is staged and recorded itself: nothing is recorded
    // or created for it.
    StagedOutput(std::filesystem::path destination, std::filesystem::path staged, const FileManagerService& files);
    // commit(), for an item whose state (lstat) was just read: it is not read again.
    void commit(const struct stat& staged);
    // Moves path() to `destination`, never over an item; records what was placed. `staged` is
    // the item's state when the caller has just read it, null to read it here.
    void place(const std::filesystem::path& destination, const struct stat* staged = nullptr);

    std::filesystem::path m_destination;
    std::filesystem::path m_staged;
    const FileManagerService* m_files;
    bool m_folder = false;
    WorkInProgress::Entry m_entry;
    bool m_committed = false;
    struct stat m_placed {};  // the committed item, to tell it from one that took its name since
};

}  // namespace kolvex
