// SPDX-License-Identifier: GPL-3.0-or-later
#include <array>
#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>
#include <vips/vips8>

#include "PdfFixtures.h"
#include "core/engines/pdf/ImageToPdf.h"
#include "core/engines/pdf/PDFEngine.h"
#include "core/engines/image/VipsRuntime.h"
#include "support/BinaryFixtures.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

using vips::VImage;

Format jpegFormat() { return imageFormat("jpg", "image/jpeg", "jpg"); }
Format pngFormat() { return imageFormat("png", "image/png", "png"); }

// A white picture with a red top-left quarter.
VImage quarterRed(int width, int height, int bands = 3) {
    image::ensureVipsStarted();
    std::vector<double> white(static_cast<size_t>(bands), 255.0);
    VImage image =
        (VImage::black(width, height, VImage::option()->set("bands", bands)) + white).cast(VIPS_FORMAT_UCHAR).copy_memory();
    std::vector<double> red{255, 0, 0};
    if (bands == 4) red.push_back(255);
    image.draw_rect(red, 0, 0, width / 2, height / 2, VImage::option()->set("fill", true));
    return image;
}

// Renders the PDF's page with the engine at one pixel per image pixel (300 dpi).
std::filesystem::path renderBack(const std::filesystem::path& pdf, const std::filesystem::path& png) {
    return PDFEngine().convert(makeJob(pdf, png, pdfFormat(), pngFormat()), {}, {}).front();
}

std::string scanData(const std::string& jpeg) {
    const size_t sos = jpeg.find("\xFF\xDA");
    return sos == std::string::npos ? std::string() : jpeg.substr(sos);
}

TEST(ImageToPdf, PlacesAJpegWithoutReencodingIt) {
    TempDir dir;
    quarterRed(300, 200).jpegsave((dir / "photo.jpg").c_str(), VImage::option()->set("Q", 90));
    const PDFEngine engine;
    std::vector<double> reported;
    auto outputs = engine.convert(makeJob(dir / "photo.jpg", dir / "photo.pdf", jpegFormat(), pdfFormat()),
                                  [&](double f) { reported.push_back(f); }, {});
    ASSERT_EQ(outputs, std::vector<std::filesystem::path>{dir / "photo.pdf"});
    EXPECT_EQ(reported, (std::vector<double>{0.1, 0.5, 1.0}));
    PdfFacts facts = readPdf(dir / "photo.pdf");
    ASSERT_EQ(facts.pages, 1);
    EXPECT_EQ(facts.mediaBoxes[0], (std::array<double, 4>{0, 0, 72, 48}));  // 0.24 points per pixel
    EXPECT_EQ(facts.imageFilters[0], "/DCTDecode");
    EXPECT_EQ(facts.firstImageColourSpace, "/DeviceRGB");
    EXPECT_EQ(scanData(facts.firstImageData), scanData(readFile(dir / "photo.jpg")));
}

TEST(ImageToPdf, TurnsAJpegUprightByItsOrientationTag) {
    TempDir dir;
    const std::vector<std::pair<int, std::array<int, 2>>> cases{
        // orientation → where the red quarter ends up (column, row of the upright picture's quarters)
        {1, {0, 0}}, {3, {1, 1}}, {6, {1, 0}}, {8, {0, 1}}, {2, {1, 0}}, {5, {0, 0}}, {7, {1, 1}}, {4, {0, 1}}};
    for (const auto& [orientation, quarter] : cases) {
        VImage image = quarterRed(120, 80).copy();
        image.set(VIPS_META_ORIENTATION, orientation);
        const auto jpg = dir / ("o" + std::to_string(orientation) + ".jpg");
        image.jpegsave(jpg.c_str(), VImage::option()->set("Q", 95));
        const auto pdf = dir / ("o" + std::to_string(orientation) + ".pdf");
        PDFEngine().convert(makeJob(jpg, pdf, jpegFormat(), pdfFormat()), {}, {});

        const bool turned = orientation >= 5;
        const int width = turned ? 80 : 120;
        const int height = turned ? 120 : 80;
        const auto png = renderBack(pdf, dir / ("o" + std::to_string(orientation) + ".png"));
        ASSERT_EQ(imageSize(png), std::make_pair(width, height)) << orientation;
        for (int column = 0; column < 2; ++column) {
            for (int row = 0; row < 2; ++row) {
                const auto pixel = pixelAt(png, column * width / 2 + width / 4, row * height / 2 + height / 4);
                const bool red = pixel[1] < 60 && pixel[0] > 200;
                EXPECT_EQ(red, column == quarter[0] && row == quarter[1])
                    << "orientation " << orientation << " quarter " << column << "," << row;
            }
        }
    }
}

