// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/ProcessRunner.h"

#include <algorithm>
#include <array>
#include <exception>
#include <optional>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

#include "core/services/Cancellation.h"
#include "core/services/Log.h"
#include "core/services/TemporaryFileManager.h"
#include "core/services/UniqueFd.h"
#include "core/services/Utf8.h"

extern char** environ;

namespace kolvex {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// --- ProcessRunnerError ----------------------------------------------------------------------

ProcessRunnerError::ProcessRunnerError(Kind kind, std::string what) : std::runtime_error(std::move(what)), m_kind(kind) {}

ProcessRunnerError ProcessRunnerError::executableMissing(fs::path executable) {
    ProcessRunnerError error(Kind::executableMissing, fmt::format("No executable program at {}", executable.string()));
    error.m_executable = std::move(executable);
    return error;
}

ProcessRunnerError ProcessRunnerError::launchFailed(std::string description) {
    ProcessRunnerError error(Kind::launchFailed, fmt::format("The program could not be started: {}", description));
    error.m_description = std::move(description);
    return error;
}

ProcessRunnerError ProcessRunnerError::timedOut(double seconds) {
    ProcessRunnerError error(Kind::timedOut, fmt::format("The program did not finish within {} seconds", seconds));
    error.m_seconds = seconds;
    return error;
}

bool ProcessRunnerError::operator==(const ProcessRunnerError& other) const {
    return m_kind == other.m_kind && m_executable == other.m_executable && m_description == other.m_description &&
           m_seconds == other.m_seconds;
}

std::string ProcessResult::standardOutput() const { return isValidUtf8(standardOutputData) ? standardOutputData : std::string(); }

std::string ProcessResult::standardError() const { return isValidUtf8(standardErrorData) ? standardErrorData : std::string(); }

namespace {

// --- Pieces of one run ---------------------------------------------------------------------

std::pair<UniqueFd, UniqueFd> makePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw ProcessRunnerError::launchFailed(std::strerror(errno));
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// Everything one stream wrote, cut into lines for its callback as the bytes arrive. Lines are
// cut on raw bytes, so a multi-byte character split between two reads stays whole.
class OutputSink {
public:
    explicit OutputSink(const ProcessRunner::LineCallback& onLine) : m_onLine(onLine ? &onLine : nullptr) {}

    void append(const char* bytes, size_t count) {
        const size_t start = m_buffer.size();
        m_buffer.append(bytes, count);
        if (!m_onLine) return;
        for (size_t i = start; i < m_buffer.size(); ++i) {
            const char c = m_buffer[i];
            if (c != '\n' && c != '\r') continue;
            deliver(m_lineStart, i);
            m_lineStart = i + 1;
        }
    }

    // Delivers a last line that the program did not end with a break.
    void flush() {
        if (!m_onLine) return;
        deliver(m_lineStart, m_buffer.size());
        m_lineStart = m_buffer.size();
    }

    std::string takeBytes() { return std::move(m_buffer); }

private:
    void deliver(size_t from, size_t to) {
        if (to <= from) return;  // empty lines (CR LF, blank lines) carry nothing
        (*m_onLine)(replaceInvalidUtf8(std::string_view(m_buffer).substr(from, to - from)));
    }

    const ProcessRunner::LineCallback* m_onLine;
    std::string m_buffer;
    size_t m_lineStart = 0;
};

// The started child: killed (with everything in its session) and reaped on every path out.
class Child {
public:
    explicit Child(pid_t pid) : m_pid(pid) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (m_reaped) {
            // Whatever it left running in its group is not wanted once the run is over. The group
            // keeps its id reserved while any member lives, so this reaches only those.
            ::kill(-m_pid, SIGKILL);
            return;
        }
        signalGroup(SIGKILL);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }

    pid_t pid() const { return m_pid; }
    bool reaped() const { return m_reaped; }
    int32_t exitCode() const { return m_exitCode; }

    // The child leads its own process group, so the group holds whatever it started. Only
    // signalled before the child is reaped, while its id cannot have been reused.
    void signalGroup(int signal) const {
        if (m_reaped) return;
        if (::kill(-m_pid, signal) != 0) ::kill(m_pid, signal);
    }

