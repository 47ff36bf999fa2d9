// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ProcessTable.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

namespace kolvex::testing::process_table {

namespace {

struct Status {
    char state = '?';
    pid_t parent = 0;
};

// /proc/<pid>/stat: "pid (name) state ppid ..."; the name may hold anything, so read after the
// last parenthesis.
std::optional<Status> status(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::stringstream buffer;
    buffer << file.rdbuf();
    const std::string text = buffer.str();
    const auto close = text.rfind(')');
    if (!file || close == std::string::npos) return std::nullopt;
    std::istringstream rest(text.substr(close + 1));
    Status result;
    rest >> result.state >> result.parent;
    if (!rest) return std::nullopt;
    return result;
}

}  // namespace

bool isRunning(pid_t pid) {
    const auto current = status(pid);
    return current && current->state != 'Z' && current->state != 'X';
}

std::vector<pid_t> childrenOf(pid_t parent) {
    std::vector<pid_t> children;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        pid_t pid = 0;
        const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (error != std::errc() || end != name.data() + name.size()) continue;
        const auto current = status(pid);
        if (current && current->parent == parent && current->state != 'Z') children.push_back(pid);
    }
    return children;
}

bool waitUntilEnded(const std::vector<pid_t>& pids, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        bool anyRunning = false;
        for (const pid_t pid : pids) anyRunning = anyRunning || isRunning(pid);
        if (!anyRunning) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace kolvex::testing::process_table
