// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/ProcessMemory.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <mutex>
#include <string_view>
#include <vector>

#include <malloc.h>
#include <sys/mman.h>

namespace kolvex {

bool ProcessMemory::setUp() {
    const bool arenas = boundArenas();
    return mapLargeBlocks() && arenas;
}

bool ProcessMemory::boundArenas() { return ::mallopt(M_ARENA_MAX, kArenaLimit) == 1; }

// A threshold set by hand is kept: the allocator no longer raises it as large blocks are freed.
bool ProcessMemory::mapLargeBlocks() { return ::mallopt(M_MMAP_THRESHOLD, kMappedBlockSize) == 1; }

namespace {

std::atomic<bool> leavingToExit{false};

}  // namespace

void ProcessMemory::leaveToExit(bool leave) { leavingToExit = leave; }

bool ProcessMemory::leftToExit() { return leavingToExit; }

void ProcessMemory::release(std::shared_ptr<const void> object) {
    if (!object || !leavingToExit) return;
    static std::mutex mutex;
    // Never destroyed: what it holds is the exit's to reclaim.
    static auto* kept = new std::vector<std::shared_ptr<const void>>;
    std::lock_guard lock(mutex);
    kept->push_back(std::move(object));
}

void ProcessMemory::giveBack() { ::malloc_trim(0); }

size_t ProcessMemory::dropFilePages(const std::set<std::string>& files) {
    if (files.empty()) return 0;
    struct Mapping {
        uintptr_t start = 0;
        uintptr_t end = 0;
        bool candidate = false;  // private, not writable, one of the files
        size_t resident = 0;
        size_t anonymous = 0;
    };
    // Read whole first: the list changes as mappings are dropped.
    std::vector<Mapping> mappings;
    {
        std::ifstream smaps("/proc/self/smaps");
        for (std::string line; std::getline(smaps, line);) {
            std::istringstream fields(line);
            std::string first;
            fields >> first;
            if (first.empty()) continue;
            if (first.back() == ':') {
                if (mappings.empty()) continue;
                size_t kilobytes = 0;
                fields >> kilobytes;
                if (first == "Rss:") mappings.back().resident = kilobytes << 10;
                else if (first == "Anonymous:") mappings.back().anonymous = kilobytes << 10;
                continue;
            }
            // "start-end perms offset device inode path"
            const size_t dash = first.find('-');
            if (dash == std::string::npos) continue;
            std::string permissions, offset, device, inode, path;
            fields >> permissions >> offset >> device >> inode;
            std::getline(fields >> std::ws, path);
            Mapping mapping;
            try {
                mapping.start = std::stoull(first.substr(0, dash), nullptr, 16);
                mapping.end = std::stoull(first.substr(dash + 1), nullptr, 16);
            } catch (const std::exception&) {
                continue;
            }
            mapping.candidate = permissions.size() == 4 && permissions[1] != 'w' && permissions[3] == 'p' &&
                                files.contains(path);
            mappings.push_back(mapping);
        }
    }
    size_t dropped = 0;
    for (const Mapping& mapping : mappings) {
        // A page written to is the process's own copy: dropping it would bring the file's back.
        if (!mapping.candidate || mapping.anonymous != 0 || mapping.resident == 0) continue;
        if (::madvise(reinterpret_cast<void*>(mapping.start), mapping.end - mapping.start, MADV_DONTNEED) == 0)
            dropped += mapping.resident;
    }
    return dropped;
}

int ProcessMemory::arenaCount() {
    char* text = nullptr;
    size_t size = 0;
    FILE* stream = ::open_memstream(&text, &size);
    if (!stream) return 0;
    const bool reported = ::malloc_info(0, stream) == 0;
    std::fclose(stream);
    int count = 0;
    if (reported && text) {
        // One "<heap nr=…>" element per arena.
        const std::string_view report(text, size);
        for (size_t at = report.find("<heap nr="); at != std::string_view::npos; at = report.find("<heap nr=", at + 1)) ++count;
    }
    std::free(text);
    return count;
}

}  // namespace kolvex
