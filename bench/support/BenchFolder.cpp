// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/BenchFolder.h"

#include <stdlib.h>

#include <system_error>

namespace kolvex {

namespace fs = std::filesystem;

BenchFolder::BenchFolder(const std::string& tag) {
    std::string pattern = (fs::temp_directory_path() / ("kolvex-bench-" + tag + "-XXXXXX")).string();
    if (mkdtemp(pattern.data())) m_path = pattern;
}

BenchFolder::~BenchFolder() {
    std::error_code ec;
    if (!m_path.empty()) fs::remove_all(m_path, ec);
}

}  // namespace kolvex
