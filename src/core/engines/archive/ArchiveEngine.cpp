// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/archive/ArchiveEngine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <system_error>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "core/conversion/CompressionGuard.h"
#include "core/engines/archive/ArchiveNames.h"
#include "core/engines/archive/ArchiveSpace.h"
#include "core/engines/archive/ArchiveSurvey.h"
#include "core/engines/archive/SingleStream.h"
#include "core/services/Cancellation.h"
#include "core/services/ErrorMapper.h"
#include "core/services/FolderTree.h"
#include "core/services/Log.h"
#include "core/services/OutputNaming.h"
#include "core/services/PathUtils.h"
#include "core/services/ProcessRunner.h"
#include "core/services/StagedOutput.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

bool isExecutableFile(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The formats that are one compressed stream: as a target, one file (or a tar of several); as a
// source, one file unless a tar is inside.
bool isStreamFormat(const Format& format) {
    const auto& id = format.id.rawValue;
    return id == "gzip" || id == "bz2" || id == "xz";
}

// Makes a folder's tree removable when the scratch folder around it is cleaned up.
class RemovableTree {
public:
    explicit RemovableTree(fs::path folder) : m_folder(std::move(folder)) {}
    ~RemovableTree() { WorkInProgress::removeItem(m_folder); }
    RemovableTree(const RemovableTree&) = delete;
    RemovableTree& operator=(const RemovableTree&) = delete;

private:
    fs::path m_folder;
};

// Moves a finished folder or file into place under the first free name among "<stem>",
// "<stem> 2" … "<stem> 999" (with `extension`) in `parent`; never over an existing item.
fs::path commitToFreeName(StagedOutput& staged, const fs::path& parent, const std::string& stem,
                          const std::string& extension = {}) {
    fs::path candidate;
    for (int number = 1; number <= OutputNaming::maxCollisionAttempts; ++number) {
        const auto suffix = number == 1 ? std::nullopt : std::optional<int>(number);
        candidate = parent / OutputNaming::filename(stem, suffix, extension);
        try {
            staged.commit(candidate);
            return candidate;
        } catch (const ConversionError& error) {
            if (error.kind() != ConversionError::Kind::outputNameUnavailable) throw;
        }
    }
    throw ConversionError::outputNameUnavailable(candidate);
}

bool isEmptyFolder(const fs::path& folder) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    return ec || it == fs::directory_iterator();
}

// Whether the symlink `link`, followed as the system would, stays inside `root` (a canonical
// path). Its target is resolved from the link's folder: a dangling target is judged by where it
// would be, not by the link's own place.
bool resolvesInside(const fs::path& link, const fs::path& root) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    if (ec) return false;
    const fs::path resolved = fs::weakly_canonical(target.is_absolute() ? target : link.parent_path() / target, ec);
    if (ec) return false;  // a loop, or a path the system cannot resolve
    const auto [rootEnd, unused] = std::mismatch(root.begin(), root.end(), resolved.begin(), resolved.end());
    return rootEnd == root.end();
}

// The name a bare stream's file takes: the stream's name without its compression extension.
std::string streamFileName(const fs::path& source) {
    const std::string name = paths::stem(source);
    return name.empty() || name == "." || name == ".." ? std::string("data") : name;
}

void markUtf8NamesOnly(const fs::path& zip) {
    try {
        ArchiveNames::clearFalseUtf8Marks(zip);
    } catch (const std::system_error&) {
        throw;
    } catch (const std::exception& error) {
        throw ConversionError::backendFailure(std::string(engine_ids::archive.rawValue), -1,
                                              std::string("could not read back the ZIP just written: ") + error.what());
    }
}

