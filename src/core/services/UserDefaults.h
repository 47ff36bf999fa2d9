// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

namespace kolvex {

// Bytes stored under a key; kept apart from text so a reader can tell the two kinds apart.
struct DefaultsData {
    std::vector<uint8_t> bytes;

    DefaultsData() = default;
    explicit DefaultsData(std::vector<uint8_t> value) : bytes(std::move(value)) {}
    static DefaultsData fromText(std::string_view text) { return DefaultsData({text.begin(), text.end()}); }
    std::string text() const { return std::string(bytes.begin(), bytes.end()); }
    bool operator==(const DefaultsData&) const = default;
};

// A typed key-value store for the user's settings and small records. Every member may be
// called from any thread: implementations guard their state with one mutex.
class UserDefaults {
public:
    using Value = std::variant<bool, int64_t, double, std::string, DefaultsData>;

    virtual ~UserDefaults() = default;

    virtual std::optional<Value> value(const std::string& key) const = 0;
    virtual void set(const std::string& key, Value value) = 0;
    virtual void remove(const std::string& key) = 0;

    // Typed reads: nothing when the key is absent or holds another kind of value.
    std::optional<DefaultsData> data(const std::string& key) const;
    std::optional<std::string> string(const std::string& key) const;
    std::optional<bool> boolean(const std::string& key) const;
    std::optional<int64_t> integer(const std::string& key) const;

    // The application's store: the JSON file of `JsonFileUserDefaults::defaultPath()`,
    // opened on first use and shared by every thread.
    static UserDefaults& standard();
};

// In memory only; for tests.
class InMemoryUserDefaults final : public UserDefaults {
public:
    std::optional<Value> value(const std::string& key) const override;
    void set(const std::string& key, Value value) override;
    void remove(const std::string& key) override;

private:
    mutable std::mutex m_mutex;
    std::map<std::string, Value> m_values;
};

// One JSON file holding every key, each value tagged with its kind:
//   {"KolvexPreferences": {"type": "data", "json": {"appearance": "system", …}},
//    "Blob": {"type": "data", "value": "<base64>"}, "X": {"type": "bool", "value": true}}
// Data that is compact JSON text is stored as readable JSON; other data as base64 (the form
// earlier versions wrote for every data value, still read).
// Read once when opened; every change rewrites the whole file atomically (temporary file in
// the same folder, then rename). A file that is not JSON is kept aside as
// "<name>.corrupt" before the first write; entries this version cannot read are written back
// unchanged, so nothing another key holds is lost.
class JsonFileUserDefaults final : public UserDefaults {
public:
    explicit JsonFileUserDefaults(std::filesystem::path file);

    // A settings file larger than this is not read: the defaults are used, it is logged, and the
    // file is set aside (not written over) at the first save.
    static constexpr size_t maxFileSize = size_t{1} << 20;

    // $XDG_CONFIG_HOME/kolvex/defaults.json, else ~/.config/kolvex/defaults.json.
    // `environment` reads a variable (std::getenv when not given).
    static std::filesystem::path defaultPath(
        const std::function<const char*(const char*)>& environment = nullptr);

    const std::filesystem::path& file() const { return m_file; }

    std::optional<Value> value(const std::string& key) const override;
    void set(const std::string& key, Value value) override;
    void remove(const std::string& key) override;

private:
    void load();
    // Writes everything; logs and keeps the old file when writing fails. Holds m_mutex.
    void persistLocked();

    std::filesystem::path m_file;
    mutable std::mutex m_mutex;
    std::map<std::string, Value> m_values;
    std::map<std::string, nlohmann::json> m_unreadable;  // entries kept as they were found
    bool m_setAsideCorruptFile = false;
};

}  // namespace kolvex
