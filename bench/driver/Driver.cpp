// SPDX-License-Identifier: GPL-3.0-or-later
// kolvex-drive: runs one conversion or tool request through the real coordinator and engines over
// the files given, then prints one line per result and the wall time. For benchmarks and tests.
//
//   kolvex-drive (--to <format id> [--ring] | --tool <tool id>) [--out <folder>] [--set <option>=<value>]...
//                [--processors <n>] [--repeat <n>] [--sheet-first] [--quiet] <file>...
//   kolvex-drive --sweep      removes what runs that were killed left behind, as a launch does
//                             (every run does so first; this one only reports the count)
//   kolvex-drive --load <module>  starts as for a request, loads that engine module (media,
//                             image, pdf…) and ends with no job: what a first request on that
//                             engine pays before its own work
//
// --sheet-first reads each file before every round as the trim and split sheets do (its facts,
// then every keyframe), untimed: the request then runs as it does in the app after its sheet.
//
// --ring builds the request as a drop on the Portal's format target does: options and output
// folder from the stored preferences ($XDG_CONFIG_HOME/kolvex/defaults.json), through the same
// code; --set and --out then change it further.
//
// Lines (tab-separated; control characters in names are written as \n, \t, \xNN):
//   ok     <seconds>  copy|encode  <source>  <output>...
//   note   <source>  <the result's note>        (after its ok line, when the result has one)
//   left   <seconds>  <source>  <why>           (the source already was what was asked: nothing written)
//   skipped <seconds> <source>  <why>
//   error  <seconds>  <source>  <kind>  <message>
//   round  <n>  <seconds>  <CPU seconds>     (with --repeat: one per round, the results are the last round's)
//   wall   <seconds>  <succeeded>  <failed>
// Exit status: 0 when no file failed (a file left as it is did not), 1 when one failed, 2 for a usage error; after SIGTERM
// or SIGINT, which cancel the work (and every program it started) first, 128 + the signal.
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <stop_token>
#include <thread>
#include <vector>

#include <csignal>
#include <dlfcn.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fmt/format.h>


#include "RealEngines.h"
#include "core/modules/EngineModules.h"
#include "core/services/Log.h"
#include "core/services/ModuleLoader.h"
#include "core/services/Preferences.h"
#include "core/services/ProcessMemory.h"
#include "core/services/UserDefaults.h"
#include "core/services/WorkInProgress.h"

namespace {

namespace fs = std::filesystem;
using namespace kolvex;

const char* const kUsage =
    "usage: kolvex-drive (--to <format id> [--ring] | --tool <tool id>) [--out <folder>] [--set <option>=<value>]...\n"
    "                    [--processors <n>] [--repeat <n>] [--sheet-first] [--quiet] <file>...\n"
    "       kolvex-drive --sweep\n"
    "       kolvex-drive --load <module>\n"
    "options for --set: quality (0..1), dpi, maxDimension, rotation, trimStart, trimEnd, audioBitrate,\n"
    "  sampleRate, outputFormat, splitPoints (s,s,...), pageRange (0-based p,p,...),\n"
    "  preserveMetadata, allowPassthrough, flipHorizontal, flipVertical, invertPageSelection (true/false)\n";

struct UsageError {
    std::string message;
};

// Numbers are read the way the command lines write them, whatever the locale.
double number(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        throw UsageError{fmt::format("not a number: {}", text)};
    }
    return value;
}

bool flag(std::string_view text) {
    if (text == "true" || text == "1") return true;
    if (text == "false" || text == "0") return false;
    throw UsageError{fmt::format("not true or false: {}", text)};
}

