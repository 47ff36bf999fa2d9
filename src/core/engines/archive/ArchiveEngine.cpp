#include "core/engines/archive/ArchiveEngine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "core/services/Cancellation.h"
#include "core/services/ErrorMapper.h"
#include "core/services/OutputNaming.h"
#include "core/services/PathUtils.h"
#include "core/services/ProcessRunner.h"
#include "core/services/Uuid.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

bool isExecutableFile(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool isSingleStreamTarget(const Format& target) {
    const auto& id = target.id.rawValue;
    return id == "gzip" || id == "bz2" || id == "xz";
}

// Removes a folder tree even when the archive made some of its folders read-only.
void removeTree(const fs::path& folder) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code ignored;
        if (it->symlink_status(ignored).type() == fs::file_type::directory) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }
    std::error_code ignored;
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add | fs::perm_options::nofollow, ignored);
    fs::remove_all(folder, ignored);
}

// A file that is removed unless the work that writes it succeeds.
class PartialOutput {
public:
    explicit PartialOutput(fs::path path) : m_path(std::move(path)) {}
    ~PartialOutput() {
        if (m_path.empty()) return;
        std::error_code ignored;
        fs::remove(m_path, ignored);
    }
    PartialOutput(const PartialOutput&) = delete;
    PartialOutput& operator=(const PartialOutput&) = delete;
    const fs::path& path() const { return m_path; }
    void release() { m_path.clear(); }

private:
    fs::path m_path;
};

// Makes a folder's tree removable when the scratch folder around it is cleaned up.
class RemovableTree {
public:
    explicit RemovableTree(fs::path folder) : m_folder(std::move(folder)) {}
    ~RemovableTree() { removeTree(m_folder); }
    RemovableTree(const RemovableTree&) = delete;
    RemovableTree& operator=(const RemovableTree&) = delete;

private:
    fs::path m_folder;
};

// Creates the first free folder among "<stem>", "<stem> 2" … "<stem> 999" in `parent`. Creating
// is the test, so two jobs can never be handed the same folder.
fs::path makeFreeFolder(const fs::path& parent, const std::string& stem) {
    fs::create_directories(parent);
    fs::path candidate;
    for (int number = 1; number <= OutputNaming::maxCollisionAttempts; ++number) {
        const auto suffix = number == 1 ? std::nullopt : std::optional<int>(number);
        candidate = parent / OutputNaming::filename(stem, suffix, "");
        if (::mkdir(candidate.c_str(), 0777) == 0) return candidate;
        if (errno != EEXIST) {
            throw fs::filesystem_error("Could not create the folder", candidate,
                                       std::error_code(errno, std::generic_category()));
        }
    }
    throw ConversionError::outputNameUnavailable(candidate);
}

bool isEmptyFolder(const fs::path& folder) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    return ec || it == fs::directory_iterator();
}

}  // namespace

ArchiveEngine::ArchiveEngine(const FileManagerService& files, TemporaryFileManager temporary)
    : ArchiveEngine(files, std::move(temporary), Settings{}) {}

ArchiveEngine::ArchiveEngine(const FileManagerService& files, TemporaryFileManager temporary, Settings settings)
    : m_id(engine_ids::archive), m_files(&files), m_temporary(std::move(temporary)), m_settings(std::move(settings)) {}

const std::set<std::string>& ArchiveEngine::supportedTools() {
    static const std::set<std::string> tools{"extract", "compress"};
    return tools;
}

bool ArchiveEngine::canHandle(const ConversionJob& job) const {
    if (!isExecutableFile(m_settings.tar)) return false;
    if (job.options.tool) {
        return job.from.category == FormatCategory::archive && supportedTools().contains(*job.options.tool);
    }
    return job.from.category == FormatCategory::archive && job.to.category == FormatCategory::archive &&
           !writeFlags(job.to).empty();
}

std::vector<std::string> ArchiveEngine::writeFlags(const Format& target) {
    const auto& id = target.id.rawValue;
    if (id == "zip") return {"--format=zip"};
    if (id == "7z") return {"--format=7zip"};
    if (id == "tar") return {"--format=pax"};
    if (id == "targz" || id == "gzip") return {"--format=pax", "-z"};
    if (id == "bz2") return {"--format=pax", "-j"};
    if (id == "xz") return {"--format=pax", "-J"};
    return {};
}

