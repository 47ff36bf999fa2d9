// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <vips/vips8>

#include "PdfFixtures.h"
#include "core/engines/image/VipsRuntime.h"
#include "core/engines/pdf/PDFEngine.h"
#include "core/format/FormatRegistry.h"
#include "support/TempDir.h"

namespace kolvex::testing {
namespace {

using vips::VImage;

// Every conversion the shipped manifest gives this engine, with the formats as shipped.
TEST(PDFEngineWithTheShippedManifest, CarriesOutEveryImageConversion) {
    const FormatRegistry registry = FormatRegistry::loadBundled();
    const FormatManifest& manifest = registry.manifest();
    image::ensureVipsStarted();
    TempDir dir;
    writeTestPdf(dir / "doc.pdf", numberedPages(2));
    const PDFEngine engine;
    int checked = 0;
    for (const auto& capability : manifest.conversions) {
        if (capability.engine != EngineID("pdf")) continue;
        const Format from = *registry.format(capability.from);
        const Format to = *registry.format(capability.to);
        if (to.category != FormatCategory::image && from.category != FormatCategory::image) continue;
        ConversionOptions options = ConversionOptions::defaults();
        options.dpi = 36;

        if (from.category == FormatCategory::image) {
            // A picture in the source format, made with the saver libvips has for it.
            const auto source = dir / ("picture." + from.canonicalExtension());
            VImage picture = (VImage::black(24, 16, VImage::option()->set("bands", 3)) + 200).cast(VIPS_FORMAT_UCHAR);
            try {
                if (from.id == FormatID("ico") || from.id == FormatID("bmp")) {
                    picture.magicksave(source.c_str(),
                                       VImage::option()->set("format", from.id == FormatID("ico") ? "ICO" : "BMP"));
                } else {
                    picture.write_to_file(source.c_str());
                }
            } catch (const vips::VError&) {
                GTEST_LOG_(INFO) << "no saver here for " << from.id << "; skipped";
                continue;
            }
            ConversionJob job = makeJob(source, dir / (from.id.rawValue + ".pdf"), from, to, options);
            ASSERT_TRUE(engine.canHandle(job)) << from.id;
            engine.convert(job, {}, {});
            EXPECT_EQ(readPdf(job.destination).pages, 1) << from.id;
        } else {
            ConversionJob job = makeJob(dir / "doc.pdf", dir / ("doc." + to.canonicalExtension()), from, to, options);
            ASSERT_TRUE(engine.canHandle(job)) << to.id;
            auto pages = engine.convert(job, {}, {});
            ASSERT_EQ(pages.size(), 2u) << to.id;
            EXPECT_EQ(imageSize(pages[1]), std::make_pair(100, 50)) << to.id;
        }
        ++checked;
    }
    EXPECT_GE(checked, 8);
}

}  // namespace
}  // namespace kolvex::testing