    // Reaps the child when it has ended; true then.
    bool tryReap() {
        if (m_reaped) return true;
        int status = 0;
        pid_t r;
        do {
            r = ::waitpid(m_pid, &status, WNOHANG);
        } while (r < 0 && errno == EINTR);
        if (r == 0) return false;
        m_reaped = true;
        if (r < 0)
            m_exitCode = -1;  // reaped elsewhere; nothing to report
        else if (WIFEXITED(status))
            m_exitCode = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            m_exitCode = WTERMSIG(status);
        else
            m_exitCode = -1;
        return true;
    }

private:
    pid_t m_pid;
    bool m_reaped = false;
    int32_t m_exitCode = 0;
};

bool isExecutableFile(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return false;
    return S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool haveControllingTerminal() {
    const int fd = ::open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

// Everything the child needs between clone and exec, prepared beforehand: the child shares our
// memory and may only make system calls until it has exec'd.
struct ChildSetup {
    const char* path = nullptr;
    char* const* argv = nullptr;
    char* const* envp = nullptr;
    int stdinFd = -1, outFd = -1, errFd = -1;
    pid_t parent = 0;
    bool newSession = false;
    sigset_t defaults{};   // signals whose disposition goes back to the default
    sigset_t none{};
    struct sigaction byDefault {};
    int error = 0;         // set by the child when it could not exec
};

// Runs in the child on a stack of its own, with every signal blocked.
//
// PR_SET_PDEATHSIG makes the kernel kill the child when the thread that started it ends. That
// thread is the one in run(), which never returns before the child is reaped, so the signal
// fires only when our whole process dies, however it dies (posix_spawn cannot ask for this).
// The parent may have died before the request took effect: the parent id tells.
__attribute__((no_sanitize("address"))) int childMain(void* argument) {
    auto* setup = static_cast<ChildSetup*>(argument);
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) goto failed;
    if (::getppid() != setup->parent) ::_exit(127);
    // The child leads a process group of its own, so everything it starts can be signalled as a
    // whole. It must have no controlling terminal (a program asking for a passphrase fails
    // instead of waiting): without one of ours it can never gain one, and with one it gets a
    // session of its own. Only then, because a new session also makes a new scheduling group
    // where the kernel groups by session, which costs milliseconds under load.
    if (setup->newSession ? ::setsid() < 0 : ::setpgid(0, 0) != 0) goto failed;
    if (::dup2(setup->stdinFd, STDIN_FILENO) < 0 || ::dup2(setup->outFd, STDOUT_FILENO) < 0 ||
        ::dup2(setup->errFd, STDERR_FILENO) < 0)
        goto failed;
    // Descriptors some library opened without close-on-exec must not reach the child either:
    // a leaked pipe end of a parallel run would keep that run's stream open.
    ::syscall(SYS_close_range, STDERR_FILENO + 1, ~0u, 0);
    // Caught signals fall back to their defaults on exec by themselves; ignored ones would stay
    // ignored, so those a host may ignore are reset. Our handlers must not run in here at all.
    for (int signal = 1; signal < NSIG; ++signal)
        if (sigismember(&setup->defaults, signal) == 1) ::sigaction(signal, &setup->byDefault, nullptr);
    ::sigprocmask(SIG_SETMASK, &setup->none, nullptr);
    ::execve(setup->path, setup->argv, setup->envp);
failed:
    setup->error = errno;
    ::_exit(127);
}

// The signals that must be at their default disposition in the child: those a host may ignore,
// and every one this process catches.
sigset_t signalsToReset() {
    sigset_t reset;
    sigemptyset(&reset);
    for (int signal : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGUSR1, SIGUSR2, SIGALRM, SIGTSTP, SIGTTIN,
                       SIGTTOU, SIGXFSZ})
        sigaddset(&reset, signal);
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction current {};
        if (signal == SIGKILL || signal == SIGSTOP || ::sigaction(signal, nullptr, &current) != 0) continue;
        if (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN) sigaddset(&reset, signal);
    }
    return reset;
}

// The inherited environment with `overrides` ("NAME=value") in place of the variables they name.
// Built before the child starts: it may not allocate.
std::vector<char*> environmentWith(const std::vector<std::string>& overrides) {
    std::vector<char*> entries;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string_view variable(*entry);
        const std::string_view name = variable.substr(0, variable.find('='));
        const bool replaced = std::any_of(overrides.begin(), overrides.end(), [name](const std::string& wanted) {
            return std::string_view(wanted).substr(0, wanted.find('=')) == name;
        });
        if (!replaced) entries.push_back(*entry);
    }
    for (const std::string& wanted : overrides) entries.push_back(const_cast<char*>(wanted.c_str()));
    entries.push_back(nullptr);
    return entries;
}