// What the user should know of a job that had to change things on the way.
std::optional<std::string> noteOf(int dropped, const std::vector<std::string>& escaped, const Format& target) {
    std::vector<std::string> notes;
    if (dropped == 1) notes.push_back("One entry was left out: a link leading outside the archive, or a special file.");
    if (dropped > 1)
        notes.push_back(fmt::format("{} entries were left out: links leading outside the archive, or special files.", dropped));
    if (!escaped.empty()) {
        const bool one = escaped.size() == 1;
        // One of them as an example, when it is short enough to fit beside the rest.
        const std::string example = escaped.front().size() <= 40 ? " (" + escaped.front() + ")" : "";
        notes.push_back(fmt::format("{} {} not UTF-8, which {} cannot store: {} now {} %XX for each odd byte{}.",
                                    escaped.size(), one ? "name was" : "names were", target.label, one ? "it" : "they",
                                    one ? "has" : "have", example));
    }
    if (notes.empty()) return std::nullopt;
    return fmt::format("{}", fmt::join(notes, " "));
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
    // bsdtar converts names through the locale: one without UTF-8 (LANG unset, or "C") turns
    // every name beyond ASCII into question marks in a 7-Zip archive. Names are always UTF-8 here.
    const auto result = ProcessRunner({"LC_ALL=C.UTF-8"}).run(m_settings.tar, arguments, m_settings.tarTimeout, {}, {},
                                                              std::move(stop));
    // Phrases are looked for in the raw bytes: a file name that is not UTF-8 must not hide them.
    if (result.exitCode != 0)
        throw ErrorMapper::map(ErrorMapper::Program::bsdtar, result.exitCode, result.standardErrorData, job, *m_files);
}

std::vector<fs::path> ArchiveEngine::convert(const ConversionJob& job, const ProgressCallback& progress,
                                             std::stop_token stop) const {
    return convertReporting(job, progress, std::move(stop)).outputs;
}

ConversionOutcome ArchiveEngine::convertReporting(const ConversionJob& job, const ProgressCallback& progress,
                                                  std::stop_token stop) const {
    throwIfStopRequested(stop);
    // Read before anything is written: an encrypted archive is refused at once, and what it
    // declares it holds is checked against the room there is.
    const ArchiveSurvey survey = ArchiveSurvey::of(
        job.source, stop, isStreamFormat(job.from) ? ArchiveSurvey::Source::compressedStream : ArchiveSurvey::Source::archive);
    // Two entries under one name would unpack over each other: one of them would be lost.
    if (survey.clash) throw ConversionError::clashingArchiveEntries(job.source, *survey.clash);
    Findings findings;
    ConversionOutcome outcome;
    const auto work = [&](const fs::path& archive) {
        return job.options.tool == "extract" ? extract(job, survey, archive, progress, stop, findings)
                                             : repack(job, survey, archive, progress, stop, findings);
    };
    if (job.from.id.rawValue == "zip" && ArchiveNames::countFalseUtf8Marks(job.source) > 0) {
        // A ZIP whose names say UTF-8 without being so (as bsdtar writes them under a UTF-8
        // locale) is read from a copy that says so only of the names that are.
        outcome.outputs = m_temporary.withScratchDirectory([&](const fs::path& scratch) {
            const fs::path readable = scratch / "names.zip";
            fs::copy_file(job.source, readable);
            try {
                ArchiveNames::clearFalseUtf8Marks(readable);
            } catch (const std::runtime_error&) {
                throw ConversionError::corruptedInput(job.source);
            }
            return work(readable);
        });
    } else {
        outcome.outputs = work(job.source);
    }
    outcome.note = noteOf(findings.dropped, findings.escaped, job.to);
    return outcome;
}

int ArchiveEngine::dropUnsafeEntries(const fs::path& folder) {
    std::error_code ec;
    const fs::path root = fs::canonical(folder, ec);
    if (ec) return 0;
    // Decided for every entry first: removing one link changes where others lead. Walked by
    // descriptors, so a deep tree costs its depth, not its depth squared.
    std::vector<fs::path> unsafe;
    folder_tree::visit(root, [&](const fs::path& item, const struct stat& info) {
        const bool special = S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) || S_ISBLK(info.st_mode) || S_ISCHR(info.st_mode);
        if (special || (S_ISLNK(info.st_mode) && !resolvesInside(item, root))) unsafe.push_back(item);
    });
    int dropped = 0;
    for (const auto& path : unsafe) {
        if (::unlink(path.c_str()) == 0) ++dropped;
    }
    if (dropped > 0) Log::engine().info("Dropped {} links leading outside the archive and special files", dropped);
    return dropped;
}