TEST(ImageToPdf, EmbedsOtherImagesLosslessly) {
    TempDir dir;
    image::ensureVipsStarted();
    quarterRed(40, 20).pngsave((dir / "rgb.png").c_str());
    VImage alpha = quarterRed(40, 20, 4);
    alpha.draw_rect({0, 0, 0, 0}, 20, 10, 20, 10, VImage::option()->set("fill", true));
    alpha.pngsave((dir / "alpha.png").c_str());
    quarterRed(40, 20).colourspace(VIPS_INTERPRETATION_B_W).pngsave((dir / "grey.png").c_str());
    quarterRed(40, 20).colourspace(VIPS_INTERPRETATION_RGB16).pngsave((dir / "deep.png").c_str());
    quarterRed(40, 20).tiffsave((dir / "picture.tif").c_str());

    struct Case {
        const char* file;
        const char* colourSpace;
        int bits;
        bool softMask;
    };
    const std::vector<Case> cases{{"rgb.png", "/DeviceRGB", 8, false},
                                  {"alpha.png", "/DeviceRGB", 8, true},
                                  {"grey.png", "/DeviceGray", 8, false},
                                  {"deep.png", "/DeviceRGB", 16, false},
                                  {"picture.tif", "/DeviceRGB", 8, false}};
    for (const Case& c : cases) {
        const auto pdf = dir / (std::string(c.file) + ".pdf");
        PDFEngine().convert(makeJob(dir / c.file, pdf, pngFormat(), pdfFormat()), {}, {});
        PdfFacts facts = readPdf(pdf);
        EXPECT_EQ(facts.imageFilters[0], "/FlateDecode") << c.file;
        EXPECT_EQ(facts.firstImageColourSpace, c.colourSpace) << c.file;
        EXPECT_EQ(facts.firstImageBits, c.bits) << c.file;
        EXPECT_EQ(facts.firstImageHasSoftMask, c.softMask) << c.file;

        const auto png = renderBack(pdf, dir / (std::string(c.file) + ".png"));
        ASSERT_EQ(imageSize(png), std::make_pair(40, 20)) << c.file;
        EXPECT_EQ(pixelAt(png, 30, 5), (std::vector<double>{255, 255, 255})) << c.file;
        // Transparent pixels show the white page.
        EXPECT_EQ(pixelAt(png, 30, 15), (std::vector<double>{255, 255, 255})) << c.file;
        if (std::string(c.file) != "grey.png") {
            EXPECT_EQ(pixelAt(png, 5, 5), (std::vector<double>{255, 0, 0})) << c.file;
        }
    }
}

TEST(ImageToPdf, AnIconBecomesAPageOfItsLargestPicture) {
    TempDir dir;
    image::ensureVipsStarted();
    // The small entry first, as icon files usually have it: 16 px blue, then 64 px red.
    std::vector<IconEntry> entries;
    for (const auto& [side, colour] : {std::pair{16, std::vector<double>{0, 0, 255}}, std::pair{64, std::vector<double>{255, 0, 0}}}) {
        VImage picture = (VImage::black(side, side, VImage::option()->set("bands", 3)) + colour).cast(VIPS_FORMAT_UCHAR);
        VipsBlob* blob = picture.bandjoin_const({255}).pngsave_buffer();
        size_t length = 0;
        const void* data = vips_blob_get(blob, &length);
        entries.push_back({side, std::string(static_cast<const char*>(data), length)});
        vips_area_unref(VIPS_AREA(blob));
    }
    const auto icon = dir.write("app.ico", iconFile(entries));
    const auto pdf = dir / "app.pdf";
    PDFEngine().convert(makeJob(icon, pdf, imageFormat("ico", "image/vnd.microsoft.icon", "ico"), pdfFormat()), {}, {});

    const auto images = pdfImages(pdf);  // the picture, then its soft mask if it has one
    ASSERT_FALSE(images.empty());
    EXPECT_EQ(images[0].width, 64);
    EXPECT_EQ(images[0].height, 64);
    const auto page = popplerRender(pdf, 300, dir.path());
    EXPECT_EQ(pixelAt(page, 30, 30), (std::vector<double>{255, 0, 0}));
}

TEST(ImageToPdf, KeepsTheColoursOfAPictureWithItsOwnProfile) {
    // A Display P3 picture of one colour, as phones take them: its numbers mean other colours
    // than the same numbers in sRGB.
    TempDir dir;
    image::ensureVipsStarted();
    VImage srgb = (VImage::black(64, 64, VImage::option()->set("bands", 3)) + std::vector<double>{200, 40, 60})
                      .cast(VIPS_FORMAT_UCHAR)
                      .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    VImage p3 = srgb.icc_transform("p3", VImage::option()->set("input_profile", "srgb")->set("embedded", false));
    p3.jpegsave((dir / "phone.jpg").c_str(), VImage::option()->set("Q", 95));
    p3.pngsave((dir / "phone.png").c_str());

    ConversionOptions onePointPerPixel = ConversionOptions::defaults();
    onePointPerPixel.dpi = 72;
    for (const char* file : {"phone.jpg", "phone.png"}) {
        SCOPED_TRACE(file);
        const auto source = dir / file;
        const auto expected = VImage::new_from_file(source.c_str()).icc_transform("srgb").getpoint(32, 32);
        const auto raw = VImage::new_from_file(source.c_str()).getpoint(32, 32);
        ASSERT_GT(std::abs(raw[0] - expected[0]) + std::abs(raw[1] - expected[1]) + std::abs(raw[2] - expected[2]), 20)
            << "the profile must matter for this test to mean anything";

        const auto pdf = dir / (std::string(file) + ".pdf");
        PDFEngine().convert(makeJob(source, pdf, std::string(file).ends_with("jpg") ? jpegFormat() : pngFormat(),
                                    pdfFormat(), onePointPerPixel),
                            {}, {});
        EXPECT_EQ(readPdf(pdf).firstImageColourSpace, "/ICCBased");
        TempDir rendered;
        const auto shown = pixelAt(popplerRender(pdf, 72, rendered.path()), 32, 32);
        for (size_t band = 0; band < 3; ++band) EXPECT_NEAR(shown[band], expected[band], 4) << "band " << band;
    }
}

