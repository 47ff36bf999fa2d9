// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <utility>
#include <vector>

#include "core/ffmpeg/KeyframeIndex.h"

struct AVIndexEntry;

namespace kolvex {

class LibavInput;

// Reads where a file's first moving-picture stream has keyframes, with FFmpeg's libraries in
// this process: from the packets alone, nothing decoded, the other streams skipped. Times are
// the packets' presentation times in seconds, as the container states them (a container that
// starts later than 0 gives times that start later too). Reads local files only; shared between
// threads, each call opens the file on its own.
class LibavKeyframeReader {
public:
    // Blocks for as long as the packets take to read, at most 120 s; runs on a worker thread. A
    // stop request ends it within one packet. Throws ConversionError::corruptedInput when the file
    // cannot be read as media or the time runs out, OperationCancelled when stopped. A file with
    // no moving picture has no keyframe beyond the assumed one at 0. The file stays open for the
    // job that follows, as the sheets that call this start one (KeptInput).
    KeyframeIndex index(const std::filesystem::path& url, std::stop_token stop = {}) const;
    // The same read, every packet of the stream kept: where a copy of any span can be cut.
    StreamCopyCuts everyCut(const std::filesystem::path& url, std::stop_token stop = {}) const;

    // Where a stream copy of that stream can be cut. With `window`, only the packets from the
    // keyframe at or before its start (seconds) up to its end are read. Same errors and limits as
    // index().
    StreamCopyCuts cuts(const std::filesystem::path& url, std::stop_token stop = {},
                        std::optional<std::pair<double, double>> window = std::nullopt) const;

    // How many packets the first moving-picture stream of a file holds (0 when it has none): what
    // a stream copy wrote. Same errors and limits as index().
    static int64_t pictureCount(const std::filesystem::path& url, std::stop_token stop = {});

    // The same from a file already open, nothing read yet beyond what opening it read.
    static StreamCopyCuts cuts(LibavInput& input, std::stop_token stop, std::optional<std::pair<double, double>> window);
    // The same from an input another reader opened and read from, with this reader's limits.
    static StreamCopyCuts cutsKept(LibavInput& input, std::stop_token stop,
                                   std::optional<std::pair<double, double>> window);

    // Every cut of an opened AVI, from its index alone: none when it is no AVI, or its index cannot
    // stand for its packets. Reads no packet.
    static std::optional<StreamCopyCuts> fromAviIndex(LibavInput& input);

    // What the packets of an AVI's pictures would give, from its index's entries for them (one
    // per picture, in order): `timeBase` in seconds, `origin` the file's start.
    static StreamCopyCuts fromIndex(const std::vector<const AVIndexEntry*>& entries, double timeBase, double origin);
};

}  // namespace kolvex
