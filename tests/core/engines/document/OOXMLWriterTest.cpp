// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <thread>

#include "DocumentTestSupport.h"
#include "core/engines/document/DocxReader.h"
#include "core/engines/document/OOXMLWriter.h"
#include "core/engines/document/RichDocument.h"
#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"
#include "support/SmallVolume.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using testing::boldAttributes;
using testing::italicAttributes;
using testing::plainAttributes;

std::string body(const StyledText& text) {
    const std::string doc = OOXMLWriter::package(*richDocument(text)).document;
    const size_t begin = doc.find("<w:body>") + 8;
    return doc.substr(begin, doc.find("<w:sectPr>") - begin);
}

TEST(OOXMLWriter, BuildsParagraphsAndRunProperties) {
    TextAttributes both = boldAttributes();
    both.font->italic = true;
    StyledText styled;
    styled.append("a", plainAttributes());
    styled.append("b", both);
    styled.append("c\n", italicAttributes());
    const std::string t = R"(<w:t xml:space="preserve">)";
    const struct {
        StyledText text;
        std::string body;
    } cases[] = {
        {StyledText(), "<w:p></w:p>"},
        {StyledText("one\n\ntwo", plainAttributes()), "<w:p><w:r>" + t + "one</w:t></w:r></w:p><w:p></w:p><w:p><w:r>" + t + "two</w:t></w:r></w:p>"},
        {styled, "<w:p><w:r>" + t + "a</w:t></w:r><w:r><w:rPr><w:b/><w:i/></w:rPr>" + t + "b</w:t></w:r><w:r><w:rPr><w:i/></w:rPr>" + t +
                     "c</w:t></w:r></w:p><w:p></w:p>"},
        // What XML forbids never reaches the part: C0 controls, U+FFFE, U+FFFF.
        {StyledText("a&<\"'\x01\x02\tz\xEF\xBF\xBF\xEF\xBF\xBEy", plainAttributes()),
         "<w:p><w:r>" + t + "a&amp;&lt;&quot;&apos;</w:t><w:tab/>" + t + "zy</w:t></w:r></w:p>"},
    };
    for (const auto& c : cases) EXPECT_EQ(body(c.text), c.body);
    const std::string doc = OOXMLWriter::package(*richDocument(StyledText())).document;
    EXPECT_TRUE(doc.ends_with(R"(<w:pgSz w:w="12240" w:h="15840"/><w:pgMar w:top="1440" w:right="1440" w:bottom="1440" w:left="1440"/></w:sectPr></w:body></w:document>)"));
}

TEST(OOXMLWriter, PackagesWellFormedPartsThatReadBack) {
    if (!std::filesystem::exists(OOXMLWriter::tarPath())) GTEST_SKIP() << "bsdtar is not installed";
    testing::TempDir dir;
    StyledText text;
    text.append("Hello ", plainAttributes());
    text.append("bold", boldAttributes());
    text.append("\n\xE6\x97\xA5\xE6\x9C\xAC & more \xEF\xBF\xBF", italicAttributes());
    TextAttributes link = plainAttributes();
    link.link = "https://example.org/?a=1&b=\"2\"";
    text.append(" site", link);
    const auto document = richDocument(text);
    const auto out = dir / "-dash name.docx";
    OOXMLWriter::write(*document, out);
    ASSERT_TRUE(std::filesystem::exists(out));
    EXPECT_EQ(testing::describe(*DocxReader::read(out)),
              "|Hello bold[b]\n|\xE6\x97\xA5\xE6\x9C\xAC & more [i] site[ ->https://example.org/?a=1&b=\"2\"]\n");
    const auto package = testing::unpackDocx(out, dir / "unpacked");
    if (package) {
        EXPECT_EQ(package->parts, (std::vector<std::string>{"[Content_Types].xml", "_rels/.rels", "word/_rels/document.xml.rels",
                                                            "word/document.xml", "word/numbering.xml", "word/styles.xml"}));
        EXPECT_TRUE(package->malformed.empty());
        std::filesystem::remove_all(dir / "unpacked");
    }
    // Nothing but the package is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(OOXMLWriter, FailureAndCancelLeaveNothing) {
    testing::TempDir dir;
    const auto failing = dir.write("fake-tar", "#!/bin/sh\necho 'zip: broken' >&2\nfor a; do case $a in .*) : > \"$a\";; esac; done\nexit 1\n");
    std::filesystem::permissions(failing, std::filesystem::perms::owner_all);
    const auto out = dir / "out.docx";
    try {
        OOXMLWriter::write(*richDocument(StyledText("x", plainAttributes())), out, {}, failing);
        FAIL() << "expected a failure";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::backendFailure);
        EXPECT_EQ(error.engine(), "document");
        EXPECT_EQ(error.exitCode(), 1);
        EXPECT_TRUE(error.stderrText().starts_with("could not package the .docx\nzip: broken"));
    }
    EXPECT_FALSE(std::filesystem::exists(out));

    const auto slow = dir.write("slow-tar", "#!/bin/sh\nfor a; do case $a in /*.kolvex-*) echo partial > \"$a\";; esac; done\nexec sleep 30\n");
    std::filesystem::permissions(slow, std::filesystem::perms::owner_all);
    std::stop_source stop;
    // Cancel once the archiver has started writing its partial package.
    std::thread canceller([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        auto started = [&] {
            for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
                if (entry.path().filename().string().find(".kolvex-") != std::string::npos) return true;
            return false;
        };
        while (!started() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        stop.request_stop();
    });
    const auto small = richDocument(StyledText("x", plainAttributes()));
    EXPECT_THROW(OOXMLWriter::write(*small, out, stop.get_token(), slow), OperationCancelled);
    canceller.join();
    EXPECT_FALSE(std::filesystem::exists(out));
    // Only the two fake programs remain: no partial package under any name.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

TEST(OOXMLWriter, AFullDiskIsReportedAsOne) {
    testing::SmallVolume volume(64 << 10);
    if (!volume.available()) GTEST_SKIP() << volume.whyNot();
    // Letters in no pattern deflate to far more than the volume holds.
    std::string letters;
    for (uint32_t i = 0, x = 7; i < 600'000; ++i) {
        x = x * 1103515245u + 12345u;
        letters.push_back(static_cast<char>('a' + (x >> 16) % 26));
        if (i % 80 == 79) letters.push_back('\n');
    }
    const auto out = volume.path() / "long.docx";
    try {
        OOXMLWriter::write(*richDocument(StyledText(letters, plainAttributes())), out);
        FAIL() << "the package fitted";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::insufficientDiskSpace) << error.what() << error.stderrText();
        EXPECT_GT(error.required(), error.available());
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(volume.path()), {}), 0);
}

}  // namespace
}  // namespace kolvex
