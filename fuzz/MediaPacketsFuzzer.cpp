// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as a media file, read as the trim and split sheets and the copy-cut planner read
// one: its keyframes, where a stream copy can be cut (whole and within a window), how many
// pictures it holds. Each read ends, with an answer or the file named as unreadable.
#include <filesystem>
#include <fstream>
#include <string>

#include "FuzzInput.h"

#include "core/ffmpeg/LibavKeyframeReader.h"
#include "core/format/ConversionError.h"

namespace {

const std::filesystem::path& scratch() { return kolvex::fuzz::scratch("media"); }

template <typename Read>
void guarded(Read&& read) {
    try {
        read();
    } catch (const kolvex::ConversionError&) {
        // unreadable as media: what the sheet reports
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvex;
    const auto file = scratch() / "input.media";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const LibavKeyframeReader reader;
    guarded([&] {
        const KeyframeIndex index = reader.index(file);
        (void)index.largestGap();
    });
    guarded([&] { (void)reader.cuts(file); });
    guarded([&] { (void)reader.cuts(file, {}, std::pair{0.5, 2.0}); });
    guarded([&] { (void)LibavKeyframeReader::pictureCount(file); });
    return 0;
}
