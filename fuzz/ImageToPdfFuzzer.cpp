// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as an image placed on a PDF page: the conversion ends with a one-page PDF that qpdf
// reads back, or refuses the file with a ConversionError; nothing may crash, hang or be left
// beside the output.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "FuzzInput.h"

#include "core/engines/pdf/ImageToPdf.h"
#include "core/engines/pdf/QpdfBridge.h"
#include "core/format/ConversionError.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvex;
    const std::filesystem::path& scratch = fuzz::scratch("image-to-pdf");
    const auto source = scratch / "picture";
    const auto destination = scratch / "picture.pdf";
    {
        std::ofstream out(source, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::filesystem::path written;
    try {
        written = ImageToPdf::write(source, destination, 0.24, {}, {});
    } catch (const ConversionError&) {
        if (std::filesystem::exists(destination)) {
            std::fprintf(stderr, "a refused picture left a file at the destination\n");
            __builtin_trap();
        }
        return 0;
    }
    const qpdf_bridge::Opened back = qpdf_bridge::open(written);
    if (back.status != qpdf_bridge::OpenStatus::opened || qpdf_bridge::pageCount(*back.document) != 1) {
        std::fprintf(stderr, "the picture was written as something qpdf cannot read back as one page\n");
        __builtin_trap();
    }
    std::filesystem::remove(written);
    return 0;
}
