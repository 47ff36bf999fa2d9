// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/UserDefaults.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include "core/services/Log.h"
#include "core/services/PathUtils.h"
#include "core/services/StrictJson.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64Encode(const std::vector<uint8_t>& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t n = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        out += kBase64Alphabet[(n >> 18) & 63];
        out += kBase64Alphabet[(n >> 12) & 63];
        out += kBase64Alphabet[(n >> 6) & 63];
        out += kBase64Alphabet[n & 63];
    }
    if (i < bytes.size()) {
        uint32_t n = uint32_t{bytes[i]} << 16;
        if (i + 1 < bytes.size()) n |= uint32_t{bytes[i + 1]} << 8;
        out += kBase64Alphabet[(n >> 18) & 63];
        out += kBase64Alphabet[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? kBase64Alphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<std::vector<uint8_t>> base64Decode(const std::string& text) {
    if (text.size() % 4 != 0) return std::nullopt;
    auto sextet = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    std::vector<uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int padding = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
        if (padding == 1 && text[i + 2] == '=') return std::nullopt;
        uint32_t n = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + static_cast<size_t>(k)];
            int v = 0;
            if (k >= 4 - padding) {
                if (c != '=') return std::nullopt;
            } else {
                v = sextet(c);
                if (v < 0) return std::nullopt;
            }
            n = (n << 6) | static_cast<uint32_t>(v);
        }
        out.push_back(static_cast<uint8_t>(n >> 16));
        if (padding < 2) out.push_back(static_cast<uint8_t>(n >> 8));
        if (padding < 1) out.push_back(static_cast<uint8_t>(n));
    }
    return out;
}

// Data that is itself JSON (the preferences and recent-conversion records) is stored as that
// JSON, so the file stays readable; only when it reads back byte for byte. Anything else is
// base64 text, which every version reads.
nlohmann::json encodeData(const DefaultsData& data) {
    const std::string text = data.text();
    nlohmann::json parsed = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!parsed.is_discarded() && (parsed.is_object() || parsed.is_array())) {
        std::string again;
        try {
            again = parsed.dump();
        } catch (const nlohmann::json::exception&) {
            again.clear();
        }
        if (again == text) return {{"type", "data"}, {"json", std::move(parsed)}};
    }
    return {{"type", "data"}, {"value", base64Encode(data.bytes)}};
}

nlohmann::json encodeValue(const UserDefaults::Value& value) {
    return std::visit(
        [](const auto& v) -> nlohmann::json {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, bool>) return {{"type", "bool"}, {"value", v}};
            else if constexpr (std::is_same_v<T, int64_t>) return {{"type", "integer"}, {"value", v}};
            else if constexpr (std::is_same_v<T, double>) return {{"type", "double"}, {"value", v}};
            else if constexpr (std::is_same_v<T, std::string>) return {{"type", "string"}, {"value", v}};
            else return encodeData(v);
        },
        value);
}

std::optional<UserDefaults::Value> decodeValue(const nlohmann::json& entry) {
    if (entry.is_object() && entry.contains("type") && entry["type"] == "data" && entry.contains("json")) {
        const auto& json = entry["json"];
        if (!json.is_object() && !json.is_array()) return std::nullopt;
        try {
            return UserDefaults::Value(DefaultsData::fromText(json.dump()));
        } catch (const nlohmann::json::exception&) {
            return std::nullopt;
        }
    }
    if (!entry.is_object() || !entry.contains("type") || !entry.contains("value")) return std::nullopt;
    const auto& type = entry["type"];
    const auto& value = entry["value"];
    if (!type.is_string()) return std::nullopt;
    const std::string kind = type.get<std::string>();
    if (kind == "bool" && value.is_boolean()) return UserDefaults::Value(value.get<bool>());
    if (kind == "integer" && value.is_number_integer()) {
        if (value.is_number_unsigned() && value.get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
        return UserDefaults::Value(value.get<int64_t>());
    }
    if (kind == "double" && value.is_number()) return UserDefaults::Value(value.get<double>());
    if (kind == "string" && value.is_string()) return UserDefaults::Value(value.get<std::string>());
    if (kind == "data" && value.is_string()) {
        if (auto bytes = base64Decode(value.get<std::string>())) return UserDefaults::Value(DefaultsData(std::move(*bytes)));
    }
    return std::nullopt;
}

bool isStorable(const UserDefaults::Value& value) {
    if (const double* d = std::get_if<double>(&value)) return std::isfinite(*d);
    return true;
}

}  // namespace

// ---- UserDefaults ----------------------------------------------------------------------------

std::optional<DefaultsData> UserDefaults::data(const std::string& key) const {
    auto v = value(key);
    if (v) {
        if (auto* d = std::get_if<DefaultsData>(&*v)) return *d;
    }
    return std::nullopt;
}

std::optional<std::string> UserDefaults::string(const std::string& key) const {
    auto v = value(key);
    if (v) {
        if (auto* s = std::get_if<std::string>(&*v)) return *s;
    }
    return std::nullopt;
}

std::optional<bool> UserDefaults::boolean(const std::string& key) const {
    auto v = value(key);
    if (v) {
        if (auto* b = std::get_if<bool>(&*v)) return *b;
    }
    return std::nullopt;
}

std::optional<int64_t> UserDefaults::integer(const std::string& key) const {
    auto v = value(key);
    if (v) {
        if (auto* i = std::get_if<int64_t>(&*v)) return *i;
    }
    return std::nullopt;
}

UserDefaults& UserDefaults::standard() {
    static JsonFileUserDefaults store(JsonFileUserDefaults::defaultPath());
    return store;
}

// ---- InMemoryUserDefaults --------------------------------------------------------------------

