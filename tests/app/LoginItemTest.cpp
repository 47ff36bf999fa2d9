// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "app/LoginItem.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

LoginItem::Environment environmentIn(const testing::TempDir& dir) {
    return {dir / "config", std::filesystem::path("/opt/Kolvex Apps/bin/kolvex")};
}

TEST(LoginItem, TurningOnWritesTheAutostartEntryAndOffRemovesIt) {
    testing::TempDir dir;
    const auto environment = environmentIn(dir);
    const auto entry = dir / "config/autostart/org.kolvex.Kolvex.desktop";
    EXPECT_EQ(LoginItem::entryPath(environment), entry);
    EXPECT_EQ(LoginItem::status(environment), LoginItem::Status::notRegistered);

    EXPECT_FALSE(LoginItem::set(true, environment));
    EXPECT_EQ(LoginItem::status(environment), LoginItem::Status::enabled);
    const std::string text = testing::readFile(entry);
    EXPECT_NE(text.find("[Desktop Entry]\nType=Application\nName=Kolvex\n"), std::string::npos);
    EXPECT_NE(text.find("Exec=\"/opt/Kolvex Apps/bin/kolvex\"\n"), std::string::npos);
    for (const auto& item : std::filesystem::directory_iterator(entry.parent_path()))
        EXPECT_EQ(item.path(), entry) << "no temporary file is left behind";

    EXPECT_FALSE(LoginItem::set(false, environment));
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_EQ(LoginItem::status(environment), LoginItem::Status::notRegistered);
}

TEST(LoginItem, NeverFightsTheStateTheUserSet) {
    testing::TempDir dir;
    const auto environment = environmentIn(dir);
    // An entry the user switched off in their desktop's settings stays as they left it.
    const auto hidden = dir.write("config/autostart/org.kolvex.Kolvex.desktop",
                                  "[Desktop Entry]\nType=Application\nExec=kolvex\nHidden=true\n");
    EXPECT_EQ(LoginItem::status(environment), LoginItem::Status::notRegistered);
    EXPECT_FALSE(LoginItem::set(false, environment));
    EXPECT_EQ(testing::readFile(hidden), "[Desktop Entry]\nType=Application\nExec=kolvex\nHidden=true\n");

    // Turning on while already on leaves the user's entry untouched.
    const std::string custom = "[Desktop Entry]\nType=Application\nExec=kolvex --custom\n";
    dir.write("config/autostart/org.kolvex.Kolvex.desktop", custom);
    EXPECT_EQ(LoginItem::status(environment), LoginItem::Status::enabled);
    EXPECT_FALSE(LoginItem::set(true, environment));
    EXPECT_EQ(testing::readFile(hidden), custom);

    dir.write("config/autostart/org.kolvex.Kolvex.desktop", "[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n");
    EXPECT_EQ(LoginItem::status(environment), LoginItem::Status::notRegistered);
}

TEST(LoginItem, FailuresAreReturned) {
    testing::TempDir dir;
    LoginItem::Environment unknown{dir / "config", std::nullopt};
    EXPECT_EQ(LoginItem::status(unknown), LoginItem::Status::notFound);
    EXPECT_TRUE(LoginItem::set(true, unknown));
    EXPECT_FALSE(LoginItem::set(false, unknown)) << "off while not enabled asks nothing";

    // The autostart folder cannot be made where a file stands.
    dir.write("blocked/autostart", "a file");
    LoginItem::Environment blocked{dir / "blocked", std::filesystem::path("/usr/bin/kolvex")};
    const auto error = LoginItem::set(true, blocked);
    ASSERT_TRUE(error);
    EXPECT_EQ(LoginItem::status(blocked), LoginItem::Status::notRegistered);
}

TEST(LoginItem, ExecLineQuoting) {
    EXPECT_EQ(LoginItem::quotedExec("/usr/bin/kolvex"), "\"/usr/bin/kolvex\"");
    EXPECT_EQ(LoginItem::quotedExec("/home/a b/$x`y\"z"), "\"/home/a b/\\\\$x\\\\`y\\\\\"z\"");
    EXPECT_EQ(LoginItem::quotedExec("/p/100%/k"), "\"/p/100%%/k\"");
    EXPECT_EQ(LoginItem::quotedExec("/p\\q"), "\"/p\\\\\\\\q\"");
}

}  // namespace
}  // namespace kolvex
