// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sched.h>

#include <algorithm>

namespace kolvex {

// Threads for work on a document's pages on this machine: the processors this process may run
// on beyond the one the job runs on, 1 to 6.
inline int pageWorkers() {
    cpu_set_t set;
    CPU_ZERO(&set);
    const int processors = sched_getaffinity(0, sizeof(set), &set) == 0 ? CPU_COUNT(&set) : 1;
    return std::clamp(processors - 1, 1, 6);
}

}  // namespace kolvex
