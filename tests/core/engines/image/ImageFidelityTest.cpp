// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ImageFixtures.h"
#include "core/engines/image/ImageEngine.h"
#include "core/engines/image/TiffExif.h"
#include "support/BinaryFixtures.h"
#include "support/ExternalTool.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using namespace kolvex::testing;
using vips::VImage;

ConversionOptions tool(const std::string& id) {
    ConversionOptions options;
    options.tool = id;
    return options;
}

// A job as the tool planner makes it for a tool that may keep the encoded data.
ConversionJob copyableJob(const fs::path& source, const fs::path& destination, const std::string& format,
                          ConversionOptions options) {
    ConversionJob job = imageJob(source, destination, format, format, std::move(options));
    job.capability.passthroughPossible = true;
    return job;
}

// The bytes of a JPEG from its first scan to the end: the compressed picture itself.
std::string compressedPicture(const fs::path& jpeg) {
    const std::string bytes = readFile(jpeg);
    const size_t scan = bytes.find("\xFF\xDA");
    return scan == std::string::npos ? "" : bytes.substr(scan);
}

// The payload of every quantisation table segment, in order.
std::string quantisationTables(const fs::path& jpeg) {
    const std::string bytes = readFile(jpeg);
    std::string tables;
    for (size_t at = bytes.find("\xFF\xDB"); at != std::string::npos && at < bytes.find("\xFF\xDA");
         at = bytes.find("\xFF\xDB", at + 2)) {
        const size_t length = (static_cast<unsigned char>(bytes[at + 2]) << 8) | static_cast<unsigned char>(bytes[at + 3]);
        tables += bytes.substr(at + 4, length - 2);
    }
    return tables;
}

VImage noise(int width, int height) {
    return VImage::gaussnoise(width, height, VImage::option()->set("mean", 128)->set("sigma", 40))
        .bandjoin({VImage::gaussnoise(width, height), VImage::gaussnoise(width, height)})
        .cast(VIPS_FORMAT_UCHAR)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

class ImageFidelityTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(ImageFidelityTest, StrippingAJpegRemovesItsMetadataWithoutReencoding) {
    VImage tagged = withMetadata(quadrants(64, 48), 6);
    tagged.set("exif-ifd3-GPSLatitudeRef", "N");
    const fs::path source = dir / "photo.jpg";
    save(tagged, source, "jpegsave", true);
    ASSERT_NE(headerField(source, "exif-ifd3-GPSLatitudeRef"), "");
    ASSERT_NE(headerField(source, "exif-ifd0-Make"), "");

    const ConversionJob job = copyableJob(source, dir / "clean.jpg", "jpg", tool("strip-metadata"));
    ImageEngine().convert(job, {}, {});
    const fs::path out = dir / "clean.jpg";
    EXPECT_EQ(compressedPicture(out), compressedPicture(source)) << "the picture is copied, not re-encoded";
    EXPECT_EQ(headerField(out, "exif-ifd0-Make"), "");
    EXPECT_EQ(headerField(out, "exif-ifd3-GPSLatitudeRef"), "");
    EXPECT_EQ(headerField(out, "xmp-data"), "");
    EXPECT_EQ(headerField(out, "orientation"), "6") << "still shown upright";
    EXPECT_NE(headerField(out, "icc-profile-data"), "") << "colours stay as they were";
    EXPECT_EQ(readFile(out).find(kCameraMake), std::string::npos);

    // Reported as a copy only when it was one.
    EXPECT_TRUE(ImageEngine().copiedEncodedData(job));
    ConversionOptions smaller = tool("strip-metadata");
    smaller.quality = 0.5;
    EXPECT_FALSE(ImageEngine().copiedEncodedData(copyableJob(source, dir / "x.jpg", "jpg", smaller)));
    save(quadrants(64, 48), dir / "picture.png", "pngsave");
    EXPECT_FALSE(ImageEngine().copiedEncodedData(copyableJob(dir / "picture.png", dir / "y.png", "png", tool("strip-metadata"))));

    // A damaged JPEG is refused rather than copied on.
    const std::string whole = readFile(source);
    const fs::path cut = dir.write("cut.jpg", whole.substr(0, whole.size() * 2 / 3));
    EXPECT_THROW(ImageEngine().convert(imageJob(cut, dir / "cut-clean.jpg", "jpg", "jpg", tool("strip-metadata")), {}, {}),
                 ConversionError);
    EXPECT_FALSE(fs::exists(dir / "cut-clean.jpg"));
}

TEST_F(ImageFidelityTest, TurningOrResizingAJpegKeepsItsQuality) {
    for (int quality : {40, 95}) {
        const fs::path source = dir / ("q" + std::to_string(quality) + ".jpg");
        noise(160, 120).jpegsave(source.c_str(), VImage::option()->set("Q", quality));
        ConversionOptions rotate = tool("rotate");
        rotate.rotation = 90;
        ConversionOptions resize = tool("resize");
        resize.maxDimension = 80;
        for (const auto& options : {rotate, resize}) {
            SCOPED_TRACE(quality);
            const fs::path out = dir / ("out-" + std::to_string(quality) + *options.tool + ".jpg");
            ImageEngine().convert(imageJob(source, out, "jpg", "jpg", options), {}, {});
            EXPECT_EQ(quantisationTables(out), quantisationTables(source)) << *options.tool;
        }
    }
}

// A tag as exiv2 reads it ("" when absent): an EXIF reader that is not libvips.
std::string exifTag(const fs::path& file, const std::string& key) {
    std::string value = programOutput("/usr/bin/exiv2", {"-q", "-K", key, "-Pv", file.string()}).value_or("");
    while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) value.pop_back();
    return value;
}

