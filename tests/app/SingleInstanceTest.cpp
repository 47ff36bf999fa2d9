#include <gtest/gtest.h>

#include "app/SingleInstance.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

TEST(SingleInstance, CommandLineFilesAreExistingFilesMadeAbsolute) {
    testing::TempDir dir;
    const auto photo = dir.write("photo one.png", "x");
    const auto dashed = dir.write("-v.png", "x");
    std::filesystem::create_directories(dir / "folder");
    const auto files = SingleInstance::filesIn(
        {"--verify-resources", "photo one.png", "folder", "missing.png", "-v.png", (dir / "photo one.png").string(),
         "file://" + photo.string(), ""},
        dir.path());
    EXPECT_EQ(files, (std::vector<std::filesystem::path>{photo, dashed, photo}));
}

TEST(SingleInstance, OpenTakesOnlyAbsoluteExistingFiles) {
    testing::TempDir dir;
    const auto photo = dir.write("a.png", "x");
    SingleInstance instance;
    std::vector<std::filesystem::path> opened;
    int reopened = 0;
    instance.onOpen = [&](const std::vector<std::filesystem::path>& files) { opened = files; };
    instance.onReopen = [&] { ++reopened; };
    instance.Open({"a.png", QString::fromStdString((dir / "missing").string()), QString::fromStdString(photo.string())});
    EXPECT_EQ(opened, std::vector<std::filesystem::path>{photo});
    opened.clear();
    instance.Open({"relative.png"});
    EXPECT_TRUE(opened.empty());
    instance.Reopen();
    EXPECT_EQ(reopened, 1);
    EXPECT_EQ(instance.claim({}), SingleInstance::Role::alone) << "no session bus in tests";
}

// Names are bytes on Linux: one that is not UTF-8 reaches the running copy as it is.
TEST(SingleInstance, PathsHandedOverAsBytesKeepNamesThatAreNotUtf8) {
    testing::TempDir dir;
    const std::string name = std::string("caf\xe9 \xff\xfe.png");  // Latin-1 and stray bytes
    const auto odd = dir.write(name, "x");
    ASSERT_TRUE(std::filesystem::is_regular_file(odd));
    SingleInstance instance;
    std::vector<std::filesystem::path> opened;
    instance.onOpen = [&](const std::vector<std::filesystem::path>& files) { opened = files; };
    instance.OpenPaths({QByteArray::fromStdString(odd.native()), QByteArray("relative.png")});
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened.front().native(), odd.native());
    EXPECT_EQ(opened.front().filename().native(), name);
    // The command line keeps it too.
    EXPECT_EQ(SingleInstance::filesIn({name}, dir.path()), std::vector<std::filesystem::path>{odd});
}

}  // namespace
}  // namespace kolvex
