// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "app/ConvertFilesDialog.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

std::vector<QString> shownNames(const ConvertFilesDialog& dialog) {
    std::vector<QString> names;
    for (int i = 0; i < dialog.view()->topLevelItemCount(); ++i) names.push_back(dialog.view()->topLevelItem(i)->text(0));
    return names;
}

// Every file of a folder is listed and chosen by the bytes of its name, whatever they are:
// Latin-1, a byte no UTF-8 has, or plain UTF-8; folders come first and open in place.
TEST(ConvertFilesDialog, ListsAndChoosesNamesThatAreNotUtf8) {
    testing::TempDir dir;
    const auto odd = dir.write("caf\xe9 \xff.txt", "Hello\n");
    const auto plain = dir.write("b\xc3\xa9.png", "x");
    dir.write(".hidden", "x");
    const auto inner = dir.write("sub/inner \xfe.csv", "a,b\n");

    ConvertFilesDialog dialog;
    ASSERT_TRUE(dialog.setDirectory(dir.path()));
    EXPECT_EQ(shownNames(dialog), (std::vector<QString>{"sub", QString::fromUtf8("b\u00e9.png"),
                                                        QString::fromUtf8("caf\ufffd \ufffd.txt")}));
    EXPECT_FALSE(dialog.convertButton()->isEnabled());
    dialog.view()->topLevelItem(2)->setSelected(true);
    dialog.view()->topLevelItem(1)->setSelected(true);
    EXPECT_TRUE(dialog.convertButton()->isEnabled());
    EXPECT_EQ(dialog.selectedFiles(), (std::vector<fs::path>{plain, odd}));

    // A folder opens where it is listed; its files are chosen by their bytes too.
    dialog.show();
    dialog.view()->setFocus();
    dialog.view()->setCurrentItem(dialog.view()->topLevelItem(0));
    QTest::keyClick(dialog.view(), Qt::Key_Return);
    EXPECT_EQ(dialog.directory(), dir.path() / "sub");
    EXPECT_TRUE(dialog.isVisible()) << "opening a folder chooses nothing";
    ASSERT_EQ(dialog.view()->topLevelItemCount(), 1);
    dialog.view()->setCurrentItem(dialog.view()->topLevelItem(0));
    QTest::keyClick(dialog.view(), Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.selectedFiles(), std::vector<fs::path>{inner});

    // A folder that cannot be read leaves the listing and says why.
    EXPECT_FALSE(dialog.setDirectory(dir.path() / "missing"));
    EXPECT_EQ(dialog.directory(), dir.path() / "sub");
}

// A path typed in the location field takes the list there.
TEST(ConvertFilesDialog, GoesWhereATypedPathSays) {
    testing::TempDir dir;
    dir.write("photos/a.jpg", "x");
    ConvertFilesDialog dialog;
    dialog.show();
    dialog.locationField()->setText(QString::fromStdString((dir.path() / "photos").string()));
    QTest::keyClick(dialog.locationField(), Qt::Key_Return);
    EXPECT_EQ(dialog.directory(), dir.path() / "photos");
    EXPECT_EQ(shownNames(dialog), std::vector<QString>{"a.jpg"});
    EXPECT_TRUE(dialog.isVisible());
}

}  // namespace
}  // namespace kolvex
