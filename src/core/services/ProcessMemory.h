// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <memory>
#include <set>
#include <string>

namespace kolvex {

// How a process that runs conversions keeps its memory to what it uses. glibc's allocator gives
// every thread that allocates an arena of its own, up to eight per processor, and never hands an
// arena back: a tray process whose jobs ran on many worker threads keeps tens of megabytes that
// malloc_trim cannot return. And after the first large block it frees, the allocator serves
// blocks up to that size (up to 32 MB) from the arenas instead of mapping them on their own; page
// bitmaps and decoded pictures freed there stay resident, so a batch of small PDFs rendered on
// many threads held 700 MB where its pages need under 200. Process-wide; call setUp() first
// thing in main, before any thread starts.
struct ProcessMemory {
    // The number of arenas the allocator may keep; two serve one conversion beside the interface.
    static constexpr int kArenaLimit = 2;
    // Blocks from this size up are mapped on their own and go back to the system when freed.
    static constexpr int kMappedBlockSize = 1 << 20;

    // Both bounds below. Returns whether the allocator took them.
    static bool setUp();
    // Limits the allocator's arenas to kArenaLimit. Returns whether the allocator took the limit.
    static bool boundArenas();
    // Maps every block of kMappedBlockSize or more on its own, whatever was freed before.
    // Returns whether the allocator took the size.
    static bool mapLargeBlocks();
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
