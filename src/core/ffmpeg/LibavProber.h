// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/ffmpeg/MediaProbe.h"

namespace kolvex {

class LibavInput;

// Probes with FFmpeg's libraries in this process: the same facts ffprobe reports, read the same
// way, without starting a program for every file. Reads local files only. Shared between
// threads; each probe() opens the file on its own.
class LibavProber : public MediaProbing {
public:
    LibavProber();

    // Blocks for as long as libavformat reads the file's headers, at most 30 seconds; a stop
    // request ends it within one read. Throws ConversionError::corruptedInput for a file that
    // cannot be read as media, OperationCancelled when stopped.
    MediaProbe probe(const std::filesystem::path& url, std::stop_token stop = {}) const override;
    // MP4, QuickTime, Matroska and WebM files whose header states every stream are read without
    // starting a decoder; other files as probe() reads them.
    MediaProbe probeHeaders(const std::filesystem::path& url, std::stop_token stop = {}) const override;
    // Reads the cuts after the facts, in the same opening: a trim is planned without opening a
    // large file's index twice. A file whose cuts cannot be read still gets its probe.
    // A file whose keyframes were all read just before (the sheets do) is not opened again.
    std::pair<MediaProbe, std::optional<StreamCopyCuts>> probeWithCuts(const std::filesystem::path& url,
                                                                      std::pair<double, double> window,
                                                                      std::stop_token stop = {}) const override;
    // probe() and every cut in one opening, unless the probe read packets the cuts need (an AVI's
    // MPEG-4 pictures are looked at for packing): then they are read from an opening of their own.
    std::pair<MediaProbe, std::optional<StreamCopyCuts>> probeWithEveryCut(const std::filesystem::path& url,
                                                                          std::stop_token stop = {}) const override;

    // Whether an AVI's MPEG-4 pictures are packed (MediaProbe::packedBFrames), for a probe that
    // has not looked at the first pictures (one kept from a sheet's read of every packet): opens
    // the file again to look. False at once for any other file.
    static bool picturesPacked(const std::filesystem::path& url, const MediaProbe& probe, std::stop_token stop = {});
    // The facts of a file just opened and, where an AVI's index gives them, every cut, its
    // pictures then looked at for packing as probe() looks (no packet the cuts need is read);
    // no cuts for any other file.
    static std::pair<MediaProbe, std::optional<StreamCopyCuts>> factsWithIndexedCuts(LibavInput& input);
    // The facts of a file opened with its streams read.
    static MediaProbe facts(const LibavInput& input);
};

}  // namespace kolvex
