// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/EncoderListCache.h"

#include <fstream>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "core/ffmpeg/BundledFFmpeg.h"
#include "core/ffmpeg/FFmpegEncoderList.h"
#include "support/FakeFFmpeg.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;

TEST(EncoderListCache, AsksEachProgramOnceAndAgainOnlyWhenItChanges) {
    testing::TempDir dir;
    testing::FakeFFmpeg fake(dir / "fake");
    const EncoderListCache cache(dir / "cache");
    fake.setStandardOutput("ffmpeg", " V....D libx264  H.264\n");
    const BundledFFmpeg tools(fake.ffmpeg());

    EXPECT_EQ(tools.availableEncoders({}, cache), Names{"libx264"});
    EXPECT_EQ(fake.runCount("ffmpeg"), 1);
    // The same program, in another process as much as in this one: the file answers.
    fake.setStandardOutput("ffmpeg", " V....D libvpx-vp9  VP9\n");
    EXPECT_EQ(tools.availableEncoders({}, EncoderListCache(dir / "cache")), Names{"libx264"});
    EXPECT_EQ(fake.runCount("ffmpeg"), 1);

    // An upgrade replaces the program: its size or time differs, and it is asked again.
    std::ofstream(fake.ffmpeg(), std::ios::app) << "# upgraded\n";
    EXPECT_EQ(tools.availableEncoders({}, cache), Names{"libvpx-vp9"});
    EXPECT_EQ(fake.runCount("ffmpeg"), 2);
    EXPECT_EQ(tools.availableEncoders({}, cache), Names{"libvpx-vp9"});
    EXPECT_EQ(fake.runCount("ffmpeg"), 2);
}

TEST(EncoderListCache, KeepsNothingThatCouldMisleadALaterRun) {
    testing::TempDir dir;
    testing::FakeFFmpeg fake(dir / "fake");
    const EncoderListCache cache(dir / "cache");
    const BundledFFmpeg tools(fake.ffmpeg());

    // A listing that said nothing is not remembered: the next run asks again.
    fake.setStandardOutput("ffmpeg", "");
    EXPECT_TRUE(tools.availableEncoders({}, cache).empty());
    fake.setStandardOutput("ffmpeg", " A....D aac  AAC\n");
    EXPECT_EQ(tools.availableEncoders({}, cache), Names{"aac"});
    EXPECT_EQ(fake.runCount("ffmpeg"), 2);

    // A damaged or foreign file is read as empty and replaced.
    for (const std::string& text : {std::string("garbage\n"), std::string("kolvex encoder lists 1\nhalf an entry")}) {
        std::ofstream(cache.file(), std::ios::trunc) << text;
        EXPECT_EQ(tools.availableEncoders({}, cache), Names{"aac"}) << text;
        EXPECT_EQ(cache.load(fake.ffmpeg()), Names{"aac"}) << text;
    }
    // A program that is not there has no entry.
    EXPECT_FALSE(cache.load(dir / "absent"));
    EXPECT_FALSE(EncoderListCache::keyOf(dir / "absent"));
    EXPECT_FALSE(EncoderListCache::keyOf(dir.path()));
}

TEST(EncoderListCache, RemembersTheLastFewPrograms) {
    testing::TempDir dir;
    const EncoderListCache cache(dir / "cache");
    std::vector<fs::path> programs;
    for (int i = 0; i < 6; ++i) {
        programs.push_back(dir.write("bin" + std::to_string(i) + "/ffmpeg", "#!/bin/sh\n"));
        cache.store(programs.back(), {"enc" + std::to_string(i)});
    }
    cache.store(programs[4], {"again"});  // one entry per program, the newest
    for (int i = 0; i < 6; ++i) {
        const auto names = cache.load(programs[i]);
        if (i < 2) {
            EXPECT_FALSE(names) << i;
        } else {
            ASSERT_TRUE(names) << i;
            EXPECT_EQ(*names, (Names{i == 4 ? "again" : "enc" + std::to_string(i)})) << i;
        }
    }
    EXPECT_FALSE(cache.load(dir / "bin1/ffmpeg"));
}

TEST(EncoderListCache, LivesInTheUsersCacheFolder) {
    const std::map<std::string, std::map<std::string, std::string>> cases = {
        {"/xdg/cache/kolvex", {{"XDG_CACHE_HOME", "/xdg/cache"}, {"HOME", "/home/u"}}},
        {"/home/u/.cache/kolvex", {{"XDG_CACHE_HOME", "relative/cache"}, {"HOME", "/home/u"}}},
        {"/home/u/.cache/kolvex", {{"HOME", "/home/u"}}},
    };
    for (const auto& [expected, variables] : cases) {
        const auto environment = [&variables](const char* name) -> const char* {
            const auto found = variables.find(name);
            return found == variables.end() ? nullptr : found->second.c_str();
        };
        EXPECT_EQ(EncoderListCache::defaultFolder(environment), fs::path(expected));
    }
}

TEST(FFmpegEncoderList, ReadsOnlyWhenFirstAskedAndOnlyOnce) {
    int reads = 0;
    const FFmpegEncoderList list([&reads] {
        ++reads;
        return Names{"libx264"};
    });
    EXPECT_FALSE(list.isRead());
    EXPECT_EQ(reads, 0);
    std::vector<std::thread> askers;
    for (int i = 0; i < 4; ++i) askers.emplace_back([&list] { EXPECT_EQ(list.names(), Names{"libx264"}); });
    for (auto& asker : askers) asker.join();
    EXPECT_EQ(reads, 1);
    EXPECT_TRUE(list.isRead());
    EXPECT_TRUE(FFmpegEncoderList(Names{"aac"}).isRead());
}

}  // namespace
}  // namespace kolvex
