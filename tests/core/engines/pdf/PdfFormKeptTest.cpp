// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "PdfFixtures.h"
#include "core/engines/pdf/PDFEngine.h"
#include "support/ExternalTool.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

// Three pages, each with a filled text field: "f1" holding "value 1" on page 1, and so on.
std::string formPdf() {
    std::map<int, std::string> objects{
        {1, "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [10 0 R 11 0 R 12 0 R] /DA (/Helv 0 Tf 0 g) "
            "/DR << /Font << /Helv 7 0 R >> >> /NeedAppearances true >> >>"},
        {2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>"},
        {6, "<< /Length 36 >>\nstream\nBT /Helv 12 Tf 20 70 Td (Form) Tj ET\nendstream"},
        {7, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"},
    };
    for (int page = 1; page <= 3; ++page) {
        const std::string field = std::to_string(9 + page);
        objects[2 + page] = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 6 0 R /Annots [" + field +
                            " 0 R] >>";
        objects[9 + page] = "<< /FT /Tx /T (f" + std::to_string(page) + ") /V (value " + std::to_string(page) +
                            ") /Type /Annot /Subtype /Widget /Rect [20 20 180 50] /P " + std::to_string(2 + page) +
                            " 0 R /DA (/Helv 12 Tf 0 g) >>";
    }
    return pdfOfObjects(objects);
}

struct Field {
    std::string name;
    std::string value;
    int page = 0;
    bool operator==(const Field&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Field& field) {
    return out << field.name << "=" << field.value << "@" << field.page;
}

// The form's fields as qpdf's own report lists them: full name, value and page.
std::vector<Field> fieldsOf(const std::filesystem::path& pdf) {
    const auto report = programOutput("/usr/bin/qpdf", {"--warning-exit-0", "--json", "--json-key=acroform", pdf.string()});
    if (!report) return {};
    std::vector<Field> fields;
    const nlohmann::json parsed = nlohmann::json::parse(*report);
    for (const auto& field : parsed["acroform"]["fields"]) {
        std::string value = field["value"].is_string() ? field["value"].get<std::string>() : "";
        if (value.rfind("u:", 0) == 0) value.erase(0, 2);
        fields.push_back({field["fullname"].get<std::string>(), value, field["pageposfrom1"].get<int>()});
    }
    return fields;
}

// Split, extract-pages and merge in either order keep the fillable form: poppler sees an
// AcroForm in every output, and each field kept holds its value on the page its widget went
// to; two copies of one form merged keep every field under a name of its own.
TEST(PdfForms, SplitExtractAndMergeKeepTheForm) {
    if (!std::filesystem::exists("/usr/bin/pdfinfo") || !std::filesystem::exists("/usr/bin/qpdf"))
        GTEST_SKIP() << "pdfinfo and qpdf are needed to read the form back";
    TempDir dir;
    const auto form = dir.write("form.pdf", formPdf());
    writeTestPdf(dir / "plain.pdf", numberedPages(2));
    std::filesystem::copy_file(form, dir / "again.pdf");
    ASSERT_EQ(pdfInfoField(form, "Form"), "AcroForm");
    const PDFEngine engine;

    ConversionOptions second = ConversionOptions::defaults();
    second.pageRange = std::vector<int64_t>{1};
    const auto extracted = engine.convert(toolJob("extract-pages", form, dir / "extracted.pdf", second), {}, {});
    ASSERT_EQ(extracted.size(), 1u);
    EXPECT_EQ(pdfInfoField(extracted[0], "Form"), "AcroForm");
    EXPECT_EQ(fieldsOf(extracted[0]), (std::vector<Field>{{"f2", "value 2", 1}}));

    const auto parts = engine.convert(toolJob("split", form, dir / "part.pdf"), {}, {});
    ASSERT_EQ(parts.size(), 3u);
    for (int page = 1; page <= 3; ++page) {
        const auto& part = parts[static_cast<size_t>(page - 1)];
        EXPECT_EQ(pdfInfoField(part, "Form"), "AcroForm") << part;
        const std::string n = std::to_string(page);
        EXPECT_EQ(fieldsOf(part), (std::vector<Field>{{"f" + n, "value " + n, 1}})) << part;
    }

    const ConversionOptions none = ConversionOptions::defaults();
    const auto formFirst = engine.convert(toolJob("merge", form, dir / "first.pdf", none, {dir / "plain.pdf"}), {}, {});
    EXPECT_EQ(pdfInfoField(formFirst[0], "Form"), "AcroForm");
    EXPECT_EQ(fieldsOf(formFirst[0]), (std::vector<Field>{{"f1", "value 1", 1}, {"f2", "value 2", 2}, {"f3", "value 3", 3}}));

    const auto formLast = engine.convert(toolJob("merge", dir / "plain.pdf", dir / "last.pdf", none, {form}), {}, {});
    EXPECT_EQ(pdfInfoField(formLast[0], "Form"), "AcroForm");
    EXPECT_EQ(fieldsOf(formLast[0]), (std::vector<Field>{{"f1", "value 1", 3}, {"f2", "value 2", 4}, {"f3", "value 3", 5}}));

    const auto twice = engine.convert(toolJob("merge", form, dir / "twice.pdf", none, {dir / "again.pdf"}), {}, {});
    const auto fields = fieldsOf(twice[0]);
    ASSERT_EQ(fields.size(), 6u);
    std::set<std::string> names;
    for (size_t i = 0; i < fields.size(); ++i) {
        names.insert(fields[i].name);
        EXPECT_EQ(fields[i].value, "value " + std::to_string(i % 3 + 1)) << fields[i];
        EXPECT_EQ(fields[i].page, static_cast<int>(i) + 1) << fields[i];
    }
    EXPECT_EQ(names.size(), 6u) << "two fields of the merged form share a name";
}

}  // namespace
}  // namespace kolvex::testing
