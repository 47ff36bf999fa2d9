#pragma once

#include <cstddef>
#include <memory>
#include <set>
#include <string>

namespace kolvex {

// How a long-lived process keeps its memory to what it uses. glibc's allocator gives every thread
// that allocates an arena of its own, up to eight per processor, and never hands an arena back:
// a tray process whose jobs ran on many worker threads keeps tens of megabytes that malloc_trim
// cannot return. Process-wide; call boundArenas() first thing in main, before any thread starts.
struct ProcessMemory {
    // The number of arenas the allocator may keep; two serve one conversion beside the interface.
    static constexpr int kArenaLimit = 2;

    // Limits the allocator's arenas to kArenaLimit. Returns whether the allocator took the limit.
    static bool boundArenas();
    // Returns freed memory at the top of every arena to the system. Any thread.
    static void giveBack();
    // How many arenas the allocator holds now (0 when it cannot tell). For tests and diagnostics.
    static int arenaCount();

    // Takes out of this process's memory the pages of `files` (libraries, by the path they were
    // loaded from) that are exactly as the file holds them: their code and constants. A page is
    // mapped back from the file, in place, the next time it is used; until then the system may
    // use the memory for anything else. Mappings the process has written to (data, relocated
    // tables) keep every page. Returns how many bytes were taken out. Any thread.
    static size_t dropFilePages(const std::set<std::string>& files);

    // A program that ends as soon as its work is done (the command-line driver) says so first:
    // large structures a finished job leaves behind (parsed documents of hundreds of thousands
    // of small objects) are then kept for the end of the process, which reclaims them at once,
    // instead of being taken apart piece by piece. Off unless asked: a long-lived process frees
    // them. Process-wide; any thread.
    static void leaveToExit(bool leave = true);
    static bool leftToExit();
    // Frees `object` now (when nothing else holds it), or, after leaveToExit, keeps it until the
    // process ends. Any thread.
    static void release(std::shared_ptr<const void> object);
};

}  // namespace kolvex
