#include "core/services/RecentConversions.h"

#include <cmath>
#include <set>
#include <system_error>

#include <nlohmann/json.hpp>

#include "core/services/PathUtils.h"
#include "core/services/StrictJson.h"
#include "core/services/UserDefaults.h"

namespace kolvex {

namespace {

// 2001-01-01 00:00:00 UTC in seconds since 1970.
constexpr double kReferenceEpoch = 978307200.0;

std::vector<RecentConversion> decodeList(const std::string& text) {
    const json::Json document = json::parse(text);
    const json::Json& array = json::requireArray(document, "recent conversions");
    std::vector<RecentConversion> records;
    records.reserve(array.size());
    for (const auto& entry : array) {
        json::requireObject(entry, "recent conversion");
        RecentConversion record;
        record.outputPath = json::requireString(entry, "outputPath", "");
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
        array.push_back({{"outputPath", record.outputPath}, {"sourceName", record.sourceName}, {"date", date}});
    }
    std::string text;
    try {
        text = array.dump();
    } catch (const nlohmann::json::exception&) {
        return;  // a path that is not UTF-8 cannot be written; keep what is stored
    }
    defaults.set(kKey, DefaultsData::fromText(text));
}

void RecentConversionsStore::clear(UserDefaults& defaults) { defaults.remove(kKey); }

}  // namespace kolvex
