#include "core/services/ProcessMemory.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <vector>

#include <malloc.h>

namespace kolvex {

namespace {

std::atomic<bool> leavingToExit{false};

}  // namespace

bool ProcessMemory::boundArenas() { return ::mallopt(M_ARENA_MAX, kArenaLimit) == 1; }

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