template <typename T>
std::vector<T> list(std::string_view text) {
    std::vector<T> values;
    while (!text.empty()) {
        const auto comma = text.find(',');
        values.push_back(static_cast<T>(number(text.substr(0, comma))));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return values;
}

void setOption(ConversionOptions& options, std::string_view assignment) {
    const auto equals = assignment.find('=');
    if (equals == std::string_view::npos) throw UsageError{fmt::format("--set needs name=value: {}", assignment)};
    const std::string_view name = assignment.substr(0, equals);
    const std::string_view value = assignment.substr(equals + 1);
    using Setter = std::function<void(ConversionOptions&, std::string_view)>;
    static const std::map<std::string_view, Setter> setters{
        {"quality", [](auto& o, auto v) { o.quality = number(v); }},
        {"dpi", [](auto& o, auto v) { o.dpi = static_cast<int64_t>(number(v)); }},
        {"maxDimension", [](auto& o, auto v) { o.maxDimension = static_cast<int64_t>(number(v)); }},
        {"rotation", [](auto& o, auto v) { o.rotation = number(v); }},
        {"trimStart", [](auto& o, auto v) { o.trimStart = number(v); }},
        {"trimEnd", [](auto& o, auto v) { o.trimEnd = number(v); }},
        {"audioBitrate", [](auto& o, auto v) { o.audioBitrate = static_cast<int64_t>(number(v)); }},
        {"sampleRate", [](auto& o, auto v) { o.sampleRate = number(v); }},
        {"outputFormat", [](auto& o, auto v) { o.outputFormat = FormatID(std::string(v)); }},
        {"splitPoints", [](auto& o, auto v) { o.splitPoints = list<double>(v); }},
        {"pageRange", [](auto& o, auto v) { o.pageRange = list<int64_t>(v); }},
        {"preserveMetadata", [](auto& o, auto v) { o.preserveMetadata = flag(v); }},
        {"allowPassthrough", [](auto& o, auto v) { o.allowPassthrough = flag(v); }},
        {"flipHorizontal", [](auto& o, auto v) { o.flipHorizontal = flag(v); }},
        {"flipVertical", [](auto& o, auto v) { o.flipVertical = flag(v); }},
        {"invertPageSelection", [](auto& o, auto v) { o.invertPageSelection = flag(v); }},
    };
    auto setter = setters.find(name);
    if (setter == setters.end()) throw UsageError{fmt::format("unknown option: {}", name)};
    setter->second(options, value);
}

// A name on one line of a tab-separated report, whatever bytes it holds.
std::string printable(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '\\') out += "\\\\";
        else if (byte < 0x20 || byte == 0x7f) out += fmt::format("\\x{:02x}", byte);
        else out += c;
    }
    return out;
}

struct Request {
    std::optional<std::string> target;
    std::optional<std::string> tool;
    std::optional<fs::path> outputDirectory;
    std::optional<int> processors;
    int repeat = 1;
    ConversionOptions options = ConversionOptions::defaults();
    std::vector<std::string> assignments;  // the --set arguments, in order
    std::vector<fs::path> files;
    std::optional<std::string> load;  // the engine module to load, with no job
    bool ring = false;
    bool quiet = false;
    bool sweep = false;
    bool sheetFirst = false;
};

Request parse(int argc, char** argv) {
    Request request;
    auto value = [&](int& i) -> std::string {
        if (i + 1 >= argc) throw UsageError{fmt::format("{} needs a value", argv[i])};
        return argv[++i];
    };
    bool filesOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (filesOnly || arg.empty() || arg[0] != '-' || arg == "-") {
            // Absolute paths: a name such as "-i.mp4" must never read as an option further down.
            request.files.push_back(fs::absolute(argv[i]));
        } else if (arg == "--") {
            filesOnly = true;
        } else if (arg == "--to") {
            request.target = value(i);
        } else if (arg == "--tool") {
            request.tool = value(i);
        } else if (arg == "--out") {
            request.outputDirectory = fs::absolute(value(i));
        } else if (arg == "--set") {
            request.assignments.push_back(value(i));
            setOption(request.options, request.assignments.back());
        } else if (arg == "--ring") {
            request.ring = true;
        } else if (arg == "--repeat") {
            request.repeat = static_cast<int>(number(value(i)));
            if (request.repeat < 1) throw UsageError{"--repeat needs a count of at least 1"};
        } else if (arg == "--processors") {
            request.processors = static_cast<int>(number(value(i)));
        } else if (arg == "--sheet-first") {
            request.sheetFirst = true;
        } else if (arg == "--quiet") {
            request.quiet = true;
        } else if (arg == "--sweep") {
            request.sweep = true;
        } else if (arg == "--load") {
            request.load = value(i);
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else {
            throw UsageError{fmt::format("unknown argument: {}", arg)};
        }
    }
    if (request.sweep) {
        if (request.target || request.tool || !request.files.empty()) throw UsageError{"--sweep takes nothing else"};
        return request;
    }
    if (request.load) {
        if (request.target || request.tool || !request.files.empty()) throw UsageError{"--load takes nothing else"};
        return request;
    }
    if (request.target.has_value() == request.tool.has_value()) throw UsageError{"give either --to or --tool"};
    if (request.ring && !request.target) throw UsageError{"--ring goes with --to"};
    if (request.files.empty()) throw UsageError{"no files given"};
    return request;
}

// SIGTERM and SIGINT cancel the batch through its stop token, so engines stop their programs and
// remove what they started; a second one ends the process at once. The signals are blocked in
// every thread and taken by one waiting thread, where requesting a stop is safe. At the end the
// waiter is woken with a signal of its own set rather than left to notice a timeout: the process
// exits as soon as its work is done.
class TerminationSignals {
public:
    TerminationSignals() {
        sigemptyset(&m_set);
        sigaddset(&m_set, SIGTERM);
        sigaddset(&m_set, SIGINT);
        ::pthread_sigmask(SIG_BLOCK, &m_set, nullptr);  // before any other thread exists
        m_waiter = std::thread([this] { wait(); });
    }