TEST(ImageToPdf, LaysThePictureOutAtTheChosenResolution) {
    TempDir dir;
    quarterRed(300, 150).pngsave((dir / "wide.png").c_str());
    ConversionOptions options = ConversionOptions::defaults();
    options.dpi = 150;
    PDFEngine().convert(makeJob(dir / "wide.png", dir / "wide.pdf", pngFormat(), pdfFormat(), options), {}, {});
    EXPECT_EQ(readPdf(dir / "wide.pdf").mediaBoxes[0], (std::array<double, 4>{0, 0, 144, 72}));
}

using testing::bigEndian32;
using testing::crc32;

// A few bytes that claim a 50 000 × 50 000 picture.
std::string pixelBombPng() {
    std::string ihdr = "IHDR" + bigEndian32(50000) + bigEndian32(50000) + std::string("\x08\x02\x00\x00\x00", 5);
    std::string png = "\x89PNG\r\n\x1a\n";
    png += bigEndian32(13) + ihdr + bigEndian32(crc32(ihdr));
    std::string idat = "IDAT" + std::string("\x78\x9c\x01\x00\x00\xff\xff", 7);
    png += bigEndian32(7) + idat + bigEndian32(crc32(idat));
    return png;
}

TEST(ImageToPdf, RefusesImagesItCannotRead) {
    TempDir dir;
    quarterRed(300, 200).jpegsave((dir / "photo.jpg").c_str());
    const std::string photo = readFile(dir / "photo.jpg");
    dir.write("truncated.jpg", photo.substr(0, photo.size() / 2));
    dir.write("text.png", "not a picture at all\n");
    dir.write("empty.png", "");
    dir.write("bomb.png", pixelBombPng());

    struct Case {
        const char* file;
        ConversionError::Kind kind;
    };
    const std::vector<Case> cases{{"truncated.jpg", ConversionError::Kind::corruptedInput},
                                  {"text.png", ConversionError::Kind::corruptedInput},
                                  {"empty.png", ConversionError::Kind::corruptedInput},
                                  {"missing.png", ConversionError::Kind::corruptedInput},
                                  {"bomb.png", ConversionError::Kind::corruptedInput}};
    for (const Case& c : cases) {
        TempDir out;
        ConversionError error = conversionErrorOf(
            [&] { PDFEngine().convert(makeJob(dir / c.file, out / "x.pdf", pngFormat(), pdfFormat()), {}, {}); });
        EXPECT_EQ(error.kind(), c.kind) << c.file;
        EXPECT_EQ(error.circumstance() == ConversionError::Circumstance::tooLarge, std::string(c.file) == "bomb.png")
            << c.file;
        EXPECT_TRUE(filesIn(out.path()).empty()) << c.file;
    }
}

TEST(ImageToPdf, ReadsJpegMarkers) {
    TempDir dir;
    quarterRed(64, 32).jpegsave((dir / "a.jpg").c_str());
    VImage tagged = quarterRed(64, 32).copy();
    tagged.set(VIPS_META_ORIENTATION, 6);
    tagged.jpegsave((dir / "b.jpg").c_str());

    auto plain = ImageToPdf::readJpeg(readFile(dir / "a.jpg"));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->width, 64);
    EXPECT_EQ(plain->height, 32);
    EXPECT_EQ(plain->components, 3);
    EXPECT_EQ(plain->precision, 8);
    EXPECT_FALSE(plain->truncated);
    const std::string whole = readFile(dir / "a.jpg");
    auto cut = ImageToPdf::readJpeg(whole.substr(0, whole.size() - 10));
    ASSERT_TRUE(cut);
    EXPECT_TRUE(cut->truncated);
    auto withExif = ImageToPdf::readJpeg(readFile(dir / "b.jpg"));
    ASSERT_TRUE(withExif);
    EXPECT_EQ(withExif->strippedData.find("Exif"), std::string::npos);
    EXPECT_EQ(scanData(withExif->strippedData), scanData(readFile(dir / "b.jpg")));

    EXPECT_FALSE(ImageToPdf::readJpeg("\xFF\xD8\xFF\xD9"));
    EXPECT_FALSE(ImageToPdf::readJpeg("\xFF\xD8\xFF\xC0\x00"));
    EXPECT_FALSE(ImageToPdf::readJpeg("GIF89a"));
}

}  // namespace
}  // namespace kolvex::testing
