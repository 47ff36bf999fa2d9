// ffprobe's JSON report of a media file.
#include <string>

#include "FuzzInput.h"

#include "core/ffmpeg/MediaProbe.h"
#include "core/format/ConversionError.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvex;
    try {
        (void)FFprobeProber::parseReport(std::string(fuzz::text(data, size)), "/tmp/input.mp4");
    } catch (const ConversionError&) {
    }
    return 0;
}