    ~TerminationSignals() {
        m_closing.store(true);
        ::pthread_kill(m_waiter.native_handle(), SIGTERM);
        m_waiter.join();
    }

    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    std::stop_token token() const { return m_source.get_token(); }
    int received() const { return m_received.load(); }

private:
    void wait() {
        for (;;) {
            int signal = 0;
            if (::sigwait(&m_set, &signal) != 0) continue;
            if (m_closing.load()) return;
            if (m_received.exchange(signal) != 0) {
                ::signal(signal, SIG_DFL);
                ::pthread_sigmask(SIG_UNBLOCK, &m_set, nullptr);
                ::raise(signal);
            }
            m_source.request_stop();
        }
    }

    sigset_t m_set{};
    std::stop_source m_source;
    std::atomic<int> m_received{0};
    std::atomic<bool> m_closing{false};
    std::thread m_waiter;  // last: starts once the rest is set up
};

// The QGuiApplication the document engine lays text out with; no window is ever shown. It comes
// from a module beside the driver, loaded only for the requests that need it: Qt's GUI library
// and what it links (X11, EGL, HarfBuzz, D-Bus…) would cost every other request milliseconds at
// start. The module stays loaded: Qt is never unloaded.
class GuiApplication {
public:
    explicit GuiApplication(char* program) : m_argv{program, nullptr} {
        const fs::path module = fs::read_symlink("/proc/self/exe").parent_path() / "kolvex-drive-gui.so";
        void* library = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) throw std::runtime_error(fmt::format("cannot load {}", ::dlerror()));
        using Start = void* (*)(int*, char**);
        const auto start = reinterpret_cast<Start>(::dlsym(library, "kolvex_drive_start_gui"));
        m_stop = reinterpret_cast<Stop>(::dlsym(library, "kolvex_drive_stop_gui"));
        if (!start || !m_stop) throw std::runtime_error(fmt::format("{} is not the driver's module", module.string()));
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        m_application = start(&m_argc, m_argv);
    }
    ~GuiApplication() { m_stop(m_application); }
    GuiApplication(const GuiApplication&) = delete;
    GuiApplication& operator=(const GuiApplication&) = delete;

private:
    using Stop = void (*)(void*);
    int m_argc = 1;  // QGuiApplication keeps both
    char* m_argv[2];
    Stop m_stop = nullptr;
    void* m_application = nullptr;
};

// CPU time of this process and of every program it has waited for, in seconds.
double cpuSeconds() {
    double total = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        struct rusage usage {};
        ::getrusage(who, &usage);
        for (const auto& time : {usage.ru_utime, usage.ru_stime})
            total += static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    }
    return total;
}

// Every output is in place and every job's scratch folder gone: what is left (engines, loaded
// modules, registry, Qt, the allocator's free lists) the end of the process reclaims at once,
// while tearing it down piece by piece would take time that grows with the job. Only what the
// end of the process does not undo is settled first: the report is flushed and the record of
// work in progress removed.
[[noreturn]] void leave(int status) {
    if (std::fflush(stdout) != 0 && status == 0) status = 1;
    std::fflush(stderr);
    WorkInProgress::shared().settle();
    std::_Exit(status);
}

}  // namespace

int main(int argc, char** argv) {
    // The allocator as the application sets it up, before any thread exists.
    ProcessMemory::setUp();
    TerminationSignals termination;
    Request request;
    try {
        request = parse(argc, argv);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "kolvex-drive: %s\n%s", error.message.c_str(), kUsage);
        return 2;
    }

    if (request.sweep) {
        std::printf("swept\t%d\n", WorkInProgress::shared().sweep());
        return 0;
    }
    // Every run takes away what killed runs left, as a launch does: a look at the record folder
    // when there is nothing to do.
    WorkInProgress::shared().sweep();

    // Results go out through a buffer of our own: one from the heap, taken after a job has freed
    // its documents, would first have the allocator gather every block they freed.
    static char output[BUFSIZ];
    std::setvbuf(stdout, output, ::isatty(STDOUT_FILENO) ? _IOLBF : _IOFBF, sizeof output);

#ifdef KOLVEX_HAVE_DOCUMENT
    std::optional<GuiApplication> application;  // outlives the engines
