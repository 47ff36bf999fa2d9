#include "core/services/StagedOutputSet.h"

#include <stdexcept>

#include "core/services/PathUtils.h"

namespace kolvex {

namespace fs = std::filesystem;

StagedOutputSet::StagedOutputSet(const fs::path& destination, const FileManagerService& files, WorkInProgress& record)
    : m_folder(paths::deletingLastComponent(destination) / paths::stem(destination), StagedOutput::Kind::folder, files,
               record),
      m_parent(paths::deletingLastComponent(destination)),
      m_fileManager(&files) {}

fs::path StagedOutputSet::add(const fs::path& destination) {
    if (paths::deletingLastComponent(destination) != m_parent) {
        throw std::invalid_argument("a staged set's outputs share its folder");
    }
    const fs::path name = paths::lastComponent(destination);
    if (!m_names.insert(name).second) throw std::invalid_argument("a name twice in one staged set");
    m_files.push_back(StagedOutput(destination, m_folder.path() / name, *m_fileManager));
    return m_files.back().path();
}

void StagedOutputSet::commit() { StagedOutput::commitAll(m_files); }

}  // namespace kolvex
