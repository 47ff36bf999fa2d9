// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/RecentConversions.h"

#include <cmath>
#include <optional>
#include <string_view>
#include <set>
#include <system_error>

#include <nlohmann/json.hpp>

#include "core/services/PathUtils.h"
#include "core/services/ProcessRunner.h"
#include "core/services/StrictJson.h"
#include "core/services/UserDefaults.h"

namespace kolvex {

namespace {

// 2001-01-01 00:00:00 UTC in seconds since 1970.
constexpr double kReferenceEpoch = 978307200.0;

// A path that is not UTF-8 has no JSON text: its bytes are kept as hexadecimal beside a
// readable form, so the menu can still show it and reveal the very file.
constexpr const char* kPathBytesKey = "outputPathBytes";

std::string hexOf(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 0xF];
    }
    return out;
}

std::optional<std::string> bytesOfHex(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = digit(hex[i]), low = digit(hex[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
    }
    return out;
}

std::vector<RecentConversion> decodeList(const std::string& text) {
    const json::Json document = json::parse(text);
    const json::Json& array = json::requireArray(document, "recent conversions");
    std::vector<RecentConversion> records;
    records.reserve(array.size());
    for (const auto& entry : array) {
        json::requireObject(entry, "recent conversion");
        RecentConversion record;
        record.outputPath = json::requireString(entry, "outputPath", "");
        if (entry.contains(kPathBytesKey) && entry[kPathBytesKey].is_string()) {
            if (auto bytes = bytesOfHex(entry[kPathBytesKey].get<std::string>())) record.outputPath = *bytes;
        }
        record.sourceName = json::requireString(entry, "sourceName", "");
        record.date = RecentConversion::fromReferenceSeconds(json::requireDouble(entry, "date", ""));
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<RecentConversion> loadAll(const UserDefaults& defaults) {
    const auto data = defaults.data(RecentConversionsStore::kKey);
    if (!data) return {};
    try {
        return decodeList(data->text());
    } catch (const std::exception&) {
        return {};
    }
}

bool itemExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

}  // namespace

RecentConversion::RecentConversion(const std::filesystem::path& output, const std::filesystem::path& source,
                                   Clock::time_point when)
    : outputPath(output.string()), sourceName(paths::lastComponent(source)), date(when) {}

std::string RecentConversion::name() const { return paths::lastComponent(outputPath); }

double RecentConversion::referenceSeconds(Clock::time_point date) {
    const auto sinceUnix = std::chrono::duration<double>(date.time_since_epoch()).count();
    return sinceUnix - kReferenceEpoch;
}

RecentConversion::Clock::time_point RecentConversion::fromReferenceSeconds(double seconds) {
    const auto sinceUnix = std::chrono::duration<double>(seconds + kReferenceEpoch);
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(sinceUnix));
}

std::vector<RecentConversion> RecentConversionsStore::load(const UserDefaults& defaults) {
    std::vector<RecentConversion> kept;
    for (auto& record : loadAll(defaults)) {
        if (itemExists(record.outputPath)) kept.push_back(std::move(record));
    }
    return kept;
}

void RecentConversionsStore::record(const std::vector<RecentConversion>& records, UserDefaults& defaults) {
    if (records.empty()) return;
    std::vector<RecentConversion> merged = records;
    for (auto& record : load(defaults)) merged.push_back(std::move(record));

    std::set<std::string> seen;
    nlohmann::json array = nlohmann::json::array();
    for (const auto& record : merged) {
        if (array.size() == limit) break;
        if (!seen.insert(record.outputPath).second) continue;
        const double date = RecentConversion::referenceSeconds(record.date);
        if (!std::isfinite(date)) return;  // no JSON form: keep what is stored
        nlohmann::json entry{{"outputPath", record.outputPath}, {"sourceName", record.sourceName}, {"date", date}};
        if (!isValidUtf8(record.outputPath)) entry[kPathBytesKey] = hexOf(record.outputPath);
        array.push_back(std::move(entry));
    }
    // Texts that are not UTF-8 are written with replacement characters (the exact output path
    // is kept in its bytes field); one odd name never costs the rest of the batch.
    defaults.set(kKey, DefaultsData::fromText(array.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)));
}

void RecentConversionsStore::clear(UserDefaults& defaults) { defaults.remove(kKey); }

}  // namespace kolvex
