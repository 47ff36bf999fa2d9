// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/image/ImageMetadata.h"

#include <memory>
#include <vector>

#include <webp/mux.h>

namespace kolvex::image {

namespace {

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool isPersonalField(std::string_view name) {
    return startsWith(name, "exif-") || name == "xmp-data" || name == "iptc-data" || startsWith(name, "png-comment-") ||
           name == "gif-comment" || name == "image-description";
}

}  // namespace

void ImageMetadata::removePersonalFields(vips::VImage& image) {
    std::vector<std::string> doomed;
    gchar** fields = vips_image_get_fields(image.get_image());
    for (gchar** field = fields; *field; ++field) {
        if (isPersonalField(*field)) doomed.emplace_back(*field);
    }
    g_strfreev(fields);
    for (const auto& name : doomed) image.remove(name.c_str());
}

std::optional<std::string> ImageMetadata::withoutWebpMetadata(std::string_view webp) {
    WebPData input{reinterpret_cast<const uint8_t*>(webp.data()), webp.size()};
    std::unique_ptr<WebPMux, decltype(&WebPMuxDelete)> mux(WebPMuxCreate(&input, 0), WebPMuxDelete);
    if (!mux) return std::nullopt;
    for (const char* chunk : {"EXIF", "XMP "}) {
        WebPMuxError error = WebPMuxDeleteChunk(mux.get(), chunk);
        if (error != WEBP_MUX_OK && error != WEBP_MUX_NOT_FOUND) return std::nullopt;
    }
    WebPData output;
    WebPDataInit(&output);
    if (WebPMuxAssemble(mux.get(), &output) != WEBP_MUX_OK) return std::nullopt;
    std::string bytes(reinterpret_cast<const char*>(output.bytes), output.size);
    WebPDataClear(&output);
    return bytes;
}

}  // namespace kolvex::image
