// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cmath>
#include <filesystem>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/services/Log.h"
#include "core/services/Preferences.h"
#include "core/services/TriggerModifier.h"
#include "core/services/UserDefaults.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using Json = nlohmann::json;

void store(UserDefaults& defaults, const Json& document) {
    defaults.set(PreferencesStore::kKey, DefaultsData::fromText(document.dump()));
}

TEST(Preferences, DefaultsEncodeWithoutOptionalKeysAndRoundTrip) {
    const Preferences defaults;
    const Json encoded = defaults.encode();
    for (const char* key : {"customOutputPath", "ffmpegOverridePath", "temporaryDirectoryPath"})
        EXPECT_FALSE(encoded.contains(key)) << key;
    EXPECT_EQ(encoded.size(), 11u);
    EXPECT_EQ(encoded["outputLocation"], "sameAsSource");
    EXPECT_EQ(encoded["audioBitrate"], 192000);
    EXPECT_EQ(encoded["triggerModifier"], "shift");
    EXPECT_EQ(Preferences::decode(encoded), defaults);

    InMemoryUserDefaults store;
    Preferences custom;
    custom.outputLocation = Preferences::OutputLocation::custom;
    custom.customOutputPath = "/tmp/out put";
    custom.appearance = Preferences::Appearance::dark;
    custom.imageQuality = 0.3;
    custom.parallelLimit = 4;
    custom.ffmpegOverridePath = "/opt/ffmpeg";
    custom.temporaryDirectoryPath = "/var/tmp";
    custom.debugLogging = true;
    custom.triggerModifier = "option";
    custom.conflictBehaviour = Preferences::ConflictBehaviour::ask;
    PreferencesStore::save(custom, store);
    EXPECT_EQ(PreferencesStore::load(store), custom);
    PreferencesStore::reset(store);
    EXPECT_FALSE(store.value(PreferencesStore::kKey));
    EXPECT_EQ(PreferencesStore::load(store), Preferences());
}

// A folder named in another encoding is chosen like any other: its bytes come back from the
// settings file as they went in, and it is where the outputs go.
TEST(Preferences, PathsThatAreNotUtf8RoundTripByteForByte) {
    testing::TempDir dir;
    const std::string latin1 = (dir.path() / "caf\xe9 folder").string();
    Preferences chosen;
    chosen.outputLocation = Preferences::OutputLocation::custom;
    chosen.customOutputPath = latin1;
    chosen.ffmpegOverridePath = latin1 + "/ffmpeg";
    {
        JsonFileUserDefaults file(dir.path() / "settings.json");
        PreferencesStore::save(chosen, file);
    }
    JsonFileUserDefaults again(dir.path() / "settings.json");
    const Preferences loaded = PreferencesStore::load(again);
    EXPECT_EQ(loaded, chosen);
    EXPECT_EQ(loaded.resolvedOutputDirectory(), std::optional<std::filesystem::path>(latin1));

    // A UTF-8 path stays readable text in the record, as before.
    chosen.customOutputPath = "/srv/caf\u00e9";
    const Json encoded = chosen.encode();
    EXPECT_EQ(encoded["customOutputPath"], "/srv/caf\u00e9");
    EXPECT_FALSE(encoded.contains("customOutputPathBytes"));
}

TEST(Preferences, AStoredReplaceNumbersNewNamesAndIsNotOffered) {
    InMemoryUserDefaults store;
    Preferences earlier;
    earlier.imageQuality = 0.5;
    earlier.conflictBehaviour = Preferences::ConflictBehaviour::replace;  // as an earlier version stored it
    PreferencesStore::save(earlier, store);
    const Preferences loaded = PreferencesStore::load(store);
    EXPECT_EQ(loaded.conflictBehaviour, Preferences::ConflictBehaviour::rename);
    EXPECT_EQ(loaded.imageQuality, 0.5) << "the rest of the record is kept";
    EXPECT_EQ(std::count(kOfferedConflictBehaviours.begin(), kOfferedConflictBehaviours.end(),
                         Preferences::ConflictBehaviour::replace),
              0);
}

TEST(Preferences, TheConcurrencyChosenReachesEveryRequest) {
    for (const auto& [stored, limit] : std::vector<std::pair<int64_t, int>>{{0, 0}, {1, 1}, {4, 4}, {8, 8}, {-3, 0}}) {
        Preferences p;
        p.parallelLimit = stored;
        EXPECT_EQ(p.runRules().parallelLimit, limit) << stored;
        EXPECT_EQ(p.formatIntent({"/a.png"}, "jpg", FormatCategory::image).rules.parallelLimit, limit) << stored;
        EXPECT_FALSE(p.runRules().keepBothWhenTaken) << "asking needs a person; the Portal adds it";
    }
}

