// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace kolvex::testing {

// How a case run in a child process ended.
struct ChildEnd {
    bool exited = false;  // returned normally; `code` holds its status
    int code = -1;
    int signal = 0;       // the signal that ended it (SIGKILL after a hang)
    bool hung = false;    // still running at the bound, and killed
    std::string describe() const;
};

// Runs `body` in a forked child and returns how it ended: the child exits with what `body`
// returns, and a crash or a hang past `bound` ends only the child. The parent must not have
// started threads a library keeps state about (libvips, poppler): fork only copies the caller.
ChildEnd runInChild(const std::function<int()>& body, std::chrono::seconds bound = std::chrono::seconds(120));

// What a case left anywhere below `folder`: every file that is not a folder, by its relative
// path (the folders the program keeps its records in may stay, and the lock of the child's own
// record).
std::vector<std::string> filesBelow(const std::filesystem::path& folder);

}  // namespace kolvex::testing
