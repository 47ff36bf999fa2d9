// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/StagedOutputSet.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "core/format/ConversionError.h"
#include "core/services/PathUtils.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

// Inside the hidden folder each file has a short name of its own, "<number>.<extension>" (the
// extension kept for writers that choose a format by it), so that an output whose name and
// folder fit also fits while it is staged.
constexpr size_t kExtensionBytes = 32;
constexpr size_t kNumberBytes = 10;

size_t roomBelow(int shards) {
    return 1 + std::to_string(std::max(shards, 1)).size() + 1 + kNumberBytes + 1 + kExtensionBytes;
}

}  // namespace

StagedOutputSet::StagedOutputSet(const fs::path& destination, int shards, const FileManagerService& files,
                                 WorkInProgress& record)
    : m_folder(paths::deletingLastComponent(destination) / paths::stem(destination), StagedOutput::Kind::folder,
               roomBelow(shards), files, record),
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
    if (!paths::withinSystemLimits(destination)) throw ConversionError::outputPathTooLong(destination);
    const fs::path name = paths::lastComponent(destination);
    if (!m_names.insert(name).second) throw std::invalid_argument("a name twice in one staged set");
    const fs::path folder = shard == 0 ? m_folder.path() : m_folder.path() / std::to_string(shard);
    std::string staged = std::to_string(m_files.size() + 1);
    if (std::string extension = paths::extension(destination); !extension.empty() && extension.size() <= kExtensionBytes)
        staged += "." + extension;
    m_files.push_back(StagedOutput(destination, folder / staged, *m_fileManager));
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
