// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/StagedOutput.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/format/ConversionError.h"
#include "core/services/OutputNaming.h"
#include "core/services/PathUtils.h"
#include "core/services/Uuid.h"
#include "core/services/UniqueFd.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

// A name's bytes up to `limit`, never cut inside a UTF-8 character.
std::string cut(std::string text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

// The hidden name beside `destination`, with `room` bytes of path to spare below it (a staged
// folder's files). The part taken from the output's own name gives way first, so that a long
// name or a deep folder does not fail for want of room for our hidden name.
fs::path stagedName(const fs::path& destination, size_t room) {
    // The whole hidden name must fit the 255-byte limit of a name.
    const std::string extension = cut(paths::extension(destination), 32);
    const std::string suffix = ".kolvex-" + Uuid::random().toString() + (extension.empty() ? "" : "." + extension);
    std::string stem = paths::stem(destination);
    if (stem.empty() || stem.front() == '.') stem.insert(stem.begin(), '_');
    const fs::path folder = paths::deletingLastComponent(destination);
    const size_t fixed = paths::absolute(folder).string().size() + 2 + suffix.size() + room;
    const size_t keep = std::min<size_t>(160, fixed < paths::kMaxPathBytes ? paths::kMaxPathBytes - fixed : 0);
    std::string kept = cut(stem, keep);
    if (kept.empty()) kept = "_";
    return folder / ("." + kept + suffix);
}

// A folder that refuses new files, or is not there (any more), cannot take the output.
bool isPermissionError(int error) {
    return error == EACCES || error == EPERM || error == EROFS || error == ENOENT || error == ENOTDIR;
}

int writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

int copyAll(int from, int to) {
    std::string buffer(1 << 20, '\0');
    for (;;) {
        const ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (got == 0) return 0;
        if (const int error = writeAll(to, buffer.data(), static_cast<size_t>(got))) return error;
    }
}

}  // namespace

StagedOutput::StagedOutput(fs::path destination, Kind kind, const FileManagerService& files, WorkInProgress& record)
    : StagedOutput(std::move(destination), kind, 0, files, record) {}

StagedOutput::StagedOutput(fs::path destination, Kind kind, size_t room, const FileManagerService& files,
                           WorkInProgress& record)
    : m_destination(std::move(destination)), m_staged(stagedName(m_destination, room)), m_files(&files),
      m_folder(kind == Kind::folder) {
    // Refused before anything is made: the system would refuse the name at the first write or
    // at the move into place, after all the work.
    if (!paths::withinSystemLimits(m_destination) || !paths::withinSystemLimits(m_staged, room))
        throw ConversionError::outputPathTooLong(m_destination);
    // Recorded before it exists, so a kill at any moment leaves nothing the next launch misses.
    m_entry = record.add(paths::absolute(m_staged));
    if (kind == Kind::folder && ::mkdir(m_staged.c_str(), 0777) != 0) {
        const int error = errno;
        if (isPermissionError(error)) throw ConversionError::insufficientPermissions(m_destination);
        throw fs::filesystem_error("Could not create the folder", m_staged, std::error_code(error, std::generic_category()));
    }
}

bool StagedOutput::fits(const fs::path& destination) {
    return paths::withinSystemLimits(destination) && paths::withinSystemLimits(stagedName(destination, 0));
}

StagedOutput::StagedOutput(fs::path destination, fs::path staged, const FileManagerService& files)
    : m_destination(std::move(destination)), m_staged(std::move(staged)), m_files(&files) {}

StagedOutput::StagedOutput(StagedOutput&& other) noexcept
    : m_destination(std::move(other.m_destination)),
      m_staged(std::move(other.m_staged)),
      m_files(other.m_files),
      m_folder(other.m_folder),
      m_entry(std::move(other.m_entry)),
      m_committed(other.m_committed),
      m_placed(other.m_placed) {
    other.m_staged.clear();
    other.m_committed = true;
}

StagedOutput::~StagedOutput() {
    if (!m_committed && !m_staged.empty()) WorkInProgress::removeItem(m_staged);
    m_entry.drop();
}

