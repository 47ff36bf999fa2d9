// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestPdfFiles.h"

#include <algorithm>
#include <cstdint>

#include <fmt/format.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

namespace kolvex::testing {

namespace {

QPDFObjectHandle rectangle(double a, double b, double c, double d) {
    return QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(a, b, c, d));
}

std::string photoSamples(int width, int height) {
    std::string samples(static_cast<size_t>(width) * static_cast<size_t>(height) * 3, '\0');
    uint32_t seed = 12345;
    size_t at = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = static_cast<int>((seed >> 24) % 24) - 12;
            const int base[3] = {255 * x / width, 255 * y / height, 255 - 255 * (x + y) / (width + height)};
            for (int c = 0; c < 3; ++c) samples[at++] = static_cast<char>(std::clamp(base[c] + grain, 0, 255));
        }
    }
    return samples;
}

QPDFObjectHandle photo(QPDF& pdf, const TestPage& page) {
    QPDFObjectHandle image = pdf.newStream(photoSamples(page.photoWidth, page.photoHeight));
    QPDFObjectHandle dictionary = image.getDict();
    dictionary.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dictionary.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dictionary.replaceKey("/Width", QPDFObjectHandle::newInteger(page.photoWidth));
    dictionary.replaceKey("/Height", QPDFObjectHandle::newInteger(page.photoHeight));
    dictionary.replaceKey("/ColorSpace", QPDFObjectHandle::newName("/DeviceRGB"));
    dictionary.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    if (page.damagedPhoto) {
        image.replaceStreamData("x\x9c\x01\xff\x00\x00 this is not deflate data", QPDFObjectHandle::newName("/FlateDecode"),
                                QPDFObjectHandle::newNull());
    }
    return image;
}

}  // namespace

void writeTestPdf(const std::filesystem::path& file, const std::vector<TestPage>& pages,
                  const TestPdfOptions& options) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle font = pdf.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"));
    QPDFPageDocumentHelper helper(pdf);
    for (const TestPage& testPage : pages) {
        std::string contents = fmt::format("1 0 0 rg {} {} 40 40 re f\n", testPage.originX, testPage.originY);
        if (!testPage.text.empty()) {
            contents += fmt::format("0 g BT /F1 12 Tf {} {} Td ({}) Tj ET\n", testPage.originX + 50,
                                    testPage.originY + testPage.height / 2, testPage.text);
        }
        QPDFObjectHandle page = QPDFObjectHandle::parse("<< /Type /Page >>");
        if (!options.inheritMediaBox) {
            page.replaceKey("/MediaBox", rectangle(testPage.originX, testPage.originY, testPage.originX + testPage.width,
                                                   testPage.originY + testPage.height));
        }
        if (testPage.cropBox) {
            const auto& c = *testPage.cropBox;
            page.replaceKey("/CropBox", rectangle(c[0], c[1], c[2], c[3]));
        }
        if (testPage.rotate != 0) page.replaceKey("/Rotate", QPDFObjectHandle::newInteger(testPage.rotate));
        QPDFObjectHandle fonts = QPDFObjectHandle::newDictionary();
        fonts.replaceKey("/F1", font);
        QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
        resources.replaceKey("/Font", fonts);
        if (testPage.photoWidth > 0) {
            const auto& b = testPage.photoBox;
            contents += fmt::format("q {} 0 0 {} {} {} cm /Im1 Do Q\n", b[2] - b[0], b[3] - b[1], b[0], b[1]);
            QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
            xobjects.replaceKey("/Im1", photo(pdf, testPage));
            resources.replaceKey("/XObject", xobjects);
        }
        page.replaceKey("/Resources", resources);
        page.replaceKey("/Contents", pdf.newStream(contents));
        helper.addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
    }
    if (options.inheritMediaBox && !pages.empty()) {
        const TestPage& first = pages.front();
        pdf.getRoot().getKey("/Pages").replaceKey(
            "/MediaBox", rectangle(first.originX, first.originY, first.originX + first.width, first.originY + first.height));
    }
    if (options.withMetadata) {
        pdf.getTrailer().replaceKey("/Info", pdf.makeIndirectObject(QPDFObjectHandle::parse(
                                                 "<< /Title (Secret plans) /Author (Someone) >>")));
        QPDFObjectHandle xmp = pdf.newStream(
            "<?xpacket begin=''?><x:xmpmeta xmlns:x='adobe:ns:meta/'><dc:title>Secret plans</dc:title>"
            "</x:xmpmeta><?xpacket end='w'?>");
        xmp.getDict().replaceKey("/Type", QPDFObjectHandle::newName("/Metadata"));
        xmp.getDict().replaceKey("/Subtype", QPDFObjectHandle::newName("/XML"));
        pdf.getRoot().replaceKey("/Metadata", xmp);
    }
    QPDFWriter writer(pdf, file.c_str());
    if (!options.version.empty()) writer.setMinimumPDFVersion(options.version);
    if (!options.userPassword.empty() || !options.ownerPassword.empty()) {
        writer.setR6EncryptionParameters(options.userPassword.c_str(), options.ownerPassword.c_str(), true, false,
                                         false, false, false, false, qpdf_r3p_full, true);
    }
    writer.write();
}

std::vector<TestPage> numberedPages(int count, double width, double height) {
    std::vector<TestPage> pages;
    for (int n = 1; n <= count; ++n) {
        TestPage page;
        page.width = width;
        page.height = height;
        page.text = fmt::format("Page {}", n);
        pages.push_back(page);
    }
    return pages;
}

PdfFacts readPdf(const std::filesystem::path& file) {
    QPDF pdf;
    pdf.setSuppressWarnings(true);
    pdf.processFile(file.c_str());
    PdfFacts facts;
    facts.encrypted = pdf.isEncrypted();
    facts.hasInfo = pdf.getTrailer().hasKey("/Info");
    facts.hasXmp = pdf.getRoot().hasKey("/Metadata");
    for (auto& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
        ++facts.pages;
        auto box = page.getMediaBox().getArrayAsRectangle();
        facts.mediaBoxes.push_back({box.llx, box.lly, box.urx, box.ury});
        QPDFObjectHandle rotate = page.getAttribute("/Rotate", false);
        facts.rotations.push_back(rotate.isInteger() ? static_cast<int>(rotate.getIntValue()) : 0);
        std::string filter;
        for (auto& [name, image] : page.getImages()) {
            QPDFObjectHandle f = image.getDict().getKey("/Filter");
            filter = f.isName() ? f.getName() : "none";
            if (facts.pages == 1) {
                auto raw = image.getRawStreamData();
                facts.firstImageData.assign(reinterpret_cast<const char*>(raw->getBuffer()), raw->getSize());
                QPDFObjectHandle space = image.getDict().getKey("/ColorSpace");
                if (space.isArray() && space.getArrayNItems() > 0) space = space.getArrayItem(0);
                facts.firstImageColourSpace = space.isName() ? space.getName() : "";
                facts.firstImageBits = static_cast<int>(image.getDict().getKey("/BitsPerComponent").getIntValue());
                facts.firstImageHasSoftMask = image.getDict().hasKey("/SMask");
            }
            break;
        }
        facts.imageFilters.push_back(filter);
    }
    return facts;
}

}  // namespace kolvex::testing
