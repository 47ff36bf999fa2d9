// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as a PDF, each of its first pages written alone straight from the document as a
// split writes them: the writer ends, or declines, and what it calls written is a one-page PDF
// that qpdf reads back.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "FuzzInput.h"

#include "core/engines/pdf/QpdfBridge.h"

namespace {

const std::filesystem::path& scratch() { return kolvex::fuzz::scratch("pdf"); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvex;
    const auto source = scratch() / "source.pdf";
    const auto page = scratch() / "page.pdf";
    {
        std::ofstream out(source, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const qpdf_bridge::Opened opened = qpdf_bridge::open(source);
    if (opened.status != qpdf_bridge::OpenStatus::opened) return 0;
    const int count = qpdf_bridge::pageCount(*opened.document);
    for (int index = 0; index < count && index < 4; ++index) {
        int64_t bytes = 0;
        std::optional<qpdf_bridge::WriteStatus> status;
        try {
            status = qpdf_bridge::writePage(*opened.document, index, page, &bytes);
        } catch (const std::exception&) {
            continue;  // the page tree itself is damaged: the caller reports the file
        }
        if (status != qpdf_bridge::WriteStatus::written) continue;
        const qpdf_bridge::Opened back = qpdf_bridge::open(page);
        if (back.status != qpdf_bridge::OpenStatus::opened || qpdf_bridge::pageCount(*back.document) != 1 ||
            static_cast<int64_t>(std::filesystem::file_size(page)) != bytes) {
            std::fprintf(stderr, "page %d was written as something qpdf cannot read back as one page\n", index);
            __builtin_trap();
        }
    }
    return 0;
}
