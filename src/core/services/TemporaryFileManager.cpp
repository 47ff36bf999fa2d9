#include "core/services/TemporaryFileManager.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "core/services/Log.h"
#include "core/services/Uuid.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

fs::path defaultRoot() {
    const char* tmp = std::getenv("TMPDIR");
    const fs::path base = (tmp && *tmp == '/') ? fs::path(tmp) : fs::path("/tmp");
    return base / ("Kolvex-" + std::to_string(::geteuid()));
}

[[noreturn]] void fail(const char* what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

}  // namespace

TemporaryFileManager::TemporaryFileManager(std::optional<fs::path> root)
    : m_root(root ? std::move(*root) : defaultRoot()) {}

const TemporaryFileManager& TemporaryFileManager::shared() {
    static const TemporaryFileManager instance;
    return instance;
}

// The root sits in a folder every user can write to, so its name is predictable to others:
// it must be ours, a real folder, and closed to everyone else before anything goes in it.
void TemporaryFileManager::ensureRoot() const {
    if (!m_root.parent_path().empty()) fs::create_directories(m_root.parent_path());
    if (::mkdir(m_root.c_str(), 0700) != 0 && errno != EEXIST) fail("Cannot create the scratch root", m_root, errno);
    struct stat info {};
    if (::lstat(m_root.c_str(), &info) != 0) fail("Cannot inspect the scratch root", m_root, errno);
    if (S_ISLNK(info.st_mode) || !S_ISDIR(info.st_mode)) fail("The scratch root is not a folder", m_root, ENOTDIR);
    if (info.st_uid != ::geteuid()) fail("The scratch root belongs to another user", m_root, EPERM);
    if ((info.st_mode & 077) != 0 && ::chmod(m_root.c_str(), 0700) != 0)
        fail("Cannot restrict the scratch root", m_root, errno);
}

TemporaryFileManager::ScratchDirectory TemporaryFileManager::makeScratchDirectory() const {
    ensureRoot();
    fs::path directory = m_root / Uuid::random().toString();
    WorkInProgress::Entry recorded = WorkInProgress::shared().add(fs::absolute(directory));
    if (::mkdir(directory.c_str(), 0700) != 0) fail("Cannot create a scratch folder", directory, errno);
    return ScratchDirectory{std::move(directory), std::move(recorded)};
}

int TemporaryFileManager::reapOrphans(double seconds) const {
    std::error_code error;
    fs::directory_iterator entries(m_root, error);
    if (error) return 0;
    const auto cutoff = fs::file_time_type::clock::now() -
                        std::chrono::duration_cast<fs::file_time_type::duration>(std::chrono::duration<double>(seconds));
    int removed = 0;
    for (const auto& entry : entries) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.front() == '.') continue;
        std::error_code entryError;
        if (!entry.is_directory(entryError) || entry.is_symlink(entryError) || entryError) continue;
        const auto modified = fs::last_write_time(entry.path(), entryError);
        if (entryError || !(modified < cutoff)) continue;
        if (fs::remove_all(entry.path(), entryError) != static_cast<std::uintmax_t>(-1) && !entryError) ++removed;
    }
    if (removed > 0) Log::files().info("Reaped {} orphaned scratch directories", removed);
    return removed;
}

}  // namespace kolvex
