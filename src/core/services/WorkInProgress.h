// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kolvex {

// A small record, under the scratch root, of the hidden partial items this process has made in
// the user's folders (staged outputs, staging folders) and not yet moved into place or removed.
// When the process is killed the record stays, and the next launch removes exactly the items
// it names: nothing in a user's folder is ever removed because its name looks like ours.
//
// Each process keeps its entries in a folder of its own, "<root>/.in-progress/<UUID>", holding
// a lock file locked for as long as the process lives; a folder whose lock can be taken belongs
// to a process that is gone. Every member may be called from any thread at once.
class WorkInProgress {
public:
    // `root` is the scratch root (see TemporaryFileManager).
    explicit WorkInProgress(std::filesystem::path root);
    ~WorkInProgress();
    WorkInProgress(const WorkInProgress&) = delete;
    WorkInProgress& operator=(const WorkInProgress&) = delete;

    // The process-wide record under TemporaryFileManager::shared()'s root.
    static WorkInProgress& shared();

    // One item in the record, from before it is created until after it is committed or removed.
    class Entry {
    public:
        Entry() = default;
        ~Entry() { drop(); }
        Entry(Entry&& other) noexcept;
        Entry& operator=(Entry&& other) noexcept;
        // Takes the item out of the record (it was moved into place, or removed).
        void drop();
        // For a set (see addSet): the item now at `destination` was moved there under another
        // name than the one recorded.
        void movedTo(const std::filesystem::path& destination) const;

    private:
        friend class WorkInProgress;
        Entry(std::filesystem::path file, std::shared_ptr<std::atomic<int>> open)
            : m_file(std::move(file)), m_open(std::move(open)) {}
        std::filesystem::path m_file;
        std::shared_ptr<std::atomic<int>> m_open;  // the record's count of open entries
    };

    // Records `item`, an absolute path: a hidden partial item (its name holds ".kolvex-") or a
    // scratch folder (named by a UUID, in a root closed to others); the sweep removes nothing else.
    // Never throws: a record that cannot be written only means a kill could leave the item behind.
    Entry add(const std::filesystem::path& item);

    // When no entry is open, removes this process's folder now rather than at exit, without
    // reading it; a later add() makes a new one. For a process about to end without running
    // its destructors. Never throws.
    void settle();

    // Records a set of finished items about to be moved into place together, before the first
    // move: each staged item (its device, inode, type, size and modification time, which a move
    // keeps, from the lstat the caller has just made; an item whose inode is 0 is not there and is
    // left out) with the final name it goes to. The entry is dropped once the set is whole, or taken
    // back. When the process dies in between, the sweep removes every item of the set that is
    // still the one recorded, so that no part of an unfinished set stays under a final name.
    // Never throws, as add().
    Entry addSet(const std::vector<std::pair<struct stat, std::filesystem::path>>& moves);

    // Removes every item recorded by processes that are gone, then their records. Items that
    // are not ours (another owner, a name that is not of our making) are left alone; a folder
    // is removed without following links out of it. Returns how many items were removed.
    int sweep() const;

    // Whether `name` is a name we give hidden partial items.
    static bool isStagingName(const std::string& name);

    // Removes a file, or a folder with everything in it (read-only subfolders included),
    // removing links rather than following them. Failures leave what could not be removed.
    // Returns whether the item is gone.
    static bool removeItem(const std::filesystem::path& item);

private:
    std::optional<std::filesystem::path> ensureOwnFolder();
    // Removes this process's folder when no entry is open, else only lets go of its lock.
    // Called with m_mutex held.
    void release(bool keepLocked);

    std::filesystem::path m_records;  // "<root>/.in-progress"
    mutable std::mutex m_mutex;       // guards the fields below
    std::filesystem::path m_own;      // this process's folder, once made
    int m_lock = -1;                  // held for the process's lifetime
    // Entries added and not yet dropped; shared with them, as an entry may outlive the record.
    std::shared_ptr<std::atomic<int>> m_open = std::make_shared<std::atomic<int>>(0);
};

}  // namespace kolvex
