// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "core/conversion/ConversionEngine.h"

namespace kolvex {

// Converts one still image into another image format, and carries out the image tools
// (compress, resize, crop, rotate, flip, strip-metadata) through the options a job carries.
// Decoding and encoding run on libvips; the saver is chosen from the target format's content
// types. Keeps no state between jobs: one engine may serve any number of threads at once.
class ImageEngine final : public ConversionEngine {
public:
    ImageEngine() = default;

    EngineID id() const override { return engine_ids::image; }

    // Both formats are images, the tool (if any) is one of ours, and libvips here can read
    // `from` and write `to`.
    bool canHandle(const ConversionJob& job) const override;
    // Leaves the room check before the job to the coordinator.
    bool checksRoom(const ConversionJob&) const override { return false; }

    // Writes exactly one file, at job.destination (which must not exist yet), and returns it.
    // A same-format "compress" that did not shrink the file ends with a copy of the source there.
    // Throws ConversionError (corruptedInput for a source that cannot be decoded) or
    // OperationCancelled; a partly written output is removed first. Runs on a worker thread.
    std::vector<std::filesystem::path> convert(const ConversionJob& job, const ProgressCallback& progress,
                                               std::stop_token stop) const override;

    // True only for the jobs whose output keeps the source's compressed picture byte for byte:
    // metadata removed from a JPEG with nothing else asked of it. Every other job re-encodes.
    bool copiedEncodedData(const ConversionJob& job) const;

    // convert(), with a note when a size that was asked for is more than the target holds and the
    // picture was made as large as it can be instead.
    ConversionOutcome convertReporting(const ConversionJob& job, const ProgressCallback& progress,
                                       std::stop_token stop) const override;

    static const std::set<std::string>& supportedTools();

    // Whether libvips here reads (writes) one of the format's content types.
    static bool canRead(const Format& format);
    static bool canWrite(const Format& format);

    // Sources declaring more pixels than this are refused before anything is decoded.
    static constexpr int64_t kMaxPixels = int64_t{1} << 28;
    // The working memory that the pictures of the process being converted at once may hold
    // together, as estimated from their size, content and saver; a larger picture goes alone.
    // Chosen by measure: a batch of 12-megapixel photos to WebP then takes no longer than eight
    // vips processes side by side and peaks under two thirds of their memory (bench/compare.sh).
    static constexpr size_t kWorkingMemoryLimit = size_t{768} << 20;

private:
    std::vector<std::filesystem::path> run(const ConversionJob& job, const ProgressCallback& progress,
                                           std::stop_token stop, std::optional<std::string>& note, bool& leftAsItIs) const;
};

}  // namespace kolvex
