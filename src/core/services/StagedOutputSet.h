// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <set>
#include <vector>

#include "core/services/StagedOutput.h"

namespace kolvex {

// Many outputs made together (the pages of a split), staged in one hidden folder beside their
// destinations: the folder alone is recorded as work in progress, however many files it holds,
// which spares each file a record of its own. commit() moves every file into place, or none.
// Dropped uncommitted, the folder goes with everything in it. One owner; not shared between
// threads.
class StagedOutputSet {
public:
    // The folder is made beside `destination` (the set's own final name, for the hidden name
    // only), with `shards` subfolders: writers on several threads each create their files in a
    // shard of their own, so that they do not queue for one folder's lock. Throws as
    // StagedOutput does for a folder (the folder keeps room below it for the files' short
    // staged names, so near the system's path limit it is refused before anything is written).
    explicit StagedOutputSet(const std::filesystem::path& destination, int shards = 1,
                             const FileManagerService& files = FileManagerService::shared(),
                             WorkInProgress& record = WorkInProgress::shared());

    // Where to write the file that becomes `destination`, a name in the same folder as the
    // set's, in shard `shard` (0 up to the count, excluded). The writer creates it. Throws
    // std::invalid_argument for a name already in the set, in another folder, or no such shard;
    // outputPathTooLong for a name or path the system cannot hold.
    std::filesystem::path add(const std::filesystem::path& destination, int shard = 0);

    // Moves every file to its destination without replacing anything, in the order added; when
    // one fails, takes back those already moved and rethrows (see StagedOutput::commitAll).
    void commit();
    // Where each file is, in the order added: after commit(), a name taken meanwhile has given
    // way to the next free one.
    std::vector<std::filesystem::path> destinations() const;

private:
    StagedOutput m_folder;  // first: removed last, after the files in it
    std::vector<StagedOutput> m_files;
    std::set<std::filesystem::path> m_names;
    std::filesystem::path m_parent;  // where every output goes
    int m_shards;
    const FileManagerService* m_fileManager;
    WorkInProgress* m_record;
};

}  // namespace kolvex
