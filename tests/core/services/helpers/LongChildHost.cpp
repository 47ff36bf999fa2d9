// SPDX-License-Identifier: GPL-3.0-or-later
// Starts two long programs through the process runner, each from a worker thread, prints their
// process ids, one per line, and waits to be killed. Tests kill it and look for the programs.
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "core/services/ProcessRunner.h"

int main() {
    std::vector<std::jthread> workers;
    for (int i = 0; i < 2; ++i) {
        workers.emplace_back([] {
            const auto print = [](const std::string& line) {
                std::printf("%s\n", line.c_str());
                std::fflush(stdout);
            };
            kolvex::ProcessRunner().run("/bin/sh", {"-c", "echo $$; exec sleep 120"}, {}, print, {});
        });
    }
    for (;;) ::pause();
}
