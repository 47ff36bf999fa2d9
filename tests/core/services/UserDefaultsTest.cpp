// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/services/Log.h"
#include "core/services/UserDefaults.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

void exerciseTypedValues(UserDefaults& store) {
    store.set("flag", true);
    store.set("count", int64_t{42});
    store.set("ratio", 0.5);
    store.set("whole", 2.0);
    store.set("name", std::string("shift"));
    store.set("blob", DefaultsData::fromText("{\"a\":1}"));
    store.set("binary", DefaultsData(std::vector<uint8_t>{0, 255, 10, 13, 0x80}));

    EXPECT_EQ(store.boolean("flag"), true);
    EXPECT_EQ(store.integer("count"), 42);
    EXPECT_EQ(store.value("ratio"), UserDefaults::Value(0.5));
    EXPECT_EQ(store.value("whole"), UserDefaults::Value(2.0));  // stays a double
    EXPECT_EQ(store.string("name"), "shift");
    EXPECT_EQ(store.data("blob")->text(), "{\"a\":1}");
    EXPECT_EQ(store.data("binary")->bytes, (std::vector<uint8_t>{0, 255, 10, 13, 0x80}));

    // Data and text stay apart.
    EXPECT_FALSE(store.string("blob"));
    EXPECT_FALSE(store.data("name"));
    EXPECT_FALSE(store.integer("flag"));
    EXPECT_FALSE(store.boolean("count"));

    store.remove("flag");
    EXPECT_FALSE(store.value("flag"));
    store.remove("never-set");

    // A number with no JSON form is refused; the old value stays.
    store.set("ratio", std::nan(""));
    EXPECT_EQ(store.value("ratio"), UserDefaults::Value(0.5));
}

TEST(UserDefaults, InMemoryKeepsTypedValues) {
    InMemoryUserDefaults store;
    exerciseTypedValues(store);
}

