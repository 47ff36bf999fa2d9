// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <vector>

#include <sys/types.h>

namespace kolvex::testing {

// What /proc says about processes: tests that kill a parent look here for what it left behind.
namespace process_table {

// True while `pid` exists and has not ended (a zombie waiting to be reaped has ended).
bool isRunning(pid_t pid);
// The running processes whose parent is `parent`.
std::vector<pid_t> childrenOf(pid_t parent);
// Waits up to `timeout` for every process in `pids` to end; true when they all did.
bool waitUntilEnded(const std::vector<pid_t>& pids, std::chrono::milliseconds timeout);

}  // namespace process_table
}  // namespace kolvex::testing