int ArchiveEngine::unpack(const ConversionJob& job, const ArchiveSurvey& survey, const fs::path& archive,
                          const fs::path& folder,
                          const std::vector<std::string>& extraFlags, std::stop_token stop) const {
    survey.refusePathsBeyond(folder, job.source);
    SingleStream::Meter meter;
    guarded(job, survey, folder, [&](std::stop_token token) {
        if (survey.singleStream) {
            SingleStream::unpack(job.source, folder / streamFileName(job.source), token, &meter);
            return;
        }
        std::vector<std::string> arguments{"-xf", paths::absolute(archive).string(), "-C",
                                           paths::absolute(folder).string(), "--no-same-owner"};
        arguments.insert(arguments.end(), extraFlags.begin(), extraFlags.end());
        run(arguments, job, token);
    }, stop, survey.singleStream ? &meter : nullptr);
    return dropUnsafeEntries(folder);
}

std::vector<fs::path> ArchiveEngine::extract(const ConversionJob& job, const ArchiveSurvey& survey, const fs::path& archive,
                                             const ProgressCallback& progress, std::stop_token stop,
                                             Findings& findings) const {
    // Unpacked under a hidden name beside the final one, which it takes only when everything is
    // out: a failure, a cancel or a kill leaves nothing half-extracted.
    const fs::path parent = paths::deletingLastComponent(job.destination);
    fs::create_directories(parent);
    ensureRoom(survey, parent);
    if (survey.singleStream) {
        refuseStreamBeyondRoom(job, survey, parent);
        // A bare stream is one file: it goes beside the stream, not into a folder of its own.
        const std::string name = streamFileName(job.source);
        StagedOutput staged(parent / name, StagedOutput::Kind::file, *m_files);
        progress(0.1);
        SingleStream::Meter meter;
        guarded(job, survey, parent,
                [&](std::stop_token token) { SingleStream::unpack(job.source, staged.path(), token, &meter); }, stop,
                &meter);
        const fs::path file = commitToFreeName(staged, parent, paths::stem(name), paths::extension(name));
        progress(1.0);
        return {file};
    }
    const std::string stem = OutputNaming::stem(paths::lastComponent(job.source));
    StagedOutput staged(parent / stem, StagedOutput::Kind::folder, *m_files);
    progress(0.1);
    findings.dropped = unpack(job, survey, archive, staged.path(), {}, stop);
    if (isEmptyFolder(staged.path())) throw ConversionError::corruptedInput(job.source);
    const fs::path folder = commitToFreeName(staged, parent, stem);
    progress(1.0);
    return {folder};
}

