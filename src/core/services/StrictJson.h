// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

// Strict reading of JSON values: no silent bool→int or float→int, no null where a value is
// required, no non-finite numbers. Every failure names the key path that is wrong.
namespace kolvex::json {

using Json = nlohmann::json;

class JsonError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How deep arrays and objects may nest in a document we read: far beyond any of ours.
inline constexpr int kMaxNesting = 64;

// Whether arrays and objects in `text` nest deeper than `limit`; linear, and reads no further
// than it must. Text that is not JSON may give either answer.
bool nestsDeeperThan(std::string_view text, int limit);

// Parses a whole document; throws JsonError naming the position when it is not JSON or when it
// nests deeper than kMaxNesting.
Json parse(std::string_view text);

const Json& requireObject(const Json& value, std::string_view path);
const Json& requireArray(const Json& value, std::string_view path);
const Json& requireKey(const Json& object, std::string_view key, std::string_view path);

std::string requireString(const Json& object, std::string_view key, std::string_view path);
bool requireBool(const Json& object, std::string_view key, std::string_view path);
int64_t requireInt(const Json& object, std::string_view key, std::string_view path);
double requireDouble(const Json& object, std::string_view key, std::string_view path);
std::vector<std::string> requireStringArray(const Json& object, std::string_view key, std::string_view path);

// Absent or null gives nothing; any other non-matching type fails.
std::optional<std::string> optionalString(const Json& object, std::string_view key, std::string_view path);
std::optional<int64_t> optionalInt(const Json& object, std::string_view key, std::string_view path);
std::optional<double> optionalDouble(const Json& object, std::string_view key, std::string_view path);
std::optional<bool> optionalBool(const Json& object, std::string_view key, std::string_view path);

// The value itself (not a member) as the given type.
std::string asString(const Json& value, std::string_view path);
double asDouble(const Json& value, std::string_view path);
int64_t asInt(const Json& value, std::string_view path);

// Describes a JSON type for messages ("a string", "null", …).
std::string typeName(const Json& value);

}  // namespace kolvex::json
