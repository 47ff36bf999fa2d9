#include "core/engines/pdf/StagedOutput.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "core/format/ConversionError.h"
#include "core/services/Uuid.h"

namespace kolvex {

namespace {

// Moves `from` to `to` unless `to` exists; returns 0 or an errno value.
int moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    int error = errno;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP) return error;
    // Volumes without an exclusive rename: a hard link fails when the name is taken.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    error = errno;
    if (error != EPERM && error != EOPNOTSUPP && error != ENOSYS) return error;
    // Volumes without hard links either (FAT): the best left is to look first.
    std::error_code ec;
    if (std::filesystem::symlink_status(to, ec).type() != std::filesystem::file_type::not_found) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

StagedOutput::StagedOutput(std::filesystem::path destination) : m_destination(std::move(destination)) {
    m_temporary = m_destination.parent_path() / (".kolvex-part-" + Uuid::random().toString());
}

StagedOutput::~StagedOutput() {
    if (m_committed) return;
    std::error_code ec;
    std::filesystem::remove(m_temporary, ec);
}

void StagedOutput::commit() {
    const int error = moveWithoutReplacing(m_temporary, m_destination);
    if (error == 0) {
        m_committed = true;
        return;
    }
    if (error == EEXIST) throw ConversionError::outputNameUnavailable(m_destination);
    throw ConversionError::insufficientPermissions(m_destination);
}

}  // namespace kolvex
