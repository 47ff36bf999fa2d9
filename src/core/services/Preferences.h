// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "core/format/ConversionJob.h"
#include "core/format/ConversionOptions.h"
#include "core/format/FormatKinds.h"

namespace kolvex {

class UserDefaults;

// The user's settings: one plain value, copied freely between threads.
struct Preferences {
    enum class OutputLocation { sameAsSource, ask, custom };
    enum class ConflictBehaviour { rename, ask, replace };
    enum class Appearance { system, light, dark };

    OutputLocation outputLocation = OutputLocation::sameAsSource;
    // The paths hold the file system's bytes, UTF-8 or not.
    std::optional<std::string> customOutputPath;
    ConflictBehaviour conflictBehaviour = ConflictBehaviour::rename;
    bool preserveMetadata = true;
    bool showNotifications = true;
    double imageQuality = 0.85;   // 0…1, images and PDFs
    double videoQuality = 0.7;    // 0…1
    int64_t audioBitrate = 192000;  // bits per second
    int64_t parallelLimit = 0;    // conversions at once; 0: decided automatically
    Appearance appearance = Appearance::system;
    std::optional<std::string> ffmpegOverridePath;
    std::optional<std::string> temporaryDirectoryPath;  // stored only
    bool debugLogging = false;
    std::string triggerModifier = "shift";  // a TriggerModifier raw value; any text is kept

    // The starting options of a format conversion of that category. Media quality and bit rate
    // are marked as settings for a re-encode, so streams that fit the target are still copied.
    ConversionOptions conversionOptions(FormatCategory category) const;
    // The request a drop of `urls` on the format target `target` makes: the options of the files'
    // category (when they have none in common, each file's own category's, image for the rest),
    // no tool, the output folder. The Portal
    // and the command-line driver both build their requests here.
    ConversionIntent formatIntent(std::vector<std::filesystem::path> urls, FormatID target,
                                  std::optional<FormatCategory> category) const;
    // The rules a request of these settings runs by: the concurrency the user chose. Asking about
    // taken names needs a person, so the caller adds that.
    RunRules runRules() const;
    // The custom folder when one is chosen and its path is not empty; none means beside the source.
    std::optional<std::filesystem::path> resolvedOutputDirectory() const;

    // Compact JSON object; absent optionals leave their key out. Throws std::invalid_argument
    // for a number that is not finite (it has no JSON form).
    nlohmann::json encode() const;
    // All or nothing: throws json::JsonError when a required key is missing, has the wrong
    // type or an unknown raw value. Unknown keys are ignored; optional keys may be null.
    static Preferences decode(const nlohmann::json& document);

    bool operator==(const Preferences&) const = default;
};

inline constexpr std::array kAllOutputLocations{Preferences::OutputLocation::sameAsSource,
                                                Preferences::OutputLocation::ask, Preferences::OutputLocation::custom};
inline constexpr std::array kAllConflictBehaviours{Preferences::ConflictBehaviour::rename,
                                                   Preferences::ConflictBehaviour::ask,
                                                   Preferences::ConflictBehaviour::replace};
// What the settings window offers: a file is never replaced, so "replace" (stored by earlier
// versions) is read as "rename".
inline constexpr std::array kOfferedConflictBehaviours{Preferences::ConflictBehaviour::rename,
                                                       Preferences::ConflictBehaviour::ask};
inline constexpr std::array kAllAppearances{Preferences::Appearance::system, Preferences::Appearance::light,
                                            Preferences::Appearance::dark};

std::string_view toString(Preferences::OutputLocation value);
std::string_view toString(Preferences::ConflictBehaviour value);
std::string_view toString(Preferences::Appearance value);
// Exact, case-sensitive raw values only.
std::optional<Preferences::OutputLocation> outputLocationFromString(std::string_view raw);
std::optional<Preferences::ConflictBehaviour> conflictBehaviourFromString(std::string_view raw);
std::optional<Preferences::Appearance> appearanceFromString(std::string_view raw);
// What the settings window shows.
std::string label(Preferences::OutputLocation value);
std::string label(Preferences::ConflictBehaviour value);
std::string label(Preferences::Appearance value);

// Loads and saves the preferences as one JSON record under "KolvexPreferences".
// Stateless; the defaults store is safe from any thread.
struct PreferencesStore {
    static constexpr const char* kKey = "KolvexPreferences";

    // The stored record; the defaults when nothing usable is stored (logged when undecodable).
    static Preferences load(const UserDefaults& defaults);
    // Stores the record; logs and keeps the previous record when it cannot be encoded.
    static void save(const Preferences& preferences, UserDefaults& defaults);
    static void reset(UserDefaults& defaults);
};

}  // namespace kolvex