TEST(UserDefaults, FileKeepsTypedValuesAcrossInstances) {
    TempDir dir;
    const auto file = dir / "config/kolvex/defaults.json";
    {
        JsonFileUserDefaults store(file);
        exerciseTypedValues(store);
    }
    JsonFileUserDefaults reopened(file);
    EXPECT_EQ(reopened.integer("count"), 42);
    EXPECT_EQ(reopened.value("whole"), UserDefaults::Value(2.0));
    EXPECT_EQ(reopened.data("blob")->text(), "{\"a\":1}");
    EXPECT_EQ(reopened.data("binary")->bytes, (std::vector<uint8_t>{0, 255, 10, 13, 0x80}));
    EXPECT_FALSE(reopened.value("flag"));
    // Only the file itself: no temporary file is left behind, and it is private.
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

// Records that are JSON read as JSON in the file; data written base64 by earlier versions,
// and data that is not compact JSON, still reads back byte for byte.
TEST(UserDefaults, JsonDataIsStoredReadablyAndOldFilesKeepReading) {
    TempDir dir;
    const auto file = dir.write("defaults.json",
                                R"({"Old": {"type": "data", "value": "eyJhIjoxfQ=="}})");  // {"a":1}, base64
    {
        JsonFileUserDefaults store(file);
        EXPECT_EQ(store.data("Old")->text(), "{\"a\":1}");
        store.set("KolvexPreferences", DefaultsData::fromText(R"({"appearance":"dark","imageQuality":0.85})"));
        store.set("Spaced", DefaultsData::fromText("{ \"a\": 1 }"));
        store.set("Scalar", DefaultsData::fromText("42"));
    }
    std::ifstream in(file);
    const auto document = nlohmann::json::parse(in);
    EXPECT_EQ(document["KolvexPreferences"]["json"]["appearance"], "dark");
    EXPECT_EQ(document["Old"]["json"]["a"], 1) << "rewritten readably";
    EXPECT_TRUE(document["Spaced"].contains("value")) << "would not read back byte for byte";
    EXPECT_TRUE(document["Scalar"].contains("value"));

    JsonFileUserDefaults reopened(file);
    EXPECT_EQ(reopened.data("KolvexPreferences")->text(), R"({"appearance":"dark","imageQuality":0.85})");
    EXPECT_EQ(reopened.data("Spaced")->text(), "{ \"a\": 1 }");
    EXPECT_EQ(reopened.data("Scalar")->text(), "42");
    EXPECT_FALSE(reopened.string("KolvexPreferences")) << "data stays data";
}

TEST(UserDefaults, CorruptFileIsSetAsideNotOverwritten) {
    const std::string deep(100'000, '[');
    const std::pair<const char*, std::string> rows[] = {
        {"truncated", R"({"KolvexPreferences": {"type": "data", "val)"},
        {"not an object", R"([1, 2, 3])"},
        {"empty", ""},
        // Valid JSON a hundred thousand levels deep, whole and unfinished.
        {"nested deep", R"({"KolvexPreferences": {"type": "data", "value": 1}, "x": )" + deep +
                            std::string(100'000, ']') + "}"},
        {"nested deep, unfinished", R"({"x": )" + deep},
    };
    for (auto [what, text] : rows) {
        TempDir dir;
        const auto file = dir.write("defaults.json", text);
        JsonFileUserDefaults store(file);
        EXPECT_FALSE(store.value("KolvexPreferences")) << what;
        store.set("PortalTriggerModifier", std::string("option"));
        EXPECT_EQ(testing::readFile(dir / "defaults.json.corrupt"), text) << what;
        EXPECT_EQ(JsonFileUserDefaults(file).string("PortalTriggerModifier"), "option") << what;
    }
}

// The file is read whole and parsed: one over the limit is not read at all, however valid.
TEST(UserDefaults, SettingsFileOverTheLimitIsRefusedAndSetAside) {
    const std::string entry = R"({"PortalTriggerModifier": {"type": "string", "value": "option"}, "pad": ")";
    const auto fileOf = [&](size_t size) { return entry + std::string(size - entry.size() - 2, 'x') + "\"}"; };
    for (const size_t size : {JsonFileUserDefaults::maxFileSize, JsonFileUserDefaults::maxFileSize + 1}) {
        const bool refused = size > JsonFileUserDefaults::maxFileSize;
        SCOPED_TRACE(size);
        TempDir dir;
        const std::string text = fileOf(size);
        ASSERT_EQ(text.size(), size);
        const auto file = dir.write("defaults.json", text);
        LogCapture log;
        JsonFileUserDefaults store(file);
        EXPECT_EQ(store.string("PortalTriggerModifier"), refused ? std::nullopt : std::optional<std::string>("option"));
        EXPECT_EQ(log.contains("app", "is larger than 1048576 bytes; starting from defaults"), refused);
        store.set("KolvexPreferences", std::string("x"));
        EXPECT_EQ(fs::exists(dir / "defaults.json.corrupt"), refused);
        if (refused) {
            EXPECT_EQ(testing::readFile(dir / "defaults.json.corrupt"), text);
        }
    }
}

TEST(UserDefaults, EntriesOfTheWrongShapeReadAsAbsentAndSurviveWrites) {
    TempDir dir;
    const auto file = dir.write("defaults.json", R"({
        "good": {"type": "bool", "value": true},
        "wrongType": {"type": "bool", "value": "yes"},
        "badData": {"type": "data", "value": "***"},
        "bare": 17,
        "future": {"type": "date", "value": 1.5}
    })");
    JsonFileUserDefaults store(file);
    EXPECT_EQ(store.boolean("good"), true);
    for (const char* key : {"wrongType", "badData", "bare", "future"}) EXPECT_FALSE(store.value(key)) << key;

    store.set("added", int64_t{1});
    const auto written = nlohmann::json::parse(testing::readFile(file));
    EXPECT_EQ(written["bare"], 17);
    EXPECT_EQ(written["wrongType"]["value"], "yes");
    EXPECT_EQ(written["future"]["type"], "date");
    EXPECT_EQ(written["added"]["value"], 1);

    store.set("bare", std::string("replaced"));
    EXPECT_EQ(JsonFileUserDefaults(file).string("bare"), "replaced");
}

TEST(UserDefaults, ConcurrentWritersLoseNothing) {
    TempDir dir;
    const auto file = dir / "defaults.json";
    JsonFileUserDefaults store(file);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&store, t] {
            for (int i = 0; i < 20; ++i) store.set("k" + std::to_string(t) + "-" + std::to_string(i), int64_t{i});
        });
    }
    for (auto& thread : threads) thread.join();
    JsonFileUserDefaults reopened(file);
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 20; ++i) EXPECT_EQ(reopened.integer("k" + std::to_string(t) + "-" + std::to_string(i)), i);
}

TEST(UserDefaults, DefaultPathFollowsXdgConfigHome) {
    auto with = [](std::map<std::string, std::string> env) {
        return JsonFileUserDefaults::defaultPath([env](const char* name) -> const char* {
            auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        });
    };
    EXPECT_EQ(with({{"XDG_CONFIG_HOME", "/cfg"}, {"HOME", "/home/u"}}), fs::path("/cfg/kolvex/defaults.json"));
    EXPECT_EQ(with({{"HOME", "/home/u"}}), fs::path("/home/u/.config/kolvex/defaults.json"));
    // A relative or empty XDG_CONFIG_HOME is ignored.
    EXPECT_EQ(with({{"XDG_CONFIG_HOME", "rel"}, {"HOME", "/home/u"}}), fs::path("/home/u/.config/kolvex/defaults.json"));
    EXPECT_EQ(with({{"XDG_CONFIG_HOME", ""}, {"HOME", "/home/u"}}), fs::path("/home/u/.config/kolvex/defaults.json"));
}

}  // namespace
}  // namespace kolvex