TEST(Preferences, UnreadableRecordsFallBackToTheDefaultsAsAWhole) {
    Json full = Preferences().encode();
    full["debugLogging"] = true;
    full["imageQuality"] = 0.4;

    auto without = [&](const char* key) {
        Json j = full;
        j.erase(key);
        return j;
    };
    auto with = [&](const char* key, Json value) {
        Json j = full;
        j[key] = std::move(value);
        return j;
    };
    const std::pair<const char*, Json> rows[] = {
        {"missing debugLogging", without("debugLogging")},
        {"missing audioBitrate", without("audioBitrate")},
        {"capitalised appearance", with("appearance", "Dark")},
        {"unknown output location", with("outputLocation", "desktop")},
        {"fractional bitrate", with("audioBitrate", 1.5)},
        {"number as Boolean", with("preserveMetadata", 1)},
        {"Boolean as number", with("imageQuality", true)},
        {"null required", with("showNotifications", nullptr)},
        {"path of the wrong type", with("customOutputPath", 3)},
        {"not an object", Json::array({1, 2})},
    };
    for (const auto& [what, document] : rows) {
        InMemoryUserDefaults defaults;
        store(defaults, document);
        LogCapture log;
        EXPECT_EQ(PreferencesStore::load(defaults), Preferences()) << what;
        EXPECT_TRUE(log.contains("app", "Preferences could not be decoded; using defaults")) << what;
        EXPECT_TRUE(defaults.data(PreferencesStore::kKey)) << what;  // left as it was
    }

    InMemoryUserDefaults garbage;
    garbage.set(PreferencesStore::kKey, DefaultsData::fromText("{\"outputLoc"));
    EXPECT_EQ(PreferencesStore::load(garbage), Preferences());
}

TEST(Preferences, LenientWhereTheRecordAllowsIt) {
    Json document = Preferences().encode();
    document["customOutputPath"] = nullptr;
    document["someFutureKey"] = {1, 2, 3};
    document["triggerModifier"] = "hyper";
    document["audioBitrate"] = 128000;
    document["videoQuality"] = 1;  // a whole number is a number
    InMemoryUserDefaults defaults;
    store(defaults, document);
    const Preferences loaded = PreferencesStore::load(defaults);
    EXPECT_FALSE(loaded.customOutputPath);
    EXPECT_EQ(loaded.triggerModifier, "hyper");
    EXPECT_FALSE(triggerModifierFromString(loaded.triggerModifier));
    EXPECT_EQ(loaded.audioBitrate, 128000);
    EXPECT_EQ(loaded.videoQuality, 1.0);
}

TEST(Preferences, ValuesThatAreNotDataReadAsNothingStored) {
    InMemoryUserDefaults defaults;
    defaults.set(PreferencesStore::kKey, Preferences().encode().dump());  // text, not data
    LogCapture log;
    EXPECT_EQ(PreferencesStore::load(defaults), Preferences());
    EXPECT_FALSE(log.contains("app", "Preferences could not be decoded"));
}

TEST(Preferences, SavingANonFiniteQualityKeepsThePreviousRecord) {
    InMemoryUserDefaults defaults;
    Preferences good;
    good.imageQuality = 0.5;
    PreferencesStore::save(good, defaults);
    Preferences bad;
    bad.videoQuality = std::nan("");
    LogCapture log;
    PreferencesStore::save(bad, defaults);
    EXPECT_TRUE(log.contains("app", "Could not save preferences: "));
    EXPECT_EQ(PreferencesStore::load(defaults), good);
}

TEST(Preferences, ConversionOptionsByCategory) {
    Preferences p;
    p.preserveMetadata = false;
    struct Row {
        FormatCategory category;
        std::optional<double> quality;
        std::optional<int64_t> bitrate;
    };
    const Row rows[] = {
        {FormatCategory::image, 0.85, std::nullopt}, {FormatCategory::pdf, 0.85, std::nullopt},
        {FormatCategory::video, 0.7, 192000},        {FormatCategory::audio, std::nullopt, 192000},
        {FormatCategory::document, std::nullopt, std::nullopt}, {FormatCategory::archive, std::nullopt, std::nullopt},
    };
    for (const auto& row : rows) {
        ConversionOptions expected = ConversionOptions::defaults();
        expected.preserveMetadata = false;
        expected.quality = row.quality;
        expected.audioBitrate = row.bitrate;
        // Media settings apply when a re-encode is needed; they do not ask for one.
        expected.encodeSettingsFromPreferences = row.bitrate.has_value();
        EXPECT_EQ(p.conversionOptions(row.category), expected) << toString(row.category);
    }
    // A drop on a format target: those options, no tool, the chosen folder.
    p.outputLocation = Preferences::OutputLocation::custom;
    p.customOutputPath = "/out";
    const auto intent = p.formatIntent({"/in/a.mp4"}, FormatID("mkv"), FormatCategory::video);
    EXPECT_EQ(intent.options, p.conversionOptions(FormatCategory::video));
    EXPECT_EQ(intent.outputDirectory, std::filesystem::path("/out"));
    EXPECT_EQ(p.formatIntent({"/in/x"}, FormatID("png"), std::nullopt).options, p.conversionOptions(FormatCategory::image));
}

TEST(Preferences, ResolvedOutputDirectory) {
    Preferences p;
    p.customOutputPath = "~/Converted";
    EXPECT_FALSE(p.resolvedOutputDirectory());  // same as source
    p.outputLocation = Preferences::OutputLocation::ask;
    EXPECT_FALSE(p.resolvedOutputDirectory());
    p.outputLocation = Preferences::OutputLocation::custom;
    EXPECT_EQ(p.resolvedOutputDirectory(), std::filesystem::path("~/Converted"));  // used as written
    p.customOutputPath = "";
    EXPECT_FALSE(p.resolvedOutputDirectory());
    p.customOutputPath.reset();
    EXPECT_FALSE(p.resolvedOutputDirectory());
}

}  // namespace
}  // namespace kolvex