void StagedOutput::write(std::string_view bytes) {
    UniqueFd file(::open(m_staged.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
    int error = file.get() < 0 ? errno : writeAll(file.get(), bytes.data(), bytes.size());
    if (file.get() >= 0) {
        const int closing = file.close();
        if (!error) error = closing;
    }
    if (!error) return;
    if (isPermissionError(error)) throw ConversionError::insufficientPermissions(m_destination);
    if (error == ENOSPC) {
        const auto available = m_files->availableCapacity(m_staged);
        throw ConversionError::insufficientDiskSpace(static_cast<int64_t>(bytes.size()), available.value_or(0));
    }
    throw fs::filesystem_error("Could not write the output", m_staged, std::error_code(error, std::generic_category()));
}

void StagedOutput::adopt(const fs::path& file) {
    if (::rename(file.c_str(), m_staged.c_str()) == 0) return;
    if (errno != EXDEV) {
        const int error = errno;
        if (isPermissionError(error)) throw ConversionError::insufficientPermissions(m_destination);
        throw fs::filesystem_error("Could not move the output", file, m_staged, std::error_code(error, std::generic_category()));
    }
    // Another volume: copy into the staged file, then let the original go.
    UniqueFd in(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) {
        throw fs::filesystem_error("Could not read the output", file, std::error_code(errno, std::generic_category()));
    }
    UniqueFd out(::open(m_staged.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
    int error = out.get() < 0 ? errno : copyAll(in.get(), out.get());
    if (out.get() >= 0) {
        const int closing = out.close();
        if (!error) error = closing;
    }
    if (error) {
        if (isPermissionError(error)) throw ConversionError::insufficientPermissions(m_destination);
        if (error == ENOSPC) {
            const auto size = m_files->size(file);
            throw ConversionError::insufficientDiskSpace(size.value_or(0), m_files->availableCapacity(m_staged).value_or(0));
        }
        throw fs::filesystem_error("Could not copy the output", file, m_staged, std::error_code(error, std::generic_category()));
    }
    ::unlink(file.c_str());
}

void StagedOutput::commit(const fs::path& destination) { place(destination); }

void StagedOutput::commit() {
    struct stat staged {};
    if (::lstat(m_staged.c_str(), &staged) != 0) {
        throw fs::filesystem_error("The output was not written", m_staged, std::error_code(errno, std::generic_category()));
    }
    commit(staged);
}

void StagedOutput::commit(const struct stat& staged) {
    try {
        place(m_destination, &staged);
        return;
    } catch (const ConversionError& error) {
        if (error.kind() != ConversionError::Kind::outputNameUnavailable) throw;
    }
    // Another program, or another job, took the name after it was chosen: the finished work is
    // kept under the next free one rather than thrown away.
    const fs::path wanted = m_destination;
    const auto exists = [this](const fs::path& path) { return m_files->itemExists(path); };
    for (const fs::path& candidate : OutputNaming::successors(wanted, !m_folder, exists)) {
        try {
            place(candidate, &staged);
            return;
        } catch (const ConversionError& error) {
            if (error.kind() != ConversionError::Kind::outputNameUnavailable) throw;
        }
    }
    throw ConversionError::outputNameUnavailable(wanted);
}

void StagedOutput::place(const fs::path& destination, const struct stat* staged) {
    struct stat info {};
    if (staged) {
        info = *staged;
    } else if (::lstat(m_staged.c_str(), &info) != 0) {
        throw fs::filesystem_error("The output was not written", m_staged, std::error_code(errno, std::generic_category()));
    }
    try {
        m_files->moveWithoutReplacing(m_staged, destination);
    } catch (const fs::filesystem_error& error) {
        if (isPermissionError(error.code().value())) throw ConversionError::insufficientPermissions(destination);
        throw;
    }
    m_destination = destination;
    m_committed = true;
    // A move keeps the item's device, inode, size and modification time: what withdraw() compares.
    m_placed = info;
    m_entry.drop();
}

void StagedOutput::withdraw() noexcept {
    if (!m_committed || m_staged.empty()) return;
    // An inode number alone may be handed to a file made after ours went: its modification time
    // and size tell them apart, as they do for the sweep.
    struct stat info {};
    if (m_placed.st_ino == 0 || ::lstat(m_destination.c_str(), &info) != 0 || info.st_dev != m_placed.st_dev ||
        info.st_ino != m_placed.st_ino || (info.st_mode & S_IFMT) != (m_placed.st_mode & S_IFMT) ||
        info.st_mtim.tv_sec != m_placed.st_mtim.tv_sec || info.st_mtim.tv_nsec != m_placed.st_mtim.tv_nsec ||
        info.st_size != m_placed.st_size) {
        return;
    }
    WorkInProgress::removeItem(m_destination);
    m_committed = false;
    m_staged.clear();
}

fs::path StagedOutput::writeAtomically(const fs::path& destination, std::string_view bytes,
                                       const FileManagerService& files) {
    StagedOutput output(destination, Kind::file, files);
    output.write(bytes);
    output.commit();
    return output.destination();
}

void StagedOutput::commitAll(std::vector<StagedOutput>& outputs, WorkInProgress& record) {
    // Each item is read once: for the record, and for its move.
    std::vector<std::pair<struct stat, fs::path>> moves;
    moves.reserve(outputs.size());
    for (const auto& output : outputs) {
        struct stat info {};
        if (::lstat(output.m_staged.c_str(), &info) != 0) info = {};
        moves.emplace_back(info, paths::absolute(output.m_destination));
    }
    // Dropped when the set is whole, or once those committed are taken back.
    const WorkInProgress::Entry set = record.addSet(moves);
    for (size_t i = 0; i < outputs.size(); ++i) {
        try {
            if (moves[i].first.st_ino == 0) {
                throw fs::filesystem_error("The output was not written", outputs[i].m_staged,
                                           std::make_error_code(std::errc::no_such_file_or_directory));
            }
            outputs[i].commit(moves[i].first);
            if (paths::absolute(outputs[i].m_destination) != moves[i].second) set.movedTo(paths::absolute(outputs[i].m_destination));
        } catch (...) {
            for (size_t j = 0; j < i; ++j) outputs[j].withdraw();
            throw;
        }
    }
}

}  // namespace kolvex