pid_t spawnChild(const fs::path& executable, const std::vector<std::string>& arguments, int outFd, int errFd,
                 const std::vector<std::string>& environment) {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    UniqueFd devNull(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!devNull) throw ProcessRunnerError::launchFailed(std::strerror(errno));

    ChildSetup setup;
    setup.path = executable.c_str();
    setup.argv = argv.data();
    const std::vector<char*> envp = environment.empty() ? std::vector<char*>() : environmentWith(environment);
    setup.envp = environment.empty() ? environ : envp.data();
    setup.stdinFd = devNull.get();
    setup.outFd = outFd;
    setup.errFd = errFd;
    setup.parent = ::getpid();
    setup.newSession = haveControllingTerminal();
    setup.defaults = signalsToReset();
    sigemptyset(&setup.none);
    setup.byDefault.sa_handler = SIG_DFL;

    // The child borrows our memory until it execs (as posix_spawn does), so starting it costs the
    // same whatever our size; it gets a stack of its own.
    constexpr size_t kStackSize = 64 * 1024;
    void* stack = ::mmap(nullptr, kStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (stack == MAP_FAILED) throw ProcessRunnerError::launchFailed(std::strerror(errno));

    // No handler of ours may run in the child while it shares our memory.
    sigset_t all, previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = ::clone(childMain, static_cast<char*>(stack) + kStackSize, CLONE_VM | CLONE_VFORK | SIGCHLD, &setup);
    const int cloneError = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::munmap(stack, kStackSize);

    if (pid < 0) throw ProcessRunnerError::launchFailed(std::strerror(cloneError));
    if (setup.error != 0) {
        // It could not exec: collect it before saying why.
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        throw ProcessRunnerError::launchFailed(std::strerror(setup.error));
    }
    return pid;
}

int openPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) return static_cast<int>(fd);  // pidfds are close-on-exec from the start
#else
    (void)pid;
#endif
    return -1;
}

int millisecondsUntil(Clock::time_point when, Clock::time_point now) {
    if (when <= now) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(when - now).count();
    return static_cast<int>(std::min<int64_t>(ms, 1'000'000));
}

// Makes a scratch folder where one is constructed (it can be neither copied nor moved).
struct ScratchFor {
    const TemporaryFileManager& temporary;
    operator TemporaryFileManager::ScratchDirectory() const { return temporary.makeScratchDirectory(); }
};

}  // namespace

// --- run -----------------------------------------------------------------------------------