TEST_F(ImageFidelityTest, ExifAndGpsSurviveInEveryTargetThatHoldsThemWhenMetadataIsKept) {
    if (!fs::exists("/usr/bin/exiv2")) GTEST_SKIP() << "exiv2 is not installed";
    VImage tagged = withMetadata(quadrants(64, 48));
    tagged.set("exif-ifd3-GPSLatitudeRef", "N");
    tagged.set("exif-ifd2-ExposureTime", "1/250");
    const fs::path source = dir / "photo.jpg";
    save(tagged, source, "jpegsave", true);
    ASSERT_EQ(exifTag(source, "Exif.Image.Make"), kCameraMake);
    ASSERT_EQ(exifTag(source, "Exif.GPSInfo.GPSLatitudeRef"), "N");

    ConversionOptions turned = tool("rotate");
    turned.rotation = 90;
    for (const auto& options : {ConversionOptions{}, turned}) {
        for (std::string to : {"tiff", "png", "webp", "heic", "avif"}) {
            SCOPED_TRACE(to + " " + options.tool.value_or("convert"));
            const fs::path out = dir / ("kept-" + options.tool.value_or("convert") + "." + to);
            ImageEngine().convert(imageJob(source, out, "jpg", to, options), {}, {});
            if (to == "tiff") {
                // libvips cannot read a TIFF's EXIF: exiv2 does.
                EXPECT_EQ(exifTag(out, "Exif.Image.Make"), kCameraMake);
                EXPECT_EQ(exifTag(out, "Exif.GPSInfo.GPSLatitudeRef"), "N");
                EXPECT_EQ(exifTag(out, "Exif.Photo.ExposureTime"), "1/250");
                EXPECT_EQ(headerField(out, "width"), options.tool ? "48" : "64") << "still a sound TIFF";
            } else {
                EXPECT_NE(headerField(out, "exif-ifd0-Make").find(kCameraMake), std::string::npos);
                EXPECT_NE(headerField(out, "exif-ifd3-GPSLatitudeRef"), "");
            }
        }
    }

    // Damaged EXIF (every truncation of a real block, and garbage) never spoils the TIFF.
    const std::string tiff = readFile(dir / "kept-convert.tiff");
    const VImage original = VImage::new_from_file(source.c_str());
    size_t length = 0;
    const auto* exif = static_cast<const char*>(original.get_blob("exif-data", &length));
    for (size_t cut = 0; cut <= length; ++cut) {
        const auto tagged = image::TiffExif::embed(tiff, std::string_view(exif, cut));
        if (tagged) {
            ASSERT_EQ(tagged->substr(8, 16), tiff.substr(8, 16)) << cut;
        }
    }
    EXPECT_FALSE(image::TiffExif::embed(tiff, std::string(300, '\xFF')));

    ConversionOptions dropped;
    dropped.preserveMetadata = false;
    ImageEngine().convert(imageJob(source, dir / "dropped.tiff", "jpg", "tiff", dropped), {}, {});
    EXPECT_EQ(exifTag(dir / "dropped.tiff", "Exif.Image.Make"), "");
    EXPECT_EQ(exifTag(dir / "dropped.tiff", "Exif.GPSInfo.GPSLatitudeRef"), "");
}

TEST_F(ImageFidelityTest, IconsShowTheirLargestEntryWithItsTransparency) {
    // Four entries, the largest second: 16 blue, 256 red (right half clear), 32 green, 48 yellow.
    struct Entry {
        int side;
        std::vector<double> colour;
    };
    const std::vector<Entry> entries{{16, {0, 0, 255}}, {256, {255, 0, 0}}, {32, {0, 255, 0}}, {48, {255, 255, 0}}};
    std::vector<IconEntry> icon;
    for (const Entry& entry : entries) {
        VImage colour = (VImage::black(entry.side, entry.side, VImage::option()->set("bands", 3)) + entry.colour)
                            .cast(VIPS_FORMAT_UCHAR);
        VImage alpha = (VImage::black(entry.side / 2, entry.side) + 255)
                           .join(VImage::black(entry.side - entry.side / 2, entry.side), VIPS_DIRECTION_HORIZONTAL)
                           .cast(VIPS_FORMAT_UCHAR);
        VImage rgba = colour.bandjoin(alpha).copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        VipsBlob* blob = rgba.pngsave_buffer();
        size_t length = 0;
        const void* data = vips_blob_get(blob, &length);
        icon.push_back({entry.side, std::string(static_cast<const char*>(data), length)});
        vips_area_unref(VIPS_AREA(blob));
    }
    const fs::path file = dir.write("app.ico", iconFile(icon));

    ImageEngine().convert(imageJob(file, dir / "app.png", "ico", "png"), {}, {});
    const fs::path out = dir / "app.png";
    EXPECT_EQ(headerField(out, "width"), "256");
    EXPECT_EQ(headerField(out, "height"), "256");
    EXPECT_EQ(headerField(out, "bands"), "4");
    const VImage back = reload(out);
    EXPECT_EQ(pixel(back, 20, 128), (std::vector<double>{255, 0, 0, 255}));
    EXPECT_EQ(pixel(back, 236, 128)[3], 0) << "the clear half stays clear";
}

}  // namespace
}  // namespace kolvex
