// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "core/services/FileManagerService.h"

namespace kolvex::testing {

// File services on a volume that reports a fixed amount of free space (none: unknown), whatever
// the real disk holds; everything else asks the real file system.
class FixedCapacityFiles final : public FileManagerService {
public:
    explicit FixedCapacityFiles(std::optional<int64_t> free) : m_free(free) {}
    std::optional<int64_t> availableCapacity(const std::filesystem::path&) const override { return m_free; }

private:
    std::optional<int64_t> m_free;
};

}  // namespace kolvex::testing
