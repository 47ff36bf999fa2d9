// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "app/IssueReport.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

TEST(IssueReport, BodyAsksThreeQuestionsThenGivesTheDetails) {
    IssueReport::Details details{"1.4", "unknown", "Debian GNU/Linux 12 (Linux 6.1)", "ThinkPad X1"};
    EXPECT_EQ(IssueReport::body(details),
              "What happened?\n\n\nWhat did you expect instead?\n\n\nWhat file was it? (kind, and roughly how big)\n\n\n"
              "——— the details below help me reproduce it ———\n\n"
              "Kolvex: 1.4 (unknown)\nLinux: Debian GNU/Linux 12 (Linux 6.1)\nComputer: ThinkPad X1");
}

TEST(IssueReport, MailLinkKeepsTheQueryIntact) {
    IssueReport::Details details{"1.4", "212", "A+B & C?=", "M&M+"};
    const std::string link = IssueReport::mailLink(details);
    EXPECT_EQ(link.rfind("mailto:support@kolvex.org?subject=Kolvex%201.4%20%E2%80%94%20&body=", 0), 0u) << link;
    const std::string body = link.substr(link.find("&body=") + 6);
    EXPECT_EQ(body.find_first_of("&+?= \n"), std::string::npos) << body;
    EXPECT_NE(body.find("A%2BB%20%26%20C%3F%3D"), std::string::npos);
    EXPECT_NE(body.find("M%26M%2B"), std::string::npos);
    EXPECT_NE(body.find("What%20happened%3F%0A%0A%0A"), std::string::npos);
    EXPECT_EQ(IssueReport::percentEncoded("a-._~!$'()*,;:@/z"), "a-._~!$'()*,;:@/z");
}

TEST(IssueReport, HardwareModelFromTheFirstFileThatSaysSomething) {
    testing::TempDir dir;
    const auto dmi = dir.write("product_name", "20XW0055GE\n");
    const auto empty = dir.write("empty", "\n");
    const auto tree = dir.write("model", std::string("Raspberry Pi 4 Model B\0junk", 28));
    EXPECT_EQ(IssueReport::hardwareModel(dmi, tree), "20XW0055GE");
    EXPECT_EQ(IssueReport::hardwareModel(empty, tree), "Raspberry Pi 4 Model B");
    EXPECT_EQ(IssueReport::hardwareModel(dir / "missing", dir / "missing"), "unknown");
    EXPECT_EQ(IssueReport::hardwareModel(dir.write("bad", std::string("X\xff", 2)), tree), "X\xEF\xBF\xBD");
}

TEST(IssueReport, ComposeFallsBackToTheBareAddress) {
    std::vector<std::string> opened;
    IssueReport::compose([&](const std::string& link) {
        opened.push_back(link);
        return false;
    });
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0].rfind("mailto:support@kolvex.org?subject=", 0), 0u);
    EXPECT_EQ(opened[1], "mailto:support@kolvex.org");
}

}  // namespace
}  // namespace kolvex