std::vector<fs::path> ArchiveEngine::repack(const ConversionJob& job, const ArchiveSurvey& survey, const fs::path& archive,
                                            const ProgressCallback& progress, std::stop_token stop,
                                            Findings& findings) const {
    const auto flags = writeFlags(job.to);
    if (flags.empty()) throw ConversionError::unsupportedCombination(job.from.label, job.to.label);

    // A plain tar is as large as what it holds, known before anything is written; for the
    // rest, four times the source is asked for.
    const auto outputNeed = ArchiveSpace::plainTar(job, survey, *m_files);
    const auto sourceSize = m_files->size(job.source);
    const auto need = outputNeed ? outputNeed : sourceSize ? std::optional(*sourceSize * 4) : std::nullopt;
    const auto available = m_files->availableCapacity(job.destination);
    if (need && available && *available < *need) throw ConversionError::insufficientDiskSpace(*need, *available);

    return m_temporary.withScratchDirectory([&](const fs::path& scratch) -> std::vector<fs::path> {
        const fs::path contents = scratch / "contents";
        fs::create_directories(contents);
        const RemovableTree removable(contents);
        ensureRoom(survey, contents);
        progress(0.1);

        // Modes as the archive has them, not as our umask would make them.
        if (survey.singleStream) refuseStreamBeyondRoom(job, survey, contents);
        const auto freeBeforeUnpacking = m_files->availableCapacity(job.destination);
        findings.dropped = unpack(job, survey, archive, contents, {"-p"}, stop);
        // Nothing came out (every entry failed, or the "archive" was empty): not a success.
        if (isEmptyFolder(contents)) throw ConversionError::corruptedInput(job.source);
        // Unpacked, the contents tell a plain tar's size exactly, also where nothing said it before.
        const auto tarNeed = job.to.id.rawValue == "tar"
                                 ? std::optional(ArchiveSpace::refuseTarBeyondRoom(contents, job.destination,
                                                                                    freeBeforeUnpacking, *m_files))
                                 : outputNeed;
        progress(0.55);

        // A compress keeps what the stream holds: a tar stays a tar, even of one file.
        const bool holdsTar = isStreamFormat(job.from) && !survey.singleStream;
        const bool keepTar = holdsTar && job.options.tool == "compress";
        if (isStreamFormat(job.to) && !keepTar) {
            const auto files = regularFiles(contents);
            if (const auto program = streamProgram(job.to, m_settings); files.size() == 1 && program) {
                auto written = writeSingleStream(job, files.front(), *program, scratch, stop);
                progress(1.0);
                return {written};
            }
        }

        // 7-Zip stores names as UTF-16: bytes that are not UTF-8 would all become U+FFFD, and two
        // names differing only there one name. They are written out as %XX instead.
        if (job.to.id.rawValue == "7z") findings.escaped = ArchiveNames::escapeNonUtf8(contents);

        fs::path output = job.destination;
        if (isStreamFormat(job.to)) {
            output = taredName(job.destination);
            if (output != job.destination && fs::exists(fs::symlink_status(output))) {
                // Never over an existing file: the next free numbered name instead.
                output = OutputNaming::destination(output, "tar." + paths::extension(job.destination),
                                                   paths::deletingLastComponent(output),
                                                   [](const fs::path& p) { return fs::exists(fs::symlink_status(p)); });
            }
        }

        // tar writes beside the output under a hidden name; only a complete archive takes the name.
        StagedOutput partial(output, StagedOutput::Kind::file, *m_files);
        std::vector<std::string> arguments = flags;
        arguments.insert(arguments.end(), {"-cf", paths::absolute(partial.path()).string(), "-C",
                                           paths::absolute(contents).string(), "."});
        try {
            run(arguments, job, stop);
        } catch (const ConversionError& error) {
            // The need of a full disk is the archive's, where it can be told, not the source's.
            if (error.kind() != ConversionError::Kind::insufficientDiskSpace || !tarNeed || *tarNeed <= error.required())
                throw;
            throw ConversionError::insufficientDiskSpace(*tarNeed, error.available());
        }
        // A ZIP keeps names as bytes; only those that are UTF-8 may say so.
        if (job.to.id.rawValue == "zip") markUtf8NamesOnly(partial.path());
        progress(0.95);

        const auto size = m_files->size(partial.path());
        if (!size || *size < 1) {
            throw ConversionError::backendFailure(m_id.rawValue, -1, "produced an empty archive");
        }
        // A "compress" that came out no smaller (a zip -9 repacked at tar's default level)
        // leaves the original's bytes instead, named for what they hold: a bare stream goes under
        // the planned name, a compressed tar under the tar's.
        const bool keptSource = CompressionGuard::keepSmaller(job, partial.path()).wasAlreadySmallest;
        if (keptSource && output != job.destination && !holdsTar) {
            commitToFreeName(partial, paths::deletingLastComponent(job.destination), paths::stem(job.destination),
                             paths::extension(job.destination));
        } else {
            partial.commit();
        }
        progress(1.0);
        return {partial.destination()};
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
    StagedOutput output(job.destination, StagedOutput::Kind::file, *m_files);
    output.adopt(stream);
    CompressionGuard::keepSmaller(job, output.path());
    output.commit();
    return output.destination();
}

}  // namespace kolvex
