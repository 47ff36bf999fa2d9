#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/ConversionJob.h"
#include "core/services/ProcessRunner.h"

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

    static uint32_t crc32(std::string_view bytes);

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

}  // namespace kolvex::testing
