// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/services/Utf8.h"

namespace kolvex {

// What one run of an external program produced.
struct ProcessResult {
    // The exit code, or the signal number when a signal ended the program.
    int32_t exitCode = 0;
    // Everything written to standard output, undecoded (JSON readers take these bytes).
    std::string standardOutputData;
    // Everything written to standard error, undecoded.
    std::string standardErrorData;

    // Standard output as UTF-8 text; empty when those bytes are not valid UTF-8. A copy: callers
    // of programs with large output read standardOutputData instead.
    std::string standardOutput() const;
    // The same for standard error.
    std::string standardError() const;
    bool succeeded() const { return exitCode == 0; }
};

// Why a run did not produce a result. Carries no user-facing text; the coordinator turns one
// that reaches it into a back-end failure.
class ProcessRunnerError : public std::runtime_error {
public:
    enum class Kind { executableMissing, launchFailed, timedOut };

    static ProcessRunnerError executableMissing(std::filesystem::path executable);
    static ProcessRunnerError launchFailed(std::string description);
    static ProcessRunnerError timedOut(double seconds);

    Kind kind() const { return m_kind; }
    const std::filesystem::path& executable() const { return m_executable; }  // executableMissing
    const std::string& description() const { return m_description; }         // launchFailed
    double seconds() const { return m_seconds; }                              // timedOut

    bool operator==(const ProcessRunnerError& other) const;

private:
    ProcessRunnerError(Kind kind, std::string what);

    Kind m_kind;
    std::filesystem::path m_executable;
    std::string m_description;
    double m_seconds = 0;
};

// Runs external programs: argument vectors only (never a shell), standard input from /dev/null,
// the child without a controlling terminal (a program that asks for a passphrase fails instead of
// waiting) and leading a process group of its own, both output streams drained as they arrive so
// a chatty program never blocks on a full pipe. A program never outlives us: the kernel kills it
// when this process dies, however it dies, and whatever it left running in its group is killed
// when the run ends.
//
// A plain value; create one where needed. run() blocks the calling thread (a worker thread,
// never the GUI thread) and is safe to call from many threads at once.
class ProcessRunner {
public:
    ProcessRunner() = default;
    // Programs started by this runner get these variables ("LC_ALL=C.UTF-8") over the
    // inherited environment. Unless they name TMPDIR, each run also gets a scratch folder of its
    // own as TMPDIR (and as ImageMagick's temporary path), removed when the run ends and swept
    // after a kill, so that nothing a program leaves there lands in the user's temporary folder.
    explicit ProcessRunner(std::vector<std::string> environment) : m_environment(std::move(environment)) {}

    // Receives one line of output, without its line break. Called on the thread that called
    // run(), in output order; never while a lock is held.
    using LineCallback = std::function<void(const std::string& line)>;
    using Timeout = std::chrono::duration<double>;

    // Wait between the terminate signal and the kill signal, on a time-out and on cancellation.
    static constexpr std::chrono::milliseconds terminationGrace{500};

    // Starts `executable` (an absolute path) with `arguments` (those after the program name),
    // the inherited environment and working folder, and waits for it to end and for both of
    // its output streams to reach their end.
    //
    // Output is cut into lines on raw bytes at every line feed and carriage return (a CR LF pair
    // ends one line; empty lines are dropped) and each complete line is decoded as UTF-8, so a
    // character split between two reads is never lost; invalid sequences become U+FFFD. The
    // last line without a break is delivered after the program has ended.
    //
    // On time-out or when `stop` is requested, the program and everything it started in its
    // process group get SIGTERM and, when still running after `terminationGrace`, SIGKILL; the call
    // then returns promptly with timedOut (tested first) or OperationCancelled, and the output
    // is discarded. A nonzero exit status is not an error: the result carries it.
    //
    // Throws ProcessRunnerError::executableMissing when `executable` is not an executable file
    // (nothing is created then), launchFailed when the system refuses to start it.
    ProcessResult run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                      std::optional<Timeout> timeout, const LineCallback& onOutputLine,
                      const LineCallback& onErrorLine, std::stop_token stop = {}) const;

private:
    std::vector<std::string> m_environment;
};

}  // namespace kolvex
