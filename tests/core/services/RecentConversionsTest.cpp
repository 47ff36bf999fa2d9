// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <filesystem>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/services/Log.h"
#include "core/services/RecentConversions.h"
#include "core/services/UpdateChecking.h"
#include "core/services/UserDefaults.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using Clock = RecentConversion::Clock;

class RecentConversionsTest : public ::testing::Test {
protected:
    RecentConversion made(const std::string& name, const std::string& source = "source.png", double at = 700'000'000) {
        return RecentConversion(m_dir.write(name, "x"), m_dir / source, RecentConversion::fromReferenceSeconds(at));
    }
    std::vector<std::string> names() {
        std::vector<std::string> out;
        for (const auto& r : RecentConversionsStore::load(m_defaults)) out.push_back(r.name());
        return out;
    }
    std::string stored() { return m_defaults.data(RecentConversionsStore::kKey)->text(); }

    TempDir m_dir;
    InMemoryUserDefaults m_defaults;
};

TEST_F(RecentConversionsTest, RecordKeepsNewestFirstAndOneRecordPerOutput) {
    RecentConversionsStore::record({made("a.jpg")}, m_defaults);
    RecentConversionsStore::record({made("b.jpg")}, m_defaults);
    EXPECT_EQ(names(), (std::vector<std::string>{"b.jpg", "a.jpg"}));

    RecentConversionsStore::record({made("a.jpg", "again.heic", 800'000'000)}, m_defaults);
    const auto list = RecentConversionsStore::load(m_defaults);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name(), "a.jpg");
    EXPECT_EQ(list[0].sourceName, "again.heic");
    EXPECT_EQ(RecentConversion::referenceSeconds(list[0].date), 800'000'000);

    RecentConversionsStore::record({made("c.jpg", "first.png"), made("c.jpg", "second.png")}, m_defaults);
    EXPECT_EQ(RecentConversionsStore::load(m_defaults).front().sourceName, "first.png");
}

TEST_F(RecentConversionsTest, KeepsTheLastTen) {
    for (int i = 1; i <= 11; ++i) RecentConversionsStore::record({made(std::to_string(i) + ".jpg")}, m_defaults);
    const auto list = names();
    ASSERT_EQ(list.size(), 10u);
    EXPECT_EQ(list.front(), "11.jpg");
    EXPECT_EQ(list.back(), "2.jpg");
}

TEST_F(RecentConversionsTest, VanishedFilesAreHiddenThenDropped) {
    RecentConversionsStore::record({made("gone.jpg"), made("kept.jpg")}, m_defaults);
    fs::remove(m_dir / "gone.jpg");
    EXPECT_EQ(names(), (std::vector<std::string>{"kept.jpg"}));
    EXPECT_NE(stored().find("gone.jpg"), std::string::npos);  // load does not write back

    const std::string before = stored();
    RecentConversionsStore::record({}, m_defaults);
    EXPECT_EQ(stored(), before);

    RecentConversionsStore::record({made("new.jpg")}, m_defaults);
    EXPECT_EQ(stored().find("gone.jpg"), std::string::npos);
}

TEST_F(RecentConversionsTest, StoredFormUsesSecondsSince2001) {
    const auto when = Clock::from_time_t(978307200 + 86400) + std::chrono::milliseconds(500);
    RecentConversionsStore::record({RecentConversion(m_dir.write("out.png", "x"), "/in/photo 1.heic", when)}, m_defaults);
    const auto document = nlohmann::json::parse(stored());
    ASSERT_TRUE(document.is_array());
    ASSERT_EQ(document.size(), 1u);
    EXPECT_EQ(document[0].size(), 3u);
    EXPECT_EQ(document[0]["outputPath"], (m_dir / "out.png").string());
    EXPECT_EQ(document[0]["sourceName"], "photo 1.heic");
    EXPECT_DOUBLE_EQ(document[0]["date"].get<double>(), 86400.5);
    EXPECT_EQ(RecentConversionsStore::load(m_defaults).front().date, when);
}

// A batch in which one file's name is not UTF-8 is recorded whole, and that file can still be
// found again by its exact bytes.
TEST_F(RecentConversionsTest, ANameThatIsNotUtf8KeepsTheBatch) {
    const std::string latin1 = "caf\xe9.png";  // "café" written by a Latin-1 program
    RecentConversionsStore::record({made("plain.png", "plain.jpg"), made(latin1, "caf\xe9.jpg")}, m_defaults);
    const auto list = RecentConversionsStore::load(m_defaults);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].outputPath, (m_dir / latin1).string());
    EXPECT_TRUE(fs::exists(list[1].url()));
    EXPECT_EQ(list[1].sourceName, "caf\uFFFD.jpg") << "the name shown; the source is not opened again";
    EXPECT_TRUE(nlohmann::json::accept(stored()));
}

TEST_F(RecentConversionsTest, UnreadableStoredListsLoadAsEmpty) {
    const auto path = (m_dir.write("x.png", "x")).string();
    const std::string rows[] = {
        "not json",
        R"({"outputPath": ")" + path + R"(", "sourceName": "a", "date": 1})",
        R"([{"outputPath": ")" + path + R"(", "sourceName": "a"}])",
        R"([{"outputPath": ")" + path + R"(", "sourceName": "a", "date": "yesterday"}])",
        R"([{"outputPath": ")" + path + R"(", "date": 1}])",
        R"([{"outputPath": ")" + path + R"(", "sourceName": "a", "date": 1}, 5])",
    };
    for (const auto& text : rows) {
        m_defaults.set(RecentConversionsStore::kKey, DefaultsData::fromText(text));
        EXPECT_TRUE(RecentConversionsStore::load(m_defaults).empty()) << text;
    }
    m_defaults.set(RecentConversionsStore::kKey, std::string("[]"));  // text, not data
    EXPECT_TRUE(RecentConversionsStore::load(m_defaults).empty());

    m_defaults.set(RecentConversionsStore::kKey, DefaultsData::fromText("garbage"));
    RecentConversionsStore::record({made("fresh.jpg")}, m_defaults);
    EXPECT_EQ(names(), (std::vector<std::string>{"fresh.jpg"}));

    RecentConversionsStore::clear(m_defaults);
    EXPECT_TRUE(RecentConversionsStore::load(m_defaults).empty());
    EXPECT_FALSE(m_defaults.value(RecentConversionsStore::kKey));
}

TEST(NoOpUpdateChecker, LogsEachRequestAndNeverChecksOnItsOwn) {
    NoOpUpdateChecker checker;
    EXPECT_FALSE(checker.automaticChecksEnabled());
    LogCapture log;
    checker.checkForUpdates();
    checker.checkForUpdates();
    int count = 0;
    for (const auto& entry : log.entries()) {
        if (entry.category == "app" &&
            entry.message ==
                "Update check requested, but this build has no updater: updates come with the distribution's packages.")
            ++count;
    }
    EXPECT_EQ(count, 2);
    EXPECT_FALSE(checker.automaticChecksEnabled());
}

}  // namespace
}  // namespace kolvex
