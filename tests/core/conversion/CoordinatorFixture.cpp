// SPDX-License-Identifier: GPL-3.0-or-later
#include "CoordinatorFixture.h"

namespace kolvex::testing {

FormatManifest coordinatorManifest() {
    using C = FormatCategory;
    auto f = [](const char* id, C category, std::vector<std::string> extensions, const char* label) {
        Format format;
        format.id = FormatID(id);
        format.category = category;
        format.extensions = std::move(extensions);
        format.label = label;
        return format;
    };
    auto c = [](const char* from, const char* to, const char* engine, ConversionCost cost = ConversionCost::inProcess,
                bool passthrough = false) {
        return ConversionCapability{FormatID(from), FormatID(to), EngineID(engine), cost, passthrough};
    };
    auto t = [](const char* id, const char* label, std::set<C> categories, bool folds = false,
                std::optional<FormatID> output = std::nullopt) {
        return ToolDefinition{id, label, std::move(categories), EngineID("image"), folds, std::move(output)};
    };
    FormatManifest m;
    m.formats = {
        f("png", C::image, {"png"}, "PNG"),
        f("jpg", C::image, {".JPG", "jpeg"}, "JPEG"),
        f("tiff", C::image, {"tiff", "tif"}, "TIFF"),
        f("webp", C::image, {"webp"}, "WebP"),
        f("bmp", C::image, {"bmp"}, "BMP"),
        f("raw", C::image, {}, "Raw"),
        f("mp4", C::video, {"mp4"}, "MP4"),
        f("mov", C::video, {"mov"}, "QuickTime"),
        f("m4a", C::audio, {"m4a"}, "M4A"),
        f("targz", C::archive, {"tar.gz", "tgz"}, "Tar Gzip"),
        f("zip", C::archive, {"zip"}, "ZIP"),
        f("pdf", C::pdf, {"pdf"}, "PDF"),
    };
    m.conversions = {
        c("png", "jpg", "image"),
        c("tiff", "jpg", "image"),
        c("png", "raw", "image"),
        c("png", "png", "image"),
        // Rerouting: "image" first, then "vips2"; bmp has only an engine that is never registered.
        c("png", "webp", "vips2", ConversionCost::subprocess),
        c("png", "webp", "image"),
        c("png", "bmp", "image"),
        c("png", "bmp", "ghost", ConversionCost::subprocess),
        c("mp4", "mov", "ffmpeg", ConversionCost::subprocess, true),
        // A video and a sound dropped together on one target.
        c("mp4", "m4a", "ffmpeg", ConversionCost::subprocess, true),
        c("m4a", "m4a", "ffmpeg", ConversionCost::subprocess, true),
        c("targz", "zip", "archive"),
        c("png", "mp4", "image"),
    };
    m.tools = {
        t("compress", "Compress", {C::image, C::pdf}),
        t("strip-metadata", "Strip Metadata", {C::image, C::video}),
        t("resize", "Resize", {C::image}),
        t("trim", "Trim", {C::video, C::audio}),
        t("to-jpeg", "Make JPEG", {C::image}, false, FormatID("jpg")),
        t("odd-output", "Odd", {C::image}, false, FormatID("nonexistent")),
        t("merge", "Merge", {C::video, C::audio}, true),
    };
    return m;
}

std::vector<std::string> names(const std::vector<ConversionJob>& jobs) {
    std::vector<std::string> out;
    for (const auto& job : jobs) out.push_back(job.destination.filename().string());
    return out;
}

}  // namespace kolvex::testing