std::optional<fs::path> ArchiveEngine::singleStreamTool(const Format& target) {
    return streamProgram(target, Settings{});
}

std::optional<fs::path> ArchiveEngine::streamProgram(const Format& target, const Settings& settings) {
    const auto& id = target.id.rawValue;
    const fs::path* program = id == "gzip" ? &settings.gzip : id == "bz2" ? &settings.bzip2 : nullptr;
    if (!program || !isExecutableFile(*program)) return std::nullopt;
    return *program;
}

fs::path ArchiveEngine::taredName(const fs::path& destination) {
    const std::string extension = paths::extension(destination);
    const std::string base = paths::stem(destination);
    if (base.size() >= 4 && base.compare(base.size() - 4, 4, ".tar") == 0) return destination;
    const std::string name = extension.empty() ? base + ".tar" : base + ".tar." + extension;
    return paths::deletingLastComponent(destination) / name;
}

std::vector<fs::path> ArchiveEngine::regularFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    auto it = fs::recursive_directory_iterator(folder, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string name = paths::lastComponent(it->path());
        if (name.starts_with(".") || name == "__MACOSX") {
            if (it->is_directory(ec) && !it->is_symlink(ec)) it.disable_recursion_pending();
            ec.clear();
            continue;
        }
        if (it->symlink_status(ec).type() == fs::file_type::regular) files.push_back(it->path());
        ec.clear();
    }
    return files;
}

void ArchiveEngine::run(const std::vector<std::string>& arguments, const ConversionJob& job,
                        std::stop_token stop) const {
    const auto result = ProcessRunner().run(m_settings.tar, arguments, m_settings.tarTimeout, {}, {}, std::move(stop));
    // Phrases are looked for in the raw bytes: a file name that is not UTF-8 must not hide them.
    if (result.exitCode != 0)
        throw ErrorMapper::map(ErrorMapper::Program::bsdtar, result.exitCode, result.standardErrorData, job, *m_files);
}

std::vector<fs::path> ArchiveEngine::convert(const ConversionJob& job, const ProgressCallback& progress,
                                             std::stop_token stop) const {
    throwIfStopRequested(stop);
    if (job.options.tool == "extract") return extract(job, progress, stop);
    return repack(job, progress, stop);
}

void ArchiveEngine::unpack(const ConversionJob& job, const fs::path& folder, std::stop_token stop) const {
    // The guard stops tar through a stop source of our own that also follows the job's.
    std::stop_source local;
    std::stop_callback forward(stop, [&local] { local.request_stop(); });
    ExtractionGuard guard(folder, m_settings.limits, local);
    try {
        run({"-xf", paths::absolute(job.source).string(), "-C", paths::absolute(folder).string(), "--no-same-owner"},
            job, local.get_token());
    } catch (const OperationCancelled&) {
        if (guard.tripped()) throw guard.error();
        throw;
    } catch (const ConversionError&) {
        // A disk that filled up before the guard saw it fails tar with its own message.
        if (guard.tripped()) throw guard.error();
        throw;
    }
    if (guard.finalCheck()) throw guard.error();
}

std::vector<fs::path> ArchiveEngine::extract(const ConversionJob& job, const ProgressCallback& progress,
                                             std::stop_token stop) const {
    const fs::path parent = paths::deletingLastComponent(job.destination);
    const fs::path folder = makeFreeFolder(parent, OutputNaming::stem(paths::lastComponent(job.source)));
    progress(0.1);
    try {
        unpack(job, folder, stop);
    } catch (...) {
        removeTree(folder);
        throw;
    }
    if (isEmptyFolder(folder)) {
        removeTree(folder);
        throw ConversionError::corruptedInput(job.source);
    }
    progress(1.0);
    return {folder};
}

