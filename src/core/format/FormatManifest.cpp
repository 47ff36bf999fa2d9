// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/format/FormatManifest.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "core/services/PathUtils.h"
#include "core/services/StrictJson.h"

namespace kolvex {

using json::Json;
using json::JsonError;

std::string Format::canonicalExtension() const {
    return extensions.empty() ? id.rawValue : extensions.front();
}

std::string Format::extensionFor(const std::filesystem::path& source) const {
    const std::string name = paths::asciiLower(paths::lastComponent(source));
    // The longest that fits, as the registry reads a name: "x.tar.gz" is "tar.gz", not "gz".
    const std::string* kept = nullptr;
    for (const auto& extension : extensions) {
        const std::string suffix = "." + paths::asciiLower(extension);
        if (name.size() > suffix.size() && name.ends_with(suffix) && (!kept || extension.size() > kept->size()))
            kept = &extension;
    }
    return kept ? *kept : canonicalExtension();
}

namespace {

template <typename Enum, typename Parser>
Enum parseEnum(const std::string& raw, const std::string& path, std::string_view what, Parser parser) {
    auto value = parser(raw);
    if (!value) throw JsonError(fmt::format("{}: \"{}\" is not a valid {}", path, raw, what));
    return *value;
}

template <typename Enum, typename Parser>
std::set<Enum> parseEnumSet(const Json& object, std::string_view key, const std::string& path,
                            std::string_view what, Parser parser) {
    std::set<Enum> out;
    auto raw = json::requireStringArray(object, key, path);
    for (size_t i = 0; i < raw.size(); ++i) {
        out.insert(parseEnum<Enum>(raw[i], fmt::format("{}.{}[{}]", path, key, i), what, parser));
    }
    return out;
}

Format decodeFormat(const Json& j, const std::string& path) {
    json::requireObject(j, path);
    Format f;
    f.id = FormatID(json::requireString(j, "id", path));
    f.category = parseEnum<FormatCategory>(json::requireString(j, "category", path), path + ".category",
                                           "category", formatCategoryFromString);
    f.extensions = json::requireStringArray(j, "extensions", path);
    f.contentTypes = json::requireStringArray(j, "contentTypes", path);
    f.capabilities = parseEnumSet<FormatCapability>(j, "capabilities", path, "capability",
                                                    formatCapabilityFromString);
    f.label = json::requireString(j, "label", path);
    return f;
}

ConversionCapability decodeConversion(const Json& j, const std::string& path) {
    json::requireObject(j, path);
    ConversionCapability c;
    c.from = FormatID(json::requireString(j, "from", path));
    c.to = FormatID(json::requireString(j, "to", path));
    c.engine = EngineID(json::requireString(j, "engine", path));
    c.cost = parseEnum<ConversionCost>(json::requireString(j, "cost", path), path + ".cost", "cost",
                                       conversionCostFromString);
    c.passthroughPossible = json::requireBool(j, "passthroughPossible", path);
    return c;
}

ToolDefinition decodeTool(const Json& j, const std::string& path) {
    json::requireObject(j, path);
    ToolDefinition t;
    t.id = json::requireString(j, "id", path);
    t.label = json::requireString(j, "label", path);
    t.categories = parseEnumSet<FormatCategory>(j, "categories", path, "category", formatCategoryFromString);
    t.engine = EngineID(json::requireString(j, "engine", path));
    t.foldsInputs = json::requireBool(j, "foldsInputs", path);
    if (auto out = json::optionalString(j, "outputFormat", path)) t.outputFormat = FormatID(*out);
    return t;
}

template <typename T, typename Decoder>
std::vector<T> decodeList(const Json& root, std::string_view key, Decoder decoder) {
    const Json& array = json::requireArray(json::requireKey(root, key, ""), key);
    std::vector<T> out;
    out.reserve(array.size());
    for (size_t i = 0; i < array.size(); ++i) out.push_back(decoder(array[i], fmt::format("{}[{}]", key, i)));
    return out;
}

}  // namespace

FormatManifest FormatManifest::decode(std::string_view jsonText) {
    return decodeDocument(json::parse(jsonText));
}

FormatManifest FormatManifest::decodeDocument(const Json& document) {
    json::requireObject(document, "");
    FormatManifest m;
    m.formats = decodeList<Format>(document, "formats", decodeFormat);
    m.conversions = decodeList<ConversionCapability>(document, "conversions", decodeConversion);
    m.tools = decodeList<ToolDefinition>(document, "tools", decodeTool);
    return m;
}

Json FormatManifest::encode() const {
    Json root = Json::object();
    Json formatsJson = Json::array();
    for (const auto& f : formats) {
        Json caps = Json::array();
        for (auto c : f.capabilities) caps.push_back(std::string(toString(c)));
        formatsJson.push_back({{"id", f.id.rawValue},
                               {"category", std::string(toString(f.category))},
                               {"extensions", f.extensions},
                               {"contentTypes", f.contentTypes},
                               {"capabilities", caps},
                               {"label", f.label}});
    }
    Json conversionsJson = Json::array();
    for (const auto& c : conversions) {
        conversionsJson.push_back({{"from", c.from.rawValue},
                                   {"to", c.to.rawValue},
                                   {"engine", c.engine.rawValue},
                                   {"cost", std::string(toString(c.cost))},
                                   {"passthroughPossible", c.passthroughPossible}});
    }
    Json toolsJson = Json::array();
    for (const auto& t : tools) {
        Json cats = Json::array();
        for (auto c : t.categories) cats.push_back(std::string(toString(c)));
        Json tool = {{"id", t.id},
                     {"label", t.label},
                     {"categories", cats},
                     {"engine", t.engine.rawValue},
                     {"foldsInputs", t.foldsInputs}};
        if (t.outputFormat) tool["outputFormat"] = t.outputFormat->rawValue;
        toolsJson.push_back(std::move(tool));
    }
    root["formats"] = std::move(formatsJson);
    root["conversions"] = std::move(conversionsJson);
    root["tools"] = std::move(toolsJson);
    return root;
}

}  // namespace kolvex
