#include "core/services/ProcessMemory.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include <malloc.h>

namespace kolvex {

bool ProcessMemory::setUp() {
    const bool arenas = boundArenas();
    return mapLargeBlocks() && arenas;
}

bool ProcessMemory::boundArenas() { return ::mallopt(M_ARENA_MAX, kArenaLimit) == 1; }

// A threshold set by hand is kept: the allocator no longer raises it as large blocks are freed.
bool ProcessMemory::mapLargeBlocks() { return ::mallopt(M_MMAP_THRESHOLD, kMappedBlockSize) == 1; }

void ProcessMemory::giveBack() { ::malloc_trim(0); }

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
