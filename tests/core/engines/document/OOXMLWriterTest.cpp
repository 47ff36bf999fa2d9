#include <gtest/gtest.h>

#include <thread>

#include "DocumentTestSupport.h"
#include "core/engines/document/DocxReader.h"
#include "core/engines/document/OOXMLWriter.h"
#include "core/format/ConversionError.h"
#include "core/services/Cancellation.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

using testing::boldAttributes;
using testing::italicAttributes;
using testing::plainAttributes;

std::string body(const StyledText& text) {
    const std::string doc = OOXMLWriter::document(text);
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
    const struct {
        StyledText text;
        std::string body;
    } cases[] = {
        {StyledText(), "<w:p/>"},
        {StyledText("\n", plainAttributes()), "<w:p></w:p>"},
        {StyledText("one\n\ntwo", plainAttributes()),
         R"(<w:p><w:r><w:t xml:space="preserve">one</w:t></w:r></w:p><w:p></w:p><w:p><w:r><w:t xml:space="preserve">two</w:t></w:r></w:p>)"},
        {styled, R"(<w:p><w:r><w:t xml:space="preserve">a</w:t></w:r><w:r><w:rPr><w:b/><w:i/></w:rPr><w:t xml:space="preserve">b</w:t></w:r>)"
                 R"(<w:r><w:rPr><w:i/></w:rPr><w:t xml:space="preserve">c</w:t></w:r></w:p>)"},
        {StyledText("a&<\"'\f\x01\tz\r\n", plainAttributes()),
         "<w:p><w:r><w:t xml:space=\"preserve\">a&amp;&lt;&quot;&apos;\tz\r</w:t></w:r></w:p>"},
    };
    for (const auto& c : cases) EXPECT_EQ(body(c.text), c.body);
    const std::string doc = OOXMLWriter::document(StyledText());
    EXPECT_TRUE(doc.ends_with(R"(<w:pgSz w:w="12240" w:h="15840"/><w:pgMar w:top="1440" w:right="1440" w:bottom="1440" w:left="1440"/></w:sectPr></w:body></w:document>)"));
}

TEST(OOXMLWriter, PackagesThreeEntriesThatReadBack) {
    if (!std::filesystem::exists(OOXMLWriter::tarPath())) GTEST_SKIP() << "bsdtar is not installed";
    testing::TempDir dir;
    StyledText text;
    text.append("Hello ", plainAttributes());
    text.append("bold", boldAttributes());
    text.append("\n\xE6\x97\xA5\xE6\x9C\xAC & more", italicAttributes());
    const auto out = dir / "-dash name.docx";
    OOXMLWriter::write(text, out);
    ASSERT_TRUE(std::filesystem::exists(out));
    const StyledText back = DocxReader::read(out);
    EXPECT_EQ(back.plainText(), text.plainText());
    EXPECT_EQ(back.runs()[1], (TextRun{"bold", boldAttributes()}));
    // Nothing but the package is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(OOXMLWriter, FailureAndCancelLeaveNothing) {
    testing::TempDir dir;
    const auto failing = dir.write("fake-tar", "#!/bin/sh\necho 'zip: broken' >&2\nfor a; do case $a in .*) : > \"$a\";; esac; done\nexit 1\n");
    std::filesystem::permissions(failing, std::filesystem::perms::owner_all);
    const auto out = dir / "out.docx";
    try {
        OOXMLWriter::write(StyledText("x", plainAttributes()), out, {}, failing);
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
    EXPECT_THROW(OOXMLWriter::write(StyledText("x", plainAttributes()), out, stop.get_token(), slow), OperationCancelled);
    canceller.join();
    EXPECT_FALSE(std::filesystem::exists(out));
    // Only the two fake programs remain: no partial package under any name.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

}  // namespace
}  // namespace kolvex
