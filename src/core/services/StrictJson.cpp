// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/StrictJson.h"

#include <cmath>

#include <fmt/format.h>

namespace kolvex::json {

namespace {
std::string join(std::string_view path, std::string_view key) {
    if (path.empty()) return std::string(key);
    return fmt::format("{}.{}", path, key);
}

[[noreturn]] void wrongType(const Json& value, std::string_view path, std::string_view wanted) {
    throw JsonError(fmt::format("{}: expected {}, found {}", path.empty() ? "<root>" : path, wanted,
                                typeName(value)));
}
}  // namespace

std::string typeName(const Json& value) {
    switch (value.type()) {
    case Json::value_t::null: return "null";
    case Json::value_t::object: return "an object";
    case Json::value_t::array: return "an array";
    case Json::value_t::string: return "a string";
    case Json::value_t::boolean: return "a Boolean";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float: return "a number";
    case Json::value_t::binary: return "binary data";
    case Json::value_t::discarded: return "nothing";
    }
    return "an unknown value";
}

bool nestsDeeperThan(std::string_view text, int limit) {
    int depth = 0;
    bool inString = false, escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

Json parse(std::string_view text) {
    // Reading, copying and freeing a value recurse once per level: a hostile file nested a
    // hundred thousand deep would overflow the stack.
    if (nestsDeeperThan(text, kMaxNesting)) throw JsonError(fmt::format("nested deeper than {} levels", kMaxNesting));
    try {
        return Json::parse(text.begin(), text.end());
    } catch (const Json::exception& e) {
        throw JsonError(fmt::format("not valid JSON: {}", e.what()));
    }
}

const Json& requireObject(const Json& value, std::string_view path) {
    if (!value.is_object()) wrongType(value, path, "an object");
    return value;
}

const Json& requireArray(const Json& value, std::string_view path) {
    if (!value.is_array()) wrongType(value, path, "an array");
    return value;
}

const Json& requireKey(const Json& object, std::string_view key, std::string_view path) {
    requireObject(object, path);
    auto it = object.find(key);
    if (it == object.end()) {
        throw JsonError(fmt::format("{}: missing key \"{}\"", path.empty() ? "<root>" : path, key));
    }
    if (it->is_null()) {
        throw JsonError(fmt::format("{}: null is not allowed", join(path, key)));
    }
    return *it;
}

std::string asString(const Json& value, std::string_view path) {
    if (!value.is_string()) wrongType(value, path, "a string");
    return value.get<std::string>();
}

double asDouble(const Json& value, std::string_view path) {
    if (!value.is_number()) wrongType(value, path, "a number");
    double d = value.get<double>();
    if (!std::isfinite(d)) throw JsonError(fmt::format("{}: the number is not finite", path));
    return d;
}

int64_t asInt(const Json& value, std::string_view path) {
    if (value.is_number_integer()) return value.get<int64_t>();
    if (value.is_number_unsigned()) {
        auto u = value.get<uint64_t>();
        if (u > static_cast<uint64_t>(INT64_MAX)) throw JsonError(fmt::format("{}: integer out of range", path));
        return static_cast<int64_t>(u);
    }
    if (value.is_number_float()) throw JsonError(fmt::format("{}: expected an integer, found a fraction", path));
    wrongType(value, path, "an integer");
}

std::string requireString(const Json& object, std::string_view key, std::string_view path) {
    return asString(requireKey(object, key, path), join(path, key));
}

bool requireBool(const Json& object, std::string_view key, std::string_view path) {
    const Json& v = requireKey(object, key, path);
    if (!v.is_boolean()) wrongType(v, join(path, key), "a Boolean");
    return v.get<bool>();
}

int64_t requireInt(const Json& object, std::string_view key, std::string_view path) {
    return asInt(requireKey(object, key, path), join(path, key));
}

double requireDouble(const Json& object, std::string_view key, std::string_view path) {
    return asDouble(requireKey(object, key, path), join(path, key));
}

std::vector<std::string> requireStringArray(const Json& object, std::string_view key, std::string_view path) {
    const std::string where = join(path, key);
    const Json& array = requireArray(requireKey(object, key, path), where);
    std::vector<std::string> out;
    out.reserve(array.size());
    for (size_t i = 0; i < array.size(); ++i) {
        out.push_back(asString(array[i], fmt::format("{}[{}]", where, i)));
    }
    return out;
}

namespace {
const Json* optionalMember(const Json& object, std::string_view key, std::string_view path) {
    requireObject(object, path);
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}
}  // namespace

std::optional<std::string> optionalString(const Json& object, std::string_view key, std::string_view path) {
    const Json* v = optionalMember(object, key, path);
    if (!v) return std::nullopt;
    return asString(*v, join(path, key));
}

std::optional<int64_t> optionalInt(const Json& object, std::string_view key, std::string_view path) {
    const Json* v = optionalMember(object, key, path);
    if (!v) return std::nullopt;
    return asInt(*v, join(path, key));
}

std::optional<double> optionalDouble(const Json& object, std::string_view key, std::string_view path) {
    const Json* v = optionalMember(object, key, path);
    if (!v) return std::nullopt;
    return asDouble(*v, join(path, key));
}

std::optional<bool> optionalBool(const Json& object, std::string_view key, std::string_view path) {
    const Json* v = optionalMember(object, key, path);
    if (!v) return std::nullopt;
    if (!v->is_boolean()) wrongType(*v, join(path, key), "a Boolean");
    return v->get<bool>();
}

}  // namespace kolvex::json
