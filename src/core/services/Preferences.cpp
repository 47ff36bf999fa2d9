// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/Preferences.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "core/services/Log.h"
#include "core/services/StrictJson.h"
#include "core/services/UserDefaults.h"
#include "core/services/Utf8.h"

namespace kolvex {

namespace {

template <typename Enum, size_t N>
std::optional<Enum> fromRaw(std::string_view raw, const std::array<Enum, N>& all) {
    for (Enum value : all) {
        if (toString(value) == raw) return value;
    }
    return std::nullopt;
}

template <typename Enum, typename Parse>
Enum requireEnum(const json::Json& document, const char* key, Parse parse) {
    const std::string raw = json::requireString(document, key, "");
    if (auto value = parse(raw)) return *value;
    throw json::JsonError(std::string(key) + ": unknown value \"" + raw + "\"");
}

double requireFinite(double value, const char* key) {
    if (!std::isfinite(value)) throw std::invalid_argument(std::string(key) + " is not a finite number");
    return value;
}

}  // namespace

std::string_view toString(Preferences::OutputLocation value) {
    switch (value) {
    case Preferences::OutputLocation::sameAsSource: return "sameAsSource";
    case Preferences::OutputLocation::ask: return "ask";
    case Preferences::OutputLocation::custom: return "custom";
    }
    return "sameAsSource";
}

std::string_view toString(Preferences::ConflictBehaviour value) {
    switch (value) {
    case Preferences::ConflictBehaviour::rename: return "rename";
    case Preferences::ConflictBehaviour::ask: return "ask";
    case Preferences::ConflictBehaviour::replace: return "replace";
    }
    return "rename";
}

std::string_view toString(Preferences::Appearance value) {
    switch (value) {
    case Preferences::Appearance::system: return "system";
    case Preferences::Appearance::light: return "light";
    case Preferences::Appearance::dark: return "dark";
    }
    return "system";
}

std::optional<Preferences::OutputLocation> outputLocationFromString(std::string_view raw) {
    return fromRaw(raw, kAllOutputLocations);
}
std::optional<Preferences::ConflictBehaviour> conflictBehaviourFromString(std::string_view raw) {
    return fromRaw(raw, kAllConflictBehaviours);
}
std::optional<Preferences::Appearance> appearanceFromString(std::string_view raw) {
    return fromRaw(raw, kAllAppearances);
}

std::string label(Preferences::OutputLocation value) {
    switch (value) {
    case Preferences::OutputLocation::sameAsSource: return "Same folder as the original";
    case Preferences::OutputLocation::ask: return "Ask each time";
    case Preferences::OutputLocation::custom: return "A specific folder";
    }
    return "";
}

std::string label(Preferences::ConflictBehaviour value) {
    switch (value) {
    case Preferences::ConflictBehaviour::rename: return "Add a number to the new file";
    case Preferences::ConflictBehaviour::ask: return "Ask what to do";
    case Preferences::ConflictBehaviour::replace: return "Replace the existing file";
    }
    return "";
}

std::string label(Preferences::Appearance value) {
    std::string text(toString(value));
    text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

ConversionOptions Preferences::conversionOptions(FormatCategory category) const {
    ConversionOptions options = ConversionOptions::defaults();
    options.preserveMetadata = preserveMetadata;
    switch (category) {
    case FormatCategory::image:
    case FormatCategory::pdf: options.quality = imageQuality; break;
    case FormatCategory::video:
        options.quality = videoQuality;
        options.audioBitrate = audioBitrate;
        options.encodeSettingsFromPreferences = true;
        break;
    case FormatCategory::audio:
        options.audioBitrate = audioBitrate;
        options.encodeSettingsFromPreferences = true;
        break;
    case FormatCategory::document:
    case FormatCategory::archive: break;
    }
    return options;
}

ConversionIntent Preferences::formatIntent(std::vector<std::filesystem::path> urls, FormatID target,
                                          std::optional<FormatCategory> category) const {
    ConversionOptions options = conversionOptions(category.value_or(FormatCategory::image));
    options.tool.reset();
    ConversionIntent intent{std::move(urls), std::move(target), std::move(options), resolvedOutputDirectory(), {}, runRules()};
    // Files of several kinds: each takes its own kind's options, so a video among pictures is
    // not judged by the picture quality (which would re-encode streams that could be copied).
    if (!category) {
        for (const auto kind : {FormatCategory::image, FormatCategory::pdf, FormatCategory::video, FormatCategory::audio}) {
            ConversionOptions own = conversionOptions(kind);
            own.tool.reset();
            intent.optionsByCategory.emplace(kind, std::move(own));
        }
    }
    return intent;
}

RunRules Preferences::runRules() const {
    RunRules rules;
    // Anything above the largest choice offered is still a cap; a negative one is automatic.
    rules.parallelLimit = static_cast<int>(std::clamp<int64_t>(parallelLimit, 0, 64));
    return rules;
}

std::optional<std::filesystem::path> Preferences::resolvedOutputDirectory() const {
    if (outputLocation != OutputLocation::custom || !customOutputPath || customOutputPath->empty()) return std::nullopt;
    return std::filesystem::path(*customOutputPath);
}

namespace {

// A path is kept as the bytes the file system has. UTF-8 goes into the record as text; a name in
// another encoding (JSON text cannot hold it) goes as its bytes in hexadecimal under the key
// followed by "Bytes", which wins when both are there.
void encodePath(nlohmann::json& document, const std::string& key, const std::optional<std::string>& path) {
    if (!path) return;
    if (isValidUtf8(*path)) {
        document[key] = *path;
        return;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : *path) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0xF];
    }
    document[key + "Bytes"] = hex;
}

std::optional<std::string> decodePath(const nlohmann::json& document, const std::string& key) {
    if (const auto hex = json::optionalString(document, key + "Bytes", "")) {
        const auto digit = [](char c) -> int {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            return -1;
        };
        if (hex->size() % 2 != 0) throw std::invalid_argument(key + "Bytes: an odd number of hexadecimal digits");
        std::string bytes;
        for (size_t i = 0; i < hex->size(); i += 2) {
            const int high = digit((*hex)[i]);
            const int low = digit((*hex)[i + 1]);
            if (high < 0 || low < 0) throw std::invalid_argument(key + "Bytes: not hexadecimal");
            bytes += static_cast<char>(high * 16 + low);
        }
        return bytes;
    }
    return json::optionalString(document, key, "");
}

}  // namespace