std::optional<UserDefaults::Value> InMemoryUserDefaults::value(const std::string& key) const {
    std::lock_guard lock(m_mutex);
    auto it = m_values.find(key);
    if (it == m_values.end()) return std::nullopt;
    return it->second;
}

void InMemoryUserDefaults::set(const std::string& key, Value value) {
    if (!isStorable(value)) {
        Log::app().error("Refusing to store a non-finite number under {}", key);
        return;
    }
    std::lock_guard lock(m_mutex);
    m_values[key] = std::move(value);
}

void InMemoryUserDefaults::remove(const std::string& key) {
    std::lock_guard lock(m_mutex);
    m_values.erase(key);
}

// ---- JsonFileUserDefaults --------------------------------------------------------------------

JsonFileUserDefaults::JsonFileUserDefaults(fs::path file) : m_file(std::move(file)) { load(); }

fs::path JsonFileUserDefaults::defaultPath(const std::function<const char*(const char*)>& environment) {
    return paths::xdgBaseFolder("XDG_CONFIG_HOME", ".config", environment) / "kolvex" / "defaults.json";
}

namespace {

enum class SettingsRead { read, unreadable, tooLarge };

// The settings file's text, read only when it is a regular file of at most `limit` bytes: the
// whole file is held in memory and parsed, so its size is checked before anything is read (and
// a FIFO in its place never blocks the launch).
SettingsRead readSettings(const fs::path& file, size_t limit, std::string& text) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return SettingsRead::unreadable;
    struct stat info {};
    SettingsRead outcome = SettingsRead::read;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        outcome = SettingsRead::unreadable;
    } else if (static_cast<uint64_t>(info.st_size) > limit) {
        outcome = SettingsRead::tooLarge;
    } else {
        // One byte more than allowed tells a file that grew since.
        text.resize(limit + 1);
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t got = ::read(fd, text.data() + done, text.size() - done);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) outcome = SettingsRead::unreadable;
            if (got <= 0) break;
            done += static_cast<size_t>(got);
        }
        if (done > limit) outcome = SettingsRead::tooLarge;
        text.resize(outcome == SettingsRead::read ? done : 0);
    }
    ::close(fd);
    return outcome;
}

}  // namespace

void JsonFileUserDefaults::load() {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(m_file, ec))) return;
    std::string text;
    const SettingsRead read = readSettings(m_file, maxFileSize, text);
    if (read == SettingsRead::tooLarge) {
        // Set aside at the first save, as an unreadable file is: never written over.
        Log::app().error("The settings file {} is larger than {} bytes; starting from defaults", m_file.string(),
                         maxFileSize);
        m_setAsideCorruptFile = true;
        return;
    }
    // A file nested too deep is as unreadable as one that is not JSON: it must never stop launch.
    const bool tooDeep = json::nestsDeeperThan(text, json::kMaxNesting);
    nlohmann::json document =
        tooDeep ? nlohmann::json(nlohmann::json::value_t::discarded)
                : nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (read != SettingsRead::read || document.is_discarded() || !document.is_object()) {
        Log::app().error("The settings file {} could not be read; starting from defaults", m_file.string());
        m_setAsideCorruptFile = true;
        return;
    }
    for (auto& [key, entry] : document.items()) {
        if (auto value = decodeValue(entry)) m_values.emplace(key, std::move(*value));
        else m_unreadable.emplace(key, entry);
    }
}

std::optional<UserDefaults::Value> JsonFileUserDefaults::value(const std::string& key) const {
    std::lock_guard lock(m_mutex);
    auto it = m_values.find(key);
    if (it == m_values.end()) return std::nullopt;
    return it->second;
}

void JsonFileUserDefaults::set(const std::string& key, Value value) {
    if (!isStorable(value)) {
        Log::app().error("Refusing to store a non-finite number under {}", key);
        return;
    }
    std::lock_guard lock(m_mutex);
    m_unreadable.erase(key);
    m_values[key] = std::move(value);
    persistLocked();
}

void JsonFileUserDefaults::remove(const std::string& key) {
    std::lock_guard lock(m_mutex);
    const bool had = m_values.erase(key) + m_unreadable.erase(key) > 0;
    if (had) persistLocked();
}

void JsonFileUserDefaults::persistLocked() {
    const fs::path folder = m_file.parent_path();
    std::error_code ec;
    if (!folder.empty() && !fs::exists(folder, ec)) {
        fs::create_directories(folder, ec);
        if (!ec) ::chmod(folder.c_str(), 0700);
    }
    if (m_setAsideCorruptFile) {
        fs::path aside = m_file;
        aside += ".corrupt";
        fs::rename(m_file, aside, ec);
        if (ec) {
            Log::app().error("Could not set aside the unreadable settings file: {}", ec.message());
            return;  // never write over a file that may still hold the user's settings
        }
        m_setAsideCorruptFile = false;
    }

    nlohmann::json document = nlohmann::json::object();
    for (const auto& [key, entry] : m_unreadable) document[key] = entry;
    for (const auto& [key, value] : m_values) document[key] = encodeValue(value);
    const std::string text = document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";

    std::string pattern = (folder.empty() ? fs::path(".") : folder).string() + "/." + m_file.filename().string() + ".XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        Log::app().error("Could not write the settings file {}: {}", m_file.string(), std::strerror(errno));
        return;
    }
    int error = 0;
    for (size_t done = 0; done < text.size();) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        done += static_cast<size_t>(put);
    }
    if (!error && ::fchmod(fd, 0600) != 0) error = errno;
    if (!error && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && !error) error = errno;
    if (!error && ::rename(pattern.c_str(), m_file.c_str()) != 0) error = errno;
    if (error) {
        ::unlink(pattern.c_str());
        Log::app().error("Could not write the settings file {}: {}", m_file.string(), std::strerror(error));
    }
}

}  // namespace kolvex
