#pragma once

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
};

}  // namespace kolvex
