// SPDX-License-Identifier: GPL-3.0-or-later
// Loaded into kolvex-drive by the kill tests (LD_PRELOAD): the process kills itself right after
// the Nth item it moves into place under a visible name (N from KOLVEX_DIE_AFTER_MOVES), so that
// a kill lands in the middle of a set's commit every time, not by luck of timing.
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

using RenameAt2 = int (*)(int, const char*, int, const char*, unsigned int);

std::atomic<int> moves{0};

bool visible(const char* path) {
    const char* slash = std::strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    return name[0] != '.' && name[0] != '\0';
}

}  // namespace

extern "C" int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned int flags) {
    static const auto real = reinterpret_cast<RenameAt2>(::dlsym(RTLD_NEXT, "renameat2"));
    const int result = real(fromFolder, from, toFolder, to, flags);
    const char* limit = std::getenv("KOLVEX_DIE_AFTER_MOVES");
    if (result == 0 && limit && visible(to) && moves.fetch_add(1) + 1 == std::atoi(limit)) ::raise(SIGKILL);
    return result;
}