std::vector<fs::path> ArchiveEngine::repack(const ConversionJob& job, const ProgressCallback& progress,
                                            std::stop_token stop) const {
    const auto flags = writeFlags(job.to);
    if (flags.empty()) throw ConversionError::unsupportedCombination(job.from.label, job.to.label);

    const auto sourceSize = m_files->size(job.source);
    const auto available = m_files->availableCapacity(job.destination);
    if (sourceSize && available && *available < *sourceSize * 4) {
        throw ConversionError::insufficientDiskSpace(*sourceSize * 4, *available);
    }

    return m_temporary.withScratchDirectory([&](const fs::path& scratch) -> std::vector<fs::path> {
        const fs::path contents = scratch / "contents";
        fs::create_directories(contents);
        const RemovableTree removable(contents);
        progress(0.1);

        unpack(job, contents, stop);
        // Nothing came out (every entry failed, or the "archive" was empty): not a success.
        if (isEmptyFolder(contents)) throw ConversionError::corruptedInput(job.source);
        progress(0.55);

        if (isSingleStreamTarget(job.to)) {
            const auto files = regularFiles(contents);
            if (const auto program = streamProgram(job.to, m_settings); files.size() == 1 && program) {
                auto written = writeSingleStream(job, files.front(), *program, scratch, stop);
                progress(1.0);
                return {written};
            }
        }

        fs::path output = job.destination;
        if (isSingleStreamTarget(job.to)) {
            output = taredName(job.destination);
            if (output != job.destination && fs::exists(fs::symlink_status(output))) {
                // Never over an existing file: the next free numbered name instead.
                output = OutputNaming::destination(output, "tar." + paths::extension(job.destination),
                                                   paths::deletingLastComponent(output),
                                                   [](const fs::path& p) { return fs::exists(fs::symlink_status(p)); });
            }
        }

        // tar writes beside the output under a hidden name; only a complete archive takes the name.
        PartialOutput partial(paths::deletingLastComponent(output) / (".kolvex-partial-" + Uuid::random().toString()));
        std::vector<std::string> arguments = flags;
        arguments.insert(arguments.end(), {"-cf", paths::absolute(partial.path()).string(), "-C",
                                           paths::absolute(contents).string(), "."});
        run(arguments, job, stop);
        progress(0.95);

        const auto size = m_files->size(partial.path());
        if (!size || *size < 1) {
            throw ConversionError::backendFailure(m_id.rawValue, -1, "produced an empty archive");
        }
        m_files->install(partial.path(), output);
        partial.release();
        progress(1.0);
        return {output};
    });
}

fs::path ArchiveEngine::writeSingleStream(const ConversionJob& job, const fs::path& file, const fs::path& program,
                                          const fs::path& scratch, std::stop_token stop) const {
    // The program compresses a link to the file in a folder of its own and writes the stream to
    // disk beside it, so the stream never has to fit in memory. gzip records the file's name in
    // its header, so the link keeps it; bzip2 records none and refuses names that end in .bz2.
    const bool gzip = job.to.id.rawValue == "gzip";
    const fs::path folder = scratch / "stream";
    fs::create_directories(folder);
    const fs::path input = folder / (gzip ? paths::lastComponent(file) : std::string("payload"));
    std::error_code ec;
    fs::create_hard_link(file, input, ec);
    if (ec) fs::copy_file(file, input);

    constexpr const char* kSuffix = ".kolvex-stream";
    const std::vector<std::string> arguments =
        gzip ? std::vector<std::string>{"-f", "-S", kSuffix, "--", input.string()}
             : std::vector<std::string>{"-f", "--", input.string()};
    const fs::path stream = input.string() + (gzip ? kSuffix : ".bz2");
    const auto result = ProcessRunner().run(program, arguments, std::nullopt, {}, {}, std::move(stop));
    const auto size = m_files->size(stream);
    if (result.exitCode != 0)
        throw ErrorMapper::map(ErrorMapper::Program::compressor, result.exitCode, result.standardErrorData, job, *m_files);
    if (!size || *size < 1) throw ConversionError::backendFailure(m_id.rawValue, result.exitCode, result.standardErrorData);
    m_files->install(stream, job.destination);
    return job.destination;
}

}  // namespace kolvex