nlohmann::json Preferences::encode() const {
    nlohmann::json document = {
        {"outputLocation", toString(outputLocation)},
        {"conflictBehaviour", toString(conflictBehaviour)},
        {"preserveMetadata", preserveMetadata},
        {"showNotifications", showNotifications},
        {"imageQuality", requireFinite(imageQuality, "imageQuality")},
        {"videoQuality", requireFinite(videoQuality, "videoQuality")},
        {"audioBitrate", audioBitrate},
        {"parallelLimit", parallelLimit},
        {"appearance", toString(appearance)},
        {"debugLogging", debugLogging},
        {"triggerModifier", triggerModifier},
    };
    encodePath(document, "customOutputPath", customOutputPath);
    encodePath(document, "ffmpegOverridePath", ffmpegOverridePath);
    encodePath(document, "temporaryDirectoryPath", temporaryDirectoryPath);
    return document;
}

Preferences Preferences::decode(const nlohmann::json& document) {
    json::requireObject(document, "preferences");
    Preferences p;
    p.outputLocation = requireEnum<OutputLocation>(document, "outputLocation", outputLocationFromString);
    p.customOutputPath = decodePath(document, "customOutputPath");
    p.conflictBehaviour = requireEnum<ConflictBehaviour>(document, "conflictBehaviour", conflictBehaviourFromString);
    // Kolvex never replaces a file: a "replace" stored by an earlier version numbers new names.
    if (p.conflictBehaviour == ConflictBehaviour::replace) p.conflictBehaviour = ConflictBehaviour::rename;
    p.preserveMetadata = json::requireBool(document, "preserveMetadata", "");
    p.showNotifications = json::requireBool(document, "showNotifications", "");
    p.imageQuality = json::requireDouble(document, "imageQuality", "");
    p.videoQuality = json::requireDouble(document, "videoQuality", "");
    p.audioBitrate = json::requireInt(document, "audioBitrate", "");
    p.parallelLimit = json::requireInt(document, "parallelLimit", "");
    p.appearance = requireEnum<Appearance>(document, "appearance", appearanceFromString);
    p.ffmpegOverridePath = decodePath(document, "ffmpegOverridePath");
    p.temporaryDirectoryPath = decodePath(document, "temporaryDirectoryPath");
    p.debugLogging = json::requireBool(document, "debugLogging", "");
    p.triggerModifier = json::requireString(document, "triggerModifier", "");
    return p;
}

Preferences PreferencesStore::load(const UserDefaults& defaults) {
    const auto data = defaults.data(kKey);
    if (!data) return Preferences();
    try {
        return Preferences::decode(json::parse(data->text()));
    } catch (const std::exception&) {
        Log::app().info("Preferences could not be decoded; using defaults");
        return Preferences();
    }
}

void PreferencesStore::save(const Preferences& preferences, UserDefaults& defaults) {
    std::string text;
    try {
        text = preferences.encode().dump();
    } catch (const std::exception& error) {
        Log::app().error("Could not save preferences: {}", error.what());
        return;
    }
    defaults.set(kKey, DefaultsData::fromText(text));
}

void PreferencesStore::reset(UserDefaults& defaults) { defaults.remove(kKey); }

}  // namespace kolvex
