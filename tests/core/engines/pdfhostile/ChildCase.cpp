// SPDX-License-Identifier: GPL-3.0-or-later
#include "ChildCase.h"

#include <csignal>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <exception>

#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kolvex::testing {

std::string ChildEnd::describe() const {
    if (hung) return "hung and was killed";
    if (exited) return "exited " + std::to_string(code);
    return "ended by signal " + std::to_string(signal) + " (" + strsignal(signal) + ")";
}

ChildEnd runInChild(const std::function<int()>& body, std::chrono::seconds bound) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) return {};
    if (child == 0) {
        int code = 99;
        try {
            code = body();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "case threw: %s\n", error.what());
        }
        std::fflush(nullptr);
        ::_exit(code);
    }
    ChildEnd end;
    // The child's end is awaited on its process descriptor, so a hang is seen at the bound and
    // an ordinary end at once.
    const int descriptor = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    if (descriptor >= 0) {
        pollfd ready{descriptor, POLLIN, 0};
        int polled = 0;
        do {
            polled = ::poll(&ready, 1, static_cast<int>(std::chrono::milliseconds(bound).count()));
        } while (polled < 0 && errno == EINTR);
        ::close(descriptor);
        if (polled == 0) {
            end.hung = true;
            ::kill(child, SIGKILL);
        }
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        end.exited = true;
        end.code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        end.signal = WTERMSIG(status);
    }
    return end;
}

std::vector<std::string> filesBelow(const std::filesystem::path& folder) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_directory()) continue;
        // The lock of the child's own record of work in progress, which its end would remove
        // had it not ended at once: it names a process that is gone, and the next run sweeps it.
        const auto& path = entry.path();
        if (path.filename() == "lock" && path.parent_path().parent_path().filename() == ".in-progress") continue;
        files.push_back(path.lexically_relative(folder).string());
    }
    return files;
}

}  // namespace kolvex::testing
