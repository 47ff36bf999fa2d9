// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/ProcessRunner.h"

#include <atomic>
#include <filesystem>
#include <latch>
#include <memory>
#include <mutex>
#include <thread>

#include <csignal>
#include <cstdio>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "core/services/Cancellation.h"
#include "support/ProcessTable.h"
#include "support/TempDir.h"

extern char** environ;

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path kShell = "/bin/sh";

struct Lines {
    std::mutex mutex;
    std::vector<std::string> out, err;
    ProcessRunner::LineCallback onOut() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex);
            out.push_back(line);
        };
    }
    ProcessRunner::LineCallback onErr() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex);
            err.push_back(line);
        };
    }
};

ProcessResult sh(const std::string& script, Lines* lines = nullptr, std::optional<ProcessRunner::Timeout> timeout = {},
                 std::stop_token stop = {}) {
    return ProcessRunner().run(kShell, {"-c", script}, timeout, lines ? lines->onOut() : nullptr,
                               lines ? lines->onErr() : nullptr, stop);
}

size_t openDescriptorCount() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(ProcessRunner, CutsOutputIntoLinesOnRawBytes) {
    struct Case {
        const char* script;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {R"(printf 'a\nb')", {"a", "b"}},                  // the last line comes at the end
        {R"(printf '\n\n\n')", {}},                        // empty lines carry nothing
        {R"(printf 'x\r50%%\r')", {"x", "50%"}},           // carriage returns end lines (progress bars)
        {R"(printf 'a\r\nb\r\n')", {"a", "b"}},            // CR LF ends one line
        {R"(printf '\303'; sleep 0.05; printf '\251t\n')", {"\xC3\xA9t"}},  // é split between two writes
        {R"(printf '\377\nok\n')", {"\xEF\xBF\xBD", "ok"}},  // invalid bytes become U+FFFD, later lines survive
    };
    for (const auto& c : cases) {
        Lines lines;
        const auto result = sh(c.script, &lines);
        EXPECT_EQ(lines.out, c.lines) << c.script;
        EXPECT_TRUE(lines.err.empty()) << c.script;
        EXPECT_TRUE(result.succeeded()) << c.script;
    }
}

TEST(ProcessRunner, CapturesBothStreamsAndTheExitStatus) {
    Lines lines;
    auto result = sh("echo out; echo err >&2; exit 3", &lines);
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_FALSE(result.succeeded());
    EXPECT_EQ(result.standardOutput(), "out\n");
    EXPECT_EQ(result.standardError(), "err\n");
    EXPECT_EQ(result.standardOutputData, "out\n");
    EXPECT_EQ(lines.out, std::vector<std::string>{"out"});
    EXPECT_EQ(lines.err, std::vector<std::string>{"err"});

    // Without callbacks everything is still captured.
    result = sh(R"(printf 'a\r\nb')");
    EXPECT_EQ(result.standardOutput(), "a\r\nb");

    // Invalid UTF-8: no text, but the raw bytes are kept.
    result = sh(R"(printf 'ok\377')");
    EXPECT_EQ(result.standardOutput(), "");
    EXPECT_EQ(result.standardOutputData, "ok\xFF");

    // A signal-killed program reports the signal number.
    result = sh("kill -9 $$");
    EXPECT_EQ(result.exitCode, 9);
}

TEST(ProcessRunner, PassesArgumentsVerbatimWithoutAShell) {
    const std::vector<std::string> args = {"-i", "a b", "$(touch /tmp/nope)", "'\"", "ünï ✓", "*"};
    std::vector<std::string> argv = {"%s\\n"};
    argv.insert(argv.end(), args.begin(), args.end());
    Lines lines;
    const auto result = ProcessRunner().run("/usr/bin/printf", argv, {}, lines.onOut(), nullptr);
    EXPECT_TRUE(result.succeeded());
    EXPECT_EQ(lines.out, args);
}

TEST(ProcessRunner, SetsTheVariablesItWasGivenOverTheInheritedOnes) {
    const std::string script = "printf '%s|%s\\n' \"$LC_ALL\" \"${HOME:+home}\"; env | grep -c '^LC_ALL='";
    Lines lines;
    ASSERT_TRUE(ProcessRunner({"LC_ALL=C.UTF-8"}).run(kShell, {"-c", script}, {}, lines.onOut(), nullptr).succeeded());
    // Given once, whatever the parent had; everything else inherited.
    EXPECT_EQ(lines.out, (std::vector<std::string>{"C.UTF-8|home", "1"}));
}

TEST(ProcessRunner, StandardInputIsEmptyAndThereIsNoTerminal) {
    auto result = sh("cat; echo done");
    EXPECT_EQ(result.standardOutput(), "done\n");
    // A program that asks for a passphrase on the terminal must fail rather than wait.
    result = sh("exec 3</dev/tty");
    EXPECT_NE(result.exitCode, 0);
    result = sh("ps -o tty= -p $$ 2>/dev/null || echo '?'");
    EXPECT_EQ(result.standardOutput().substr(0, 1), "?");
}