#endif
    std::unique_ptr<ConversionCoordinator> coordinator;
    std::optional<ConversionIntent> ringIntent;
    try {
        // Qt costs a tenth of a second to start: only the requests that need it start it, as the
        // registry tells. The FFmpeg engine costs nothing until a job runs on it.
        RealEngines real = RealEngines::assemble(TemporaryFileManager::shared(), true);
        if (request.load) {
            coordinator = real.coordinator(request.processors);
            ModuleLoader::entry(*request.load);
            std::printf("loaded\t%s\n", request.load->c_str());
            leave(0);
        }
        const RealEngines::Needs needs = RealEngines::needs(
            real.registry, request.files, request.target ? std::optional(FormatID(*request.target)) : std::nullopt);
#ifdef KOLVEX_HAVE_DOCUMENT
        if (needs.qt) application.emplace(argv[0]);
#endif
        for (const auto& missing : real.unavailable) {
            if (!needs.ffmpeg && missing.starts_with("ffmpeg:")) continue;
            std::fprintf(stderr, "kolvex-drive: no engine %s\n", missing.c_str());
        }
        coordinator = real.coordinator(request.processors);
        if (request.ring) {
            const Preferences preferences = PreferencesStore::load(UserDefaults::standard());
            ringIntent = preferences.formatIntent(request.files, FormatID(*request.target), real.registry.category(request.files));
            for (const auto& assignment : request.assignments) setOption(ringIntent->options, assignment);
            if (request.outputDirectory) ringIntent->outputDirectory = request.outputDirectory;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kolvex-drive: %s\n", error.what());
        return 2;
    }

    const auto submit = [&] {
        if (ringIntent) return coordinator->submit(*ringIntent, {}, termination.token());
        if (request.target)
            return coordinator->submit(
                ConversionIntent{request.files, FormatID(*request.target), request.options, request.outputDirectory}, {},
                termination.token());
        return coordinator->submit(ToolIntent{request.files, *request.tool, request.options, request.outputDirectory}, {},
                                   termination.token());
    };
    // The same request again and again in one process: from the second round on, the way the
    // tray runs it, with the engines loaded and their programs known. Each round's outputs are
    // removed before the next, so every round writes the same names.
    std::vector<ConversionResult> results;
    double wall = 0;
    const auto media = request.sheetFirst ? EngineModules::mediaFacts() : nullptr;
    for (int pass = 1; pass <= request.repeat; ++pass) {
        if (media) {
            for (const auto& file : request.files) {
                try {
                    media->probe(file, termination.token());
                    media->copyCuts(file, termination.token());
                } catch (const std::exception&) {
                    // The request meets the same file and reports it.
                }
            }
        }
        const auto start = std::chrono::steady_clock::now();
        const double cpuBefore = cpuSeconds();
        // The last round's documents stay for the exit to reclaim (see leave).
        ProcessMemory::leaveToExit(pass == request.repeat);
        results = submit();
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (request.repeat > 1) std::printf("round\t%d\t%.4f\t%.4f\n", pass, wall, cpuSeconds() - cpuBefore);
        if (pass == request.repeat || termination.received()) break;
        for (const auto& result : results) {
            std::error_code ignored;
            for (const auto& output : result.outputs) fs::remove_all(output, ignored);
        }
    }

    int succeeded = 0;
    int failed = 0;
    for (const auto& result : results) {
        if (result.succeeded()) {
            ++succeeded;
            if (request.quiet) continue;
            std::string line = fmt::format("ok\t{:.4f}\t{}\t{}", result.duration, result.usedPassthrough ? "copy" : "encode",
                                           printable(result.source.string()));
            for (const auto& output : result.outputs) line += "\t" + printable(output.string());
            std::puts(line.c_str());
            if (result.note)
                std::puts(fmt::format("note\t{}\t{}", printable(result.source.string()), printable(*result.note)).c_str());
        } else if (result.skipped && !result.error) {
            if (request.quiet) continue;
            std::puts(fmt::format("{}\t{:.4f}\t{}\t{}", result.leftAsItIs ? "left" : "skipped", result.duration,
                                  printable(result.source.string()), printable(result.note.value_or("")))
                          .c_str());
        } else {
            ++failed;
            const std::string kind = result.error ? toString(result.error->kind()) : "none";
            const std::string message = result.error ? result.error->shortDescription() : "no output";
            std::puts(fmt::format("error\t{:.4f}\t{}\t{}\t{}", result.duration, printable(result.source.string()), kind,
                                  printable(message))
                          .c_str());
        }
    }
    std::puts(fmt::format("wall\t{:.4f}\t{}\t{}", wall, succeeded, failed).c_str());
    int status = failed == 0 ? 0 : 1;
    if (const int signal = termination.received()) status = 128 + signal;
    leave(status);
}
