// SPDX-License-Identifier: GPL-3.0-or-later
// Word-processing packages, read from a file as the engine reads them.
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "FuzzInput.h"

#include "core/engines/document/DocumentFormatError.h"
#include "core/engines/document/DocxReader.h"
#include "core/format/ConversionError.h"

namespace {

// A file of this process's own, removed when it exits.
struct PackageFile {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("kolvex-fuzz-" + std::to_string(getpid()) + ".docx");
    ~PackageFile() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kolvex::fuzz::startTextSystem();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvex;
    static const PackageFile package;
    const auto& file = package.path;
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    try {
        (void)DocxReader::read(file);
    } catch (const DocumentFormatError&) {
    } catch (const DocumentLimitError&) {
    } catch (const ConversionError&) {
    }
    return 0;
}