TEST(ProcessRunner, RefusesMissingAndNonExecutableFiles) {
    testing::TempDir dir;
    const auto plain = dir.write("plain.sh", "#!/bin/sh\necho hi\n");
    const auto noFormat = dir.write("noformat", "echo hi\n");
    fs::permissions(noFormat, fs::perms::owner_all);
    const fs::path missing = dir / "missing";
    for (const auto& path : {missing, plain, dir.path()}) {
        try {
            ProcessRunner().run(path, {}, {}, nullptr, nullptr);
            ADD_FAILURE() << path;
        } catch (const ProcessRunnerError& error) {
            EXPECT_EQ(error, ProcessRunnerError::executableMissing(path));
        }
    }
    // An executable file the system cannot start.
    try {
        ProcessRunner().run(noFormat, {}, {}, nullptr, nullptr);
        ADD_FAILURE();
    } catch (const ProcessRunnerError& error) {
        EXPECT_EQ(error.kind(), ProcessRunnerError::Kind::launchFailed);
        EXPECT_FALSE(error.description().empty());
    }
}

TEST(ProcessRunner, DrainsLargeOutputOnBothStreamsAtOnce) {
    const auto result = sh("head -c 50000000 /dev/zero & head -c 50000000 /dev/zero >&2; wait");
    EXPECT_TRUE(result.succeeded());
    EXPECT_EQ(result.standardOutputData.size(), 50'000'000u);
    EXPECT_EQ(result.standardErrorData.size(), 50'000'000u);
}

TEST(ProcessRunner, TimeOutStopsTheProgramEvenWhenItIgnoresTerminate) {
    const auto start = std::chrono::steady_clock::now();
    // On a loaded machine the shell may not have installed its trap before the time-out;
    // the grace period is only observable when it had.
    std::atomic<bool> trapInstalled{false};
    auto onLine = [&](const std::string& line) {
        if (line == "started" && secondsSince(start) < 0.3) trapInstalled = true;
    };
    try {
        ProcessRunner().run(kShell, {"-c", "trap '' TERM; echo started; while :; do sleep 0.05; done"}, 0.3s, onLine,
                            nullptr, {});
        ADD_FAILURE() << "no time-out";
    } catch (const ProcessRunnerError& error) {
        EXPECT_EQ(error, ProcessRunnerError::timedOut(0.3));
    }
    const double elapsed = secondsSince(start);
    if (trapInstalled) {
        EXPECT_GE(elapsed, 0.3 + 0.45);  // terminate was ignored: killed after the grace
    }
    EXPECT_LT(elapsed, 3.0);
}

TEST(ProcessRunner, CancellationFromAnotherThread) {
    for (const char* script : {"echo ready; exec sleep 30", "trap '' TERM; echo ready; while :; do sleep 0.05; done"}) {
        std::stop_source source;
        std::latch ready(1);
        std::jthread canceller([&] {
            ready.wait();
            source.request_stop();
        });
        const auto start = std::chrono::steady_clock::now();
        bool readySeen = false;
        auto onLine = [&](const std::string& line) {
            if (line == "ready" && !readySeen) {
                readySeen = true;
                ready.count_down();
            }
        };
        EXPECT_THROW(ProcessRunner().run(kShell, {"-c", script}, {}, onLine, nullptr, source.get_token()),
                     OperationCancelled)
            << script;
        EXPECT_LT(secondsSince(start), 3.0) << script;
    }
    // Stopped before it starts: nothing is launched.
    std::stop_source stopped;
    stopped.request_stop();
    testing::TempDir dir;
    EXPECT_THROW(sh("touch '" + (dir / "ran").string() + "'", nullptr, {}, stopped.get_token()), OperationCancelled);
    EXPECT_FALSE(fs::exists(dir / "ran"));
}

TEST(ProcessRunner, ReturnsWhenALeftBehindProcessHoldsTheStreams) {
    const auto start = std::chrono::steady_clock::now();
    const auto result = sh("sleep 20 & echo parent done");
    EXPECT_EQ(result.standardOutput(), "parent done\n");
    EXPECT_LT(secondsSince(start), 5.0);
}

TEST(ProcessRunner, ManyRunsInParallelLeakNoDescriptors) {
    // Warm up lazily opened descriptors (loggers, locale files) before counting.
    sh("true");
    const size_t before = openDescriptorCount();
    std::atomic<int> failures = 0;
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < 10; ++i) {
                    const auto text = std::to_string(t * 100 + i);
                    const auto result = ProcessRunner().run("/usr/bin/printf", {"%s", text}, {}, nullptr, nullptr);
                    if (result.standardOutput() != text) ++failures;
                }
            });
        }
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST(ProcessRunner, ProgramsDieWithTheProcessThatStartedThem) {
    const fs::path host = fs::read_symlink("/proc/self/exe").parent_path() / "long-child-host";
    ASSERT_TRUE(fs::exists(host)) << host;
    for (const int signal : {SIGKILL, SIGTERM}) {
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        char* argv[] = {const_cast<char*>(host.c_str()), nullptr};
        pid_t parent = -1;
        ASSERT_EQ(::posix_spawn(&parent, host.c_str(), &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        const std::shared_ptr<void> reap(nullptr, [parent](void*) {
            ::kill(parent, SIGKILL);
            ::waitpid(parent, nullptr, 0);
        });

        // Each program prints its own id once it runs.
        std::vector<pid_t> programs;
        FILE* lines = ::fdopen(out[0], "r");
        for (int pid = 0; programs.size() < 2 && std::fscanf(lines, "%d", &pid) == 1;) programs.push_back(pid);
        ASSERT_EQ(programs.size(), 2u);
        for (const pid_t pid : programs) EXPECT_TRUE(testing::process_table::isRunning(pid));

        ::kill(parent, signal);
        std::fclose(lines);
        EXPECT_TRUE(testing::process_table::waitUntilEnded(programs, 5s)) << "signal " << signal;
    }
}

}  // namespace
}  // namespace kolvex
