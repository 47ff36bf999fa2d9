// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/StagedOutputSet.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "core/services/PathUtils.h"

namespace kolvex {

namespace fs = std::filesystem;

StagedOutputSet::StagedOutputSet(const fs::path& destination, int shards, const FileManagerService& files,
                                 WorkInProgress& record)
    : m_folder(paths::deletingLastComponent(destination) / paths::stem(destination), StagedOutput::Kind::folder, files,
               record),
      m_parent(paths::deletingLastComponent(destination)),
      m_shards(std::max(shards, 1)),
      m_fileManager(&files),
      m_record(&record) {
    for (int shard = 1; shard < m_shards; ++shard) fs::create_directory(m_folder.path() / std::to_string(shard));
}

fs::path StagedOutputSet::add(const fs::path& destination, int shard) {
    if (shard < 0 || shard >= m_shards) throw std::invalid_argument("no such shard in a staged set");
    if (paths::deletingLastComponent(destination) != m_parent) {
        throw std::invalid_argument("a staged set's outputs share its folder");
    }
    const fs::path name = paths::lastComponent(destination);
    if (!m_names.insert(name).second) throw std::invalid_argument("a name twice in one staged set");
    const fs::path folder = shard == 0 ? m_folder.path() : m_folder.path() / std::to_string(shard);
    m_files.push_back(StagedOutput(destination, folder / name, *m_fileManager));
    return m_files.back().path();
}

void StagedOutputSet::commit() { StagedOutput::commitAll(m_files, *m_record); }

std::vector<fs::path> StagedOutputSet::destinations() const {
    std::vector<fs::path> placed;
    placed.reserve(m_files.size());
    for (const auto& file : m_files) placed.push_back(file.destination());
    return placed;
}

}  // namespace kolvex