ProcessResult ProcessRunner::run(const fs::path& executable, const std::vector<std::string>& arguments,
                                 std::optional<Timeout> timeout, const LineCallback& onOutputLine,
                                 const LineCallback& onErrorLine, std::stop_token stop) const {
    if (!isExecutableFile(executable)) throw ProcessRunnerError::executableMissing(executable);
    throwIfStopRequested(stop);  // nothing to stop yet: do not start it at all

    auto [outRead, outWrite] = makePipe();
    auto [errRead, errWrite] = makePipe();

    // Wakes the wait below when a stop is requested from another thread.
    UniqueFd wake;
    if (stop.stop_possible()) {
        wake.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!wake) throw ProcessRunnerError::launchFailed(std::strerror(errno));
    }

    // What the program leaves in its temporary folder (ImageMagick's pixel cache, a killed
    // compressor's half-written files) goes into a scratch folder of ours, removed when the run
    // ends or, after a kill, by the next launch's sweep: never into the user's $TMPDIR.
    // A caller that names the temporary folder itself keeps it.
    std::optional<TemporaryFileManager::ScratchDirectory> scratch;
    std::vector<std::string> environment = m_environment;
    const bool named = std::any_of(environment.begin(), environment.end(),
                                   [](const std::string& variable) { return variable.starts_with("TMPDIR="); });
    try {
        if (!named) {
            scratch.emplace(ScratchFor{TemporaryFileManager::shared()});
            environment.push_back("TMPDIR=" + scratch->path.string());
            environment.push_back("MAGICK_TEMPORARY_PATH=" + scratch->path.string());
        }
    } catch (const std::exception& error) {
        Log::process().error("No scratch folder for {}: {}", executable.filename().string(), error.what());
    }

    const auto startedAt = Clock::now();
    Child child(spawnChild(executable, arguments, outWrite.get(), errWrite.get(), environment));
    // From here only the program holds the write ends, so each stream ends when it (and whatever
    // inherited them) closes its side.
    outWrite.reset();
    errWrite.reset();

    UniqueFd pidFd(openPidFd(child.pid()));
    std::stop_callback onStop(stop, [fd = wake.get()] {
        const uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(fd, &one, sizeof one);
    });

    OutputSink outSink(onOutputLine), errSink(onErrorLine);
    const std::optional<Clock::time_point> deadline =
        timeout ? std::optional(startedAt + std::chrono::duration_cast<Clock::duration>(*timeout)) : std::nullopt;

    bool timedOut = false, cancelled = false;
    std::optional<Clock::time_point> killAt;        // SIGKILL when still running then
    std::optional<Clock::time_point> drainDeadline;  // after the exit: stop waiting for the streams then
    std::array<char, 64 * 1024> chunk;

    const auto stopTheProgram = [&](Clock::time_point now) {
        if (killAt || child.reaped()) return;
        child.signalGroup(SIGTERM);
        killAt = now + terminationGrace;
    };

    for (;;) {
        const bool streamsOpen = outRead || errRead;
        if (child.reaped() && !streamsOpen) break;

        std::array<pollfd, 4> fds{};
        nfds_t count = 0;
        int outIndex = -1, errIndex = -1, pidIndex = -1;
        if (outRead) { outIndex = static_cast<int>(count); fds[count++] = {outRead.get(), POLLIN, 0}; }
        if (errRead) { errIndex = static_cast<int>(count); fds[count++] = {errRead.get(), POLLIN, 0}; }
        if (!child.reaped() && pidFd) { pidIndex = static_cast<int>(count); fds[count++] = {pidFd.get(), POLLIN, 0}; }
        if (wake && !cancelled) fds[count++] = {wake.get(), POLLIN, 0};  // stop_requested() is checked below

        auto now = Clock::now();
        int waitMs = -1;
        const auto limit = [&](Clock::time_point when) {
            const int ms = millisecondsUntil(when, now);
            waitMs = waitMs < 0 ? ms : std::min(waitMs, ms);
        };
        if (deadline && !timedOut && !child.reaped()) limit(*deadline);
        if (killAt && !child.reaped()) limit(*killAt);
        if (drainDeadline) limit(*drainDeadline);
        if (!child.reaped() && !pidFd) limit(now + std::chrono::milliseconds(5));  // no pidfd: look again soon

        const int ready = ::poll(fds.data(), count, waitMs);
        if (ready < 0 && errno != EINTR) throw ProcessRunnerError::launchFailed(std::strerror(errno));

        const auto readInto = [&](UniqueFd& fd, int index, OutputSink& sink) {
            if (index < 0 || ready <= 0 || fds[index].revents == 0) return;
            const ssize_t n = ::read(fd.get(), chunk.data(), chunk.size());
            if (n > 0)
                sink.append(chunk.data(), static_cast<size_t>(n));
            else if (n == 0 || (errno != EINTR && errno != EAGAIN))
                fd.reset();
        };
        readInto(outRead, outIndex, outSink);
        readInto(errRead, errIndex, errSink);

        now = Clock::now();
        // Both streams ending usually means the program is exiting: look before waiting again.
        const bool streamsEnded = !outRead && !errRead;
        if (!child.reaped() && (!pidFd || streamsEnded || (pidIndex >= 0 && ready > 0 && fds[pidIndex].revents != 0))) {
            if (child.tryReap()) drainDeadline = now + terminationGrace;
        }
        if (!cancelled && stop.stop_requested()) {
            cancelled = true;
            stopTheProgram(now);
            if (child.reaped() && !drainDeadline) drainDeadline = now;
        }
        if (deadline && !timedOut && !child.reaped() && now >= *deadline) {
            timedOut = true;
            stopTheProgram(now);
        }
        if (killAt && !child.reaped() && now >= *killAt) {
            child.signalGroup(SIGKILL);
            killAt = Clock::time_point::max();
        }
        // A process the program left behind may hold the streams open after it ended; what it
        // writes later is not this run's output.
        if (drainDeadline && now >= *drainDeadline) {
            if (outRead || errRead) Log::process().debug("Streams of {} still open after it ended", executable.string());
            break;
        }
        if (cancelled && child.reaped()) break;
    }

    outSink.flush();
    errSink.flush();

    if (timedOut) throw ProcessRunnerError::timedOut(timeout->count());
    if (cancelled || stop.stop_requested()) throw OperationCancelled();

    ProcessResult result;
    result.exitCode = child.exitCode();
    result.standardOutputData = outSink.takeBytes();
    result.standardErrorData = errSink.takeBytes();
    return result;
}

}  // namespace kolvex
