// SPDX-License-Identifier: GPL-3.0-or-later
#include "ArchiveFixtures.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include <fmt/format.h>

#include "support/BinaryFixtures.h"

namespace kolvex::testing {

const std::filesystem::path ArchiveFixtures::bsdtar = "/usr/bin/bsdtar";
const std::filesystem::path ArchiveFixtures::gzip = "/usr/bin/gzip";
const std::filesystem::path ArchiveFixtures::bzip2 = "/usr/bin/bzip2";
const std::filesystem::path ArchiveFixtures::xz = "/usr/bin/xz";

namespace {

void put16(std::string& out, uint32_t v) {
    out.push_back(char(v & 0xFF));
    out.push_back(char((v >> 8) & 0xFF));
}

void put32(std::string& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

}  // namespace

bool ArchiveFixtures::available(std::string* why) {
    for (const auto& program : {bsdtar, gzip, bzip2, xz}) {
        if (access(program.c_str(), X_OK) != 0) {
            *why = program.string() + " is not installed";
            return false;
        }
    }
    return true;
}

ProcessResult ArchiveFixtures::run(const std::filesystem::path& program, const std::vector<std::string>& arguments) {
    return ProcessRunner().run(program, arguments, std::chrono::seconds(60), {}, {});
}

std::vector<std::string> ArchiveFixtures::list(const std::filesystem::path& archive) {
    std::vector<std::string> names;
    auto result = run(bsdtar, {"-tf", archive.string()});
    std::string text = result.standardOutputData;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string name = text.substr(start, end - start);
        if (name.starts_with("./")) name.erase(0, 2);
        if (!name.empty()) names.push_back(name);
        start = end + 1;
    }
    return names;
}

Format ArchiveFixtures::format(const std::string& id) {
    Format f;
    f.id = FormatID(id);
    f.category = FormatCategory::archive;
    f.extensions = {id == "targz" ? "tar.gz" : id == "gzip" ? "gz" : id};
    f.label = id == "targz" ? "TAR.GZ" : id;
    return f;
}

ConversionJob ArchiveFixtures::job(const std::filesystem::path& source, const std::string& from,
                                   const std::filesystem::path& destination, const std::string& to,
                                   std::optional<std::string> tool) {
    ConversionOptions options = ConversionOptions::defaults();
    options.tool = std::move(tool);
    ConversionCapability capability{FormatID(from), FormatID(to), engine_ids::archive, ConversionCost::subprocess,
                                    false};
    return ConversionJob(source, {}, destination, format(from), format(to), capability, std::move(options));
}

void TarBuilder::entry(std::string_view name, char type, std::string_view data, std::string_view link) {
    if (name.size() > 100 && type != 'x') {
        // A name beyond the header's field goes before it in a pax header: "<length> path=<name>\n",
        // the length counting itself.
        const std::string body = fmt::format(" path={}\n", name);
        size_t length = body.size() + 1;
        while (std::to_string(length).size() + body.size() != length) ++length;
        // Names are bytes, as in the ustar field, whether UTF-8 or not.
        entry("PaxHeader", 'x', "21 hdrcharset=BINARY\n" + std::to_string(length) + body, "");
    }
    std::array<char, 512> header{};
    const auto field = [&](size_t offset, size_t width, std::string_view text) {
        std::memcpy(header.data() + offset, text.data(), std::min(width, text.size()));
    };
    field(0, 100, name);
    field(100, 8, "0000644");
    field(108, 8, "0000000");
    field(116, 8, "0000000");
    field(124, 12, fmt::format("{:011o}", data.size()));
    field(136, 12, "00000000000");
    std::memset(header.data() + 148, ' ', 8);
    header[156] = type;
    field(157, 100, link);
    field(257, 6, "ustar");
    field(263, 2, "00");
    unsigned sum = 0;
    for (unsigned char c : header) sum += c;
    field(148, 8, fmt::format("{:06o}", sum));
    header[154] = '\0';
    m_bytes.append(header.data(), header.size());
    m_bytes.append(data);
    m_bytes.append((512 - data.size() % 512) % 512, '\0');
}

TarBuilder& TarBuilder::file(std::string_view name, std::string_view data) {
    entry(name, '0', data, "");
    return *this;
}

TarBuilder& TarBuilder::symlink(std::string_view name, std::string_view target) {
    entry(name, '2', "", target);
    return *this;
}

TarBuilder& TarBuilder::hardlink(std::string_view name, std::string_view target) {
    entry(name, '1', "", target);
    return *this;
}

TarBuilder& TarBuilder::directory(std::string_view name) {
    entry(name, '5', "", "");
    return *this;
}

std::string TarBuilder::bytes() const { return m_bytes + std::string(1024, '\0'); }

ZipBuilder& ZipBuilder::file(std::string_view name, std::string_view data, bool encrypted) {
    Entry e{std::string(name), crc32(data), uint32_t(data.size()), uint32_t(m_body.size()),
            uint16_t(encrypted ? 1 : 0)};
    put32(m_body, 0x04034b50);
    put16(m_body, 20);
    put16(m_body, e.flags);
    put16(m_body, 0);  // stored
    put16(m_body, 0);
    put16(m_body, 0x21);
    put32(m_body, e.crc);
    put32(m_body, e.size);
    put32(m_body, e.size);
    put16(m_body, uint32_t(e.name.size()));
    put16(m_body, 0);
    m_body += e.name;
    m_body.append(data);
    m_entries.push_back(std::move(e));
    return *this;
}

std::string ZipBuilder::bytes() const {
    std::string out = m_body;
    const auto directoryStart = uint32_t(out.size());
    for (const auto& e : m_entries) {
        put32(out, 0x02014b50);
        put16(out, 0x031e);
        put16(out, 20);
        put16(out, e.flags);
        put16(out, 0);
        put16(out, 0);
        put16(out, 0x21);
        put32(out, e.crc);
        put32(out, e.size);
        put32(out, e.size);
        put16(out, uint32_t(e.name.size()));
        put16(out, 0);
        put16(out, 0);
        put16(out, 0);
        put16(out, 0);
        put32(out, 0100644u << 16);
        put32(out, e.offset);
        out += e.name;
    }
    const auto directorySize = uint32_t(out.size()) - directoryStart;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, uint32_t(m_entries.size()));
    put16(out, uint32_t(m_entries.size()));
    put32(out, directorySize);
    put32(out, directoryStart);
    put16(out, 0);
    return out;
}

