// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as a PDF, opened as every page tool opens it: the structures qpdf walks are measured
// first, and a document that opens has its page tree listed, its first pages copied (with their
// form) into a new document and turned, and that document written. Nothing may crash or hang; a
// refusal for depth names a limit, and what is written is a PDF qpdf reads back.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "FuzzInput.h"

#include "core/engines/pdf/QpdfBridge.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvex;
    const std::filesystem::path& scratch = fuzz::scratch("pdf-page-tree");
    const auto source = scratch / "source.pdf";
    const auto copy = scratch / "copy.pdf";
    {
        std::ofstream out(source, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const qpdf_bridge::Opened opened = qpdf_bridge::open(source);
    if (opened.status == qpdf_bridge::OpenStatus::tooDeep &&
        (opened.tooDeep.structure.empty() || opened.tooDeep.limit == 0)) {
        std::fprintf(stderr, "refused for depth without naming the structure and its limit\n");
        __builtin_trap();
    }
    if (opened.status != qpdf_bridge::OpenStatus::opened) return 0;
    const int count = qpdf_bridge::pageCount(*opened.document);
    auto target = qpdf_bridge::makeEmpty();
    int copied = 0;
    for (int index = 0; index < count && index < 4; ++index) {
        try {
            qpdf_bridge::appendPage(*target, *opened.document, index);
            ++copied;
        } catch (const std::exception&) {
            // damage or depth met while copying: the tools report the file
        }
    }
    if (copied == 0) return 0;
    try {
        qpdf_bridge::rotatePages(*target, 90);
    } catch (const std::exception&) {
        return 0;
    }
    if (qpdf_bridge::write(*target, copy, {.encryptionOf = opened.document.get()}) != qpdf_bridge::WriteStatus::written)
        return 0;
    const qpdf_bridge::Opened back = qpdf_bridge::open(copy);
    if (back.status != qpdf_bridge::OpenStatus::opened || qpdf_bridge::pageCount(*back.document) != copied) {
        std::fprintf(stderr, "%d copied pages were written as something qpdf cannot read back\n", copied);
        __builtin_trap();
    }
    return 0;
}
