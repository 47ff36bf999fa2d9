// SPDX-License-Identifier: GPL-3.0-or-later
// The keyboard search: typed letters filter the ring's labels into a list that the arrows walk
// and Return commits from; the search value on its own and through the model.

#include <QTest>

#include "PortalModelTestSupport.h"
#include "ui/portal/PortalDropView.h"
#include "ui/portal/model/PortalSearch.h"

namespace kolvex::testing {
namespace {

using Kind = PortalPhase::Kind;

TEST(PortalSearch, QueryListAndHighlight) {
    const std::vector<RingTarget> ring{formatTarget("png", "PNG"), formatTarget("jpg", "JPEG"),
                                       formatTarget("webp", "WebP")};
    PortalSearch search;
    EXPECT_EQ(search.filter(ring).size(), 3u) << "no query: every chip";
    search.type("P");
    EXPECT_TRUE(search.isShowingList());
    EXPECT_EQ(search.filter(ring).size(), 3u) << "ignoring case";
    search.type("N");
    ASSERT_EQ(search.filter(ring).size(), 1u);
    EXPECT_EQ(search.filter(ring)[0].label, "PNG");
    search.moveHighlight(-1, 3);
    EXPECT_EQ(search.highlight(), 2);
    search.moveHighlight(5, 3);
    EXPECT_EQ(search.highlight(), 1);
    search.moveHighlight(1, 0);
    EXPECT_EQ(search.highlight(), 1) << "no rows: nothing moves";
    search.type("G");
    EXPECT_EQ(search.highlight(), 0) << "typing goes back to the first row";
    search.end();
    EXPECT_FALSE(search.isShowingList());
    EXPECT_EQ(search.query(), "");
    search.deleteCharacter();
    EXPECT_FALSE(search.isShowingList()) << "backspace does not open the list";
}

TEST(PortalSearch, BackspaceTakesAWholeCharacterAsTheUserSeesIt) {
    PortalSearch search;
    search.type("a\u00e9");          // a, é
    search.type("\U0001F1EB\U0001F1F7");  // a flag: two code points, one character
    search.deleteCharacter();
    EXPECT_EQ(search.query(), "a\u00e9");
    search.deleteCharacter();
    EXPECT_EQ(search.query(), "a");
    search.deleteCharacter();
    EXPECT_FALSE(search.isShowingList());
}

// Two-word labels are found as they are written: the space typed on the Portal's keyboard
// reaches the query once a word has opened the list; a lone space opens nothing.
TEST_F(PortalModelTest, TypedKeysFindATwoWordLabel) {
    provider->rings[PortalMode::tools] = {toolTarget("extract-audio", "Extract Audio"), toolTarget("remove-audio", "Remove Audio"),
                                          toolTarget("trim", "Trim"), toolTarget("strip-metadata", "Strip Metadata")};
    browse({"/tmp/a.mp4"}, std::nullopt, PortalMode::tools);
    PortalDropView keys(*model);
    QTest::keyClick(&keys, Qt::Key_Space);
    EXPECT_FALSE(model->isShowingFormatList()) << "a space alone starts no search";
    QTest::keyClicks(&keys, "extract audio");
    EXPECT_EQ(model->formatQuery(), "extract audio");
    ASSERT_EQ(model->filteredTargets().size(), 1u);
    EXPECT_EQ(model->filteredTargets()[0].label, "Extract Audio");
    QTest::keyClick(&keys, Qt::Key_Backspace);
    EXPECT_EQ(model->formatQuery(), "extract audi");
}

TEST_F(PortalModelTest, TypedLettersAddUpAndBackspaceTakesThemAway) {
    provider->rings[PortalMode::convert] = {formatTarget("webm", "WebM"), formatTarget("mp4", "MP4"),
                                            formatTarget("mkv", "MKV"), formatTarget("m4v", "M4V")};
    browse({"/tmp/a.mov"}, std::nullopt);
    model->beginFormatSearch("w");
    model->beginFormatSearch("e");
    EXPECT_EQ(model->formatQuery(), "we");
    ASSERT_EQ(model->filteredTargets().size(), 1u);
    EXPECT_EQ(model->filteredTargets()[0].label, "WebM");
    model->deleteSearchCharacter();
    EXPECT_EQ(model->formatQuery(), "w");
    model->deleteSearchCharacter();
    EXPECT_FALSE(model->isShowingFormatList()) << "an empty query closes the list";
    model->deleteSearchCharacter();  // nothing to delete
    EXPECT_FALSE(model->isShowingFormatList());
    model->beginFormatSearch("m");
    EXPECT_EQ(model->formatQuery(), "m") << "a closed list starts a new query";
    EXPECT_EQ(model->filteredTargets().size(), 4u);
}

TEST_F(PortalModelTest, TypingSearchesTheRingLabels) {
    provider->rings[PortalMode::convert] = {formatTarget("png", "PNG"), formatTarget("jpg", "JPEG"),
                                            formatTarget("gif", "GIF"), formatTarget("webp", "WebP")};
    browse({"/tmp/a.heic"}, std::nullopt);
    model->beginFormatSearch("p");
    ASSERT_TRUE(model->isShowingFormatList());
    auto rows = model->filteredTargets();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].label, "PNG");
    EXPECT_EQ(rows[1].label, "JPEG");
    EXPECT_EQ(rows[2].label, "WebP");
    EXPECT_EQ(model->listHighlight(), 0);
    model->moveSelection(-1);
    EXPECT_EQ(model->listHighlight(), 2);
    model->moveSelection(1);
    EXPECT_EQ(model->listHighlight(), 0);
    model->moveSelection(1);
    model->commitFromList();
    EXPECT_FALSE(model->isShowingFormatList());
    EXPECT_EQ(model->selectedIndex(), 1);
    EXPECT_TRUE(model->phase().is(Kind::converting));
}

TEST_F(PortalModelTest, SearchWithoutMatchKeepsListUntilEscape) {
    browse({"/tmp/a.heic"}, 0);
    model->beginFormatSearch("zz");
    EXPECT_TRUE(model->filteredTargets().empty());
    model->commitFromList();
    EXPECT_TRUE(model->isShowingFormatList());
    EXPECT_TRUE(model->phase().is(Kind::browsing));
    model->dismissByKeyboard();
    EXPECT_FALSE(model->isShowingFormatList());
    EXPECT_EQ(finished, 0);
    model->dismissByKeyboard();
    EXPECT_EQ(finished, 1);
    EXPECT_FALSE(model->isRevealed());
}

}  // namespace
}  // namespace kolvex::testing