std::string rarWithStoredFile(std::string_view name, std::string_view data) {
    // Every block starts with the low 16 bits of the CRC-32 of the rest of its header.
    const auto block = [](const std::string& body) {
        std::string out;
        put16(out, crc32(body) & 0xFFFF);
        return out + body;
    };
    std::string archive;
    archive.push_back(0x73);
    put16(archive, 0);
    put16(archive, 13);
    put16(archive, 0);
    put32(archive, 0);

    std::string file;
    file.push_back(0x74);
    put16(file, 0x8000);  // a data area follows
    put16(file, uint32_t(32 + name.size()));
    put32(file, uint32_t(data.size()));
    put32(file, uint32_t(data.size()));
    file.push_back(3);  // made on Unix
    put32(file, crc32(data));
    put32(file, 0);
    file.push_back(20);
    file.push_back(0x30);  // stored
    put16(file, uint32_t(name.size()));
    put32(file, 0100644);
    file.append(name);

    std::string end;
    end.push_back(0x7b);
    put16(end, 0x4000);
    put16(end, 7);
    return std::string("Rar!\x1a\x07\x00", 7) + block(archive) + block(file) + std::string(data) + block(end);
}

std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<std::string> entriesOf(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (auto& e : std::filesystem::recursive_directory_iterator(folder))
        names.push_back(e.path().lexically_relative(folder).string());
    return sorted(names);
}

void ArchiveEngineFiles::SetUp() {
    std::string why;
    if (!ArchiveFixtures::available(&why)) GTEST_SKIP() << why;
    std::filesystem::create_directories(work);
}

ArchiveEngine ArchiveEngineFiles::engine(ArchiveEngine::Settings settings) const {
    return ArchiveEngine(FileManagerService::shared(), TemporaryFileManager(scratchRoot), std::move(settings));
}

std::filesystem::path ArchiveEngineFiles::pack(const std::string& name,
                                               const std::vector<std::pair<std::string, std::string>>& files,
                                               std::vector<std::string> flags) {
    const std::filesystem::path content = dir / ("content-" + name);
    for (const auto& [path, data] : files) dir.write(std::filesystem::relative(content / path, dir.path()).string(), data);
    const std::filesystem::path archive = work / name;
    flags.insert(flags.end(), {"-cf", archive.string(), "-C", content.string(), "."});
    EXPECT_EQ(ArchiveFixtures::run(ArchiveFixtures::bsdtar, flags).exitCode, 0);
    return archive;
}

std::optional<ConversionError> ArchiveEngineFiles::failure(const ArchiveEngine& e, const ConversionJob& job,
                                                           std::stop_token stop, ProgressCallback progress) {
    try {
        e.convert(job, progress, stop);
    } catch (const ConversionError& error) {
        return error;
    }
    return std::nullopt;
}

bool ArchiveEngineFiles::scratchIsClean() const {
    return !std::filesystem::exists(scratchRoot) || std::filesystem::is_empty(scratchRoot);
}

}  // namespace kolvex::testing
