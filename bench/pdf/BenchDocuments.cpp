// SPDX-License-Identifier: GPL-3.0-or-later
#include "BenchDocuments.h"

#include <string>

#include <fmt/format.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

// A text-heavy page: forty lines of Helvetica, a few filled shapes.
void writeBenchDocument(const std::filesystem::path& file, int pages) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle font = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"));
    QPDFPageDocumentHelper helper(pdf);
    for (int n = 1; n <= pages; ++n) {
        std::string contents = "0.2 0.4 0.8 rg 72 72 200 120 re f 0.9 0.3 0.2 rg 320 72 200 120 re f 0 g BT /F1 11 Tf 14 TL 72 740 Td\n";
        for (int line = 0; line < 40; ++line) {
            contents += fmt::format("(Page {} line {}: the quick brown fox jumps over the lazy dog, again and again.) Tj T*\n",
                                    n, line);
        }
        contents += "ET\n";
        QPDFObjectHandle page = QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] >>");
        QPDFObjectHandle fonts = QPDFObjectHandle::newDictionary();
        fonts.replaceKey("/F1", font);
        QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
        resources.replaceKey("/Font", fonts);
        page.replaceKey("/Resources", resources);
        page.replaceKey("/Contents", pdf.newStream(contents));
        helper.addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
    }
    QPDFWriter writer(pdf, file.c_str());
    writer.write();
}

