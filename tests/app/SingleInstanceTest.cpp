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

}  // namespace
}  // namespace kolvex
