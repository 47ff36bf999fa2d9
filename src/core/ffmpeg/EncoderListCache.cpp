// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/EncoderListCache.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "core/services/Log.h"
#include "core/services/PathUtils.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

constexpr const char* kHeader = "kolvex encoder lists 1";

// The file as (key, names line) pairs, most recent first; nothing when it is not ours.
std::vector<std::pair<std::string, std::string>> readEntries(const fs::path& file) {
    std::vector<std::pair<std::string, std::string>> entries;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line) || line != kHeader) return entries;
    std::string key;
    while (std::getline(in, key) && std::getline(in, line)) entries.emplace_back(std::move(key), std::move(line));
    return entries;
}

bool writeWhole(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

}  // namespace

EncoderListCache::EncoderListCache(fs::path folder) : m_file(std::move(folder) / "ffmpeg-encoders") {}

fs::path EncoderListCache::defaultFolder(const std::function<const char*(const char*)>& environment) {
    return paths::xdgBaseFolder("XDG_CACHE_HOME", ".cache", environment) / "kolvex";
}

const EncoderListCache& EncoderListCache::shared() {
    static const EncoderListCache cache(defaultFolder());
    return cache;
}

std::optional<std::string> EncoderListCache::keyOf(const fs::path& program) {
    const std::string path = program.string();
    // One entry is one line.
    if (path.empty() || path.find('\n') != std::string::npos) return std::nullopt;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    const long long modified = static_cast<long long>(info.st_mtim.tv_sec) * 1'000'000'000LL + info.st_mtim.tv_nsec;
    return fmt::format("{} {} {}", static_cast<long long>(info.st_size), modified, path);
}

std::optional<std::set<std::string>> EncoderListCache::load(const fs::path& program) const {
    const auto key = keyOf(program);
    if (!key) return std::nullopt;
    for (const auto& [entryKey, line] : readEntries(m_file)) {
        if (entryKey != *key) continue;
        std::set<std::string> names;
        std::istringstream words(line);
        for (std::string name; words >> name;) names.insert(std::move(name));
        if (names.empty()) return std::nullopt;
        return names;
    }
    return std::nullopt;
}

void EncoderListCache::store(const fs::path& program, const std::set<std::string>& names) const {
    const auto key = keyOf(program);
    if (!key || names.empty()) return;
    std::string text = std::string(kHeader) + "\n" + *key + "\n";
    for (const auto& name : names) text += name + " ";
    text.back() = '\n';
    // The other programs it knows stay, the most recent first; this program's older entries go.
    const std::string path = program.string();
    size_t kept = 1;
    for (const auto& [entryKey, line] : readEntries(m_file)) {
        if (kept == kEntries) break;
        const auto space = entryKey.find(' ', entryKey.find(' ') + 1);
        if (space == std::string::npos || entryKey.substr(space + 1) == path) continue;
        text += entryKey + "\n" + line + "\n";
        ++kept;
    }

    std::error_code error;
    fs::create_directories(m_file.parent_path(), error);
    std::string pattern = (m_file.parent_path() / ".ffmpeg-encoders.XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        Log::engine().warn("Cannot keep the encoder list in {}: {}", m_file.parent_path().string(), std::strerror(errno));
        return;
    }
    const bool written = writeWhole(fd, text);
    ::close(fd);
    if (!written || ::rename(pattern.c_str(), m_file.c_str()) != 0) {
        Log::engine().warn("Cannot keep the encoder list in {}", m_file.string());
        ::unlink(pattern.c_str());
    }
}

}  // namespace kolvex
