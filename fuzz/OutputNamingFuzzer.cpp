// SPDX-License-Identifier: GPL-3.0-or-later
// Output names made from any source name: they fit in a file name and name no other folder.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "FuzzInput.h"

#include "core/format/ConversionError.h"
#include "core/services/OutputNaming.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvex;
    const auto text = fuzz::text(data, size);
    // The source name is the part before the first '|', the extension the rest.
    const auto bar = text.find('|');
    const auto name = text.substr(0, bar);
    // Extensions are the manifest's own, a few characters long: a name only needs to fit when
    // they leave room for it.
    const auto extension = bar == text.npos ? std::string_view("png") : text.substr(bar + 1, 16);
    // Names come from a directory listing: neither they nor extensions hold a slash or a NUL.
    if (text.find('\0') != text.npos || name.find('/') != name.npos || extension.find('/') != extension.npos) return 0;

    const auto stem = OutputNaming::stem(name);
    for (std::optional<int> suffix : {std::optional<int>(), std::optional<int>(999)}) {
        const auto made = OutputNaming::filename(stem, " part 12", suffix, OutputNaming::cleanExtension(extension));
        if (made.size() > OutputNaming::maxFilenameBytes) std::abort();
    }
    if (name.empty() || name == "." || name == "..") return 0;
    try {
        int calls = 0;
        const auto destination = OutputNaming::destination(
            std::filesystem::path("/folder") / std::string(name), extension, std::nullopt,
            [&calls](const std::filesystem::path&) { return ++calls < 3; });
        if (destination.parent_path() != "/folder") std::abort();
    } catch (const ConversionError&) {
    }
    return 0;
}
