// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "core/engines/archive/ArchiveEngine.h"
#include "core/format/ConversionJob.h"
#include "core/services/ProcessRunner.h"
#include "support/FixedCapacityFiles.h"
#include "support/TempDir.h"

namespace kolvex::testing {

// Archives for the archive engine's tests: well-formed ones made with the programs, hostile
// ones written byte by byte where the programs refuse to make them.
struct ArchiveFixtures {
    static const std::filesystem::path bsdtar;
    static const std::filesystem::path gzip;
    static const std::filesystem::path bzip2;
    static const std::filesystem::path xz;

    // False (with a message for GTEST_SKIP) when a program is missing.
    static bool available(std::string* why);
    static ProcessResult run(const std::filesystem::path& program, const std::vector<std::string>& arguments);
    // The entry names bsdtar lists in an archive (without a leading "./").
    static std::vector<std::string> list(const std::filesystem::path& archive);

    static Format format(const std::string& id);
    static ConversionJob job(const std::filesystem::path& source, const std::string& from,
                             const std::filesystem::path& destination, const std::string& to,
                             std::optional<std::string> tool = std::nullopt);
};

// A ustar archive written entry by entry, with whatever names and link targets it is given.
class TarBuilder {
public:
    TarBuilder& file(std::string_view name, std::string_view data);
    TarBuilder& symlink(std::string_view name, std::string_view target);
    TarBuilder& hardlink(std::string_view name, std::string_view target);
    TarBuilder& directory(std::string_view name);
    std::string bytes() const;

private:
    void entry(std::string_view name, char type, std::string_view data, std::string_view link);
    std::string m_bytes;
};

// A ZIP archive of stored (uncompressed) entries; an entry may claim to be encrypted.
class ZipBuilder {
public:
    ZipBuilder& file(std::string_view name, std::string_view data, bool encrypted = false);
    std::string bytes() const;

private:
    struct Entry {
        std::string name;
        uint32_t crc;
        uint32_t size;
        uint32_t offset;
        uint16_t flags;
    };
    std::string m_body;
    std::vector<Entry> m_entries;
};

// A RAR 4 archive holding one stored file.
std::string rarWithStoredFile(std::string_view name, std::string_view data);

std::vector<std::string> sorted(std::vector<std::string> v);
// Every item below `folder`, relative to it, sorted.
std::vector<std::string> entriesOf(const std::filesystem::path& folder);

// Archive engine tests on real files: a work folder for archives and outputs, a scratch root.
class ArchiveEngineFiles : public ::testing::Test {
protected:
    void SetUp() override;

    ArchiveEngine engine(ArchiveEngine::Settings settings = {}) const;
    // An archive of the given files made by bsdtar with the given flags.
    std::filesystem::path pack(const std::string& name, const std::vector<std::pair<std::string, std::string>>& files,
                               std::vector<std::string> flags);
    // The error the job ends in; none when it succeeded.
    std::optional<ConversionError> failure(const ArchiveEngine& e, const ConversionJob& job, std::stop_token stop = {},
                                           ProgressCallback progress = [](double) {});
    bool scratchIsClean() const;

    TempDir dir;
    std::filesystem::path work = dir / "work";
    std::filesystem::path scratchRoot = dir / "scratch";
};

}  // namespace kolvex::testing
