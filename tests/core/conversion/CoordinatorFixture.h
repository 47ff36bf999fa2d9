// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "core/conversion/ConversionCoordinator.h"
#include "core/format/FormatRegistry.h"
#include "support/FakeEngines.h"
#include "support/TempDir.h"

namespace kolvex::testing {

// A small manifest that exercises every planning path.
FormatManifest coordinatorManifest();

// File services with injected answers; everything not injected asks the real file system.
class ScriptedFiles final : public FileManagerService {
public:
    std::optional<std::optional<int64_t>> capacity;   // set: what availableCapacity answers
    std::optional<std::optional<int64_t>> sourceSize;  // set: what size() answers
    bool writable = true;

    bool canWrite(const std::filesystem::path& folder) const override {
        return writable && FileManagerService::canWrite(folder);
    }
    std::optional<int64_t> size(const std::filesystem::path& path) const override {
        return sourceSize ? *sourceSize : FileManagerService::size(path);
    }
    std::optional<int64_t> availableCapacity(const std::filesystem::path& path) const override {
        return capacity ? *capacity : FileManagerService::availableCapacity(path);
    }
};

// Collects batch reports from any thread.
class ProgressLog {
public:
    BatchProgressCallback callback() {
        return [this](const BatchProgress& p) {
            std::lock_guard lock(m_mutex);
            m_reports.push_back(p);
        };
    }
    std::vector<BatchProgress> reports() const {
        std::lock_guard lock(m_mutex);
        return m_reports;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<BatchProgress> m_reports;
};

class CoordinatorTest : public ::testing::Test {
protected:
    ConversionCoordinator make(const ConversionCoordinator::Engines& engines, int processors = 4) {
        return ConversionCoordinator(FormatRegistry(coordinatorManifest()), engines, m_files, processors);
    }
    std::filesystem::path file(const std::string& name, const std::string& contents = "source") {
        return m_dir.write(name, contents);
    }
    Format format(const char* id) const { return *FormatRegistry(coordinatorManifest()).format(FormatID(id)); }

    TempDir m_dir;
    std::shared_ptr<ScriptedFiles> m_files = std::make_shared<ScriptedFiles>();
};

std::vector<std::string> names(const std::vector<ConversionJob>& jobs);

}  // namespace kolvex::testing
