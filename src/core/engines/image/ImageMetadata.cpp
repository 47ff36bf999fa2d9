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

std::optional<std::string> ImageMetadata::withoutJpegMetadata(std::string_view jpeg) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(jpeg[i]); };
    if (jpeg.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8) return std::nullopt;
    std::string out(jpeg.substr(0, 2));
    size_t pos = 2;
    while (pos + 1 < jpeg.size()) {
        if (byte(pos) != 0xFF) return std::nullopt;
        size_t markerAt = pos;
        while (pos < jpeg.size() && byte(pos) == 0xFF) ++pos;
        if (pos >= jpeg.size()) return std::nullopt;
        const unsigned char marker = byte(pos++);
        // Start of scan or end of image: the rest is entropy-coded data and trailers.
        if (marker == 0xDA || marker == 0xD9) {
            out.append(jpeg.substr(markerAt));
            return out;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            out.append(jpeg.substr(markerAt, pos - markerAt));
            continue;
        }
        if (pos + 2 > jpeg.size()) return std::nullopt;
        const size_t length = (size_t(byte(pos)) << 8) | byte(pos + 1);
        if (length < 2 || pos + length > jpeg.size()) return std::nullopt;
        const std::string_view payload = jpeg.substr(pos + 2, length - 2);
        const bool exifOrXmp = marker == 0xE1 && (startsWith(payload, std::string_view("Exif\0\0", 6)) ||
                                                  startsWith(payload, "http://ns.adobe.com/"));
        const bool iptc = marker == 0xED;
        if (!exifOrXmp && !iptc) out.append(jpeg.substr(markerAt, pos + length - markerAt));
        pos += length;
    }
    return std::nullopt;
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
