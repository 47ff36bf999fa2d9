// SPDX-License-Identifier: GPL-3.0-or-later
// Compares the process runner with the least a caller could do: posix_spawn, one pipe, a read
// loop and waitpid. The ratio benchmarks run both in turns; their ratio should stay at or below 1.1.
#include <array>
#include <chrono>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/services/ProcessRunner.h"

extern char** environ;

namespace {

constexpr const char* kLargeOutput = "head -c 104857600 /dev/zero";  // 100 MiB

size_t bareRun(const char* program, std::vector<std::string> args) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::vector<char*> argv{const_cast<char*>(program)};
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ::posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    std::string collected;
    std::array<char, 64 * 1024> chunk;
    for (ssize_t n; (n = ::read(fds[0], chunk.data(), chunk.size())) > 0;) collected.append(chunk.data(), static_cast<size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return collected.size();
}

void BM_SpawnTrivial_Bare(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(bareRun("/bin/true", {}));
}

void BM_SpawnTrivial_Runner(benchmark::State& state) {
    const kolvex::ProcessRunner runner;
    for (auto _ : state) benchmark::DoNotOptimize(runner.run("/bin/true", {}, {}, nullptr, nullptr).exitCode);
}

void BM_DrainLarge_Bare(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(bareRun("/bin/sh", {"-c", kLargeOutput}));
    state.SetBytesProcessed(state.iterations() * 104857600);
}

void BM_DrainLarge_Runner(benchmark::State& state) {
    const kolvex::ProcessRunner runner;
    for (auto _ : state)
        benchmark::DoNotOptimize(runner.run("/bin/sh", {"-c", kLargeOutput}, {}, nullptr, nullptr).standardOutputData.size());
    state.SetBytesProcessed(state.iterations() * 104857600);
}

// With a line callback, as the FFmpeg engine reads its progress stream.
void BM_DrainLines_Runner(benchmark::State& state) {
    const kolvex::ProcessRunner runner;
    size_t lines = 0;
    const kolvex::ProcessRunner::LineCallback onLine = [&](const std::string&) { ++lines; };
    for (auto _ : state)
        benchmark::DoNotOptimize(runner.run("/bin/sh", {"-c", "yes progress=continue | head -c 10485760"}, {}, onLine, nullptr).exitCode);
    benchmark::DoNotOptimize(lines);
    state.SetBytesProcessed(state.iterations() * 10485760);
}

// Both ways in turns within one loop, so a machine whose load changes over the run weighs on
// them alike; "ratio" is runner time over bare time.
void interleaved(benchmark::State& state, const char* program, std::vector<std::string> args) {
    const kolvex::ProcessRunner runner;
    double bareTotal = 0, runnerTotal = 0;
    const auto seconds = [](auto&& work) {
        const auto start = std::chrono::steady_clock::now();
        work();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    for (auto _ : state) {
        const auto bare = [&] { return seconds([&] { benchmark::DoNotOptimize(bareRun(program, args)); }); };
        const auto ours = [&] {
            return seconds([&] { benchmark::DoNotOptimize(runner.run(program, args, {}, nullptr, nullptr).standardOutputData.size()); });
        };
        double b = 0, r = 0;
        if (state.iterations() % 2 == 0) {
            b = bare();
            r = ours();
        } else {
            r = ours();
            b = bare();
        }
        bareTotal += b;
        runnerTotal += r;
        state.SetIterationTime(r);
    }
    state.counters["ratio"] = runnerTotal / bareTotal;
}

void BM_SpawnTrivial_Ratio(benchmark::State& state) { interleaved(state, "/bin/true", {}); }
void BM_DrainLarge_Ratio(benchmark::State& state) { interleaved(state, "/bin/sh", {"-c", kLargeOutput}); }

}  // namespace

BENCHMARK(BM_SpawnTrivial_Ratio)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DrainLarge_Ratio)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpawnTrivial_Bare)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpawnTrivial_Runner)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DrainLarge_Bare)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrainLarge_Runner)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrainLines_Runner)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
