// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

#include "core/ffmpeg/KeyframeIndex.h"
#include "core/ffmpeg/LibavInput.h"
#include "core/ffmpeg/MediaProbe.h"

namespace kolvex {

// The opened input of the last file whose every keyframe this process read — as the trim and
// split sheets read them — kept so that the job that follows on the same unchanged file neither
// opens it nor reads its index again: a long MP4's index takes longer to read than its copied
// cut. One file at a time; whoever takes it owns it.
class KeptInput {
public:
    // What says a file is unchanged: where it is, which file it is and when it last changed.
    struct Identity {
        std::filesystem::path path;
        uint64_t device = 0;
        uint64_t inode = 0;
        int64_t size = 0;
        int64_t modifiedNs = 0;
        int64_t changedNs = 0;

        // None for a file that cannot be looked at.
        static std::optional<Identity> of(const std::filesystem::path& path);
        // Whether both times lie `settle` or more before now: a change within the same tick of
        // a coarse clock could otherwise leave every field as it was.
        bool settled() const;
        bool operator==(const Identity&) const = default;
    };
    struct Taken {
        std::unique_ptr<LibavInput> input;
        MediaProbe probe;  // what the file held when it was opened
        // Every packet of its picture stream, as the read that kept it found them; none when
        // they were not kept.
        std::shared_ptr<const StreamCopyCuts> cuts;
    };

    // Keeps `input`, opened after `identity` was taken, with the facts read on opening it, in
    // place of what was kept. Nothing is kept when the file had not settled, has changed since,
    // its index is larger than maxIndexBytes, or `reader` (the sheet's reads) was stopped
    // before now: a sheet that ended before its read did has no job coming, and what it kept
    // would hold the file open. Stopping the reader and then calling forget() never leaves
    // anything kept, whichever thread comes first. `cuts`, what the reader found, is kept with
    // it while both together stay within maxIndexBytes.
    static void keep(const Identity& identity, std::unique_ptr<LibavInput> input, MediaProbe probe,
                     std::stop_token reader = {}, std::shared_ptr<const StreamCopyCuts> cuts = nullptr);
    // The kept input of `path`, when the file is unchanged and it was kept less than `lifetime`
    // ago; it is no longer kept.
    static std::optional<Taken> take(const std::filesystem::path& path);
    // Closes what is kept (a sheet ended without a job: the file is no longer held open).
    static void forget();

    static constexpr auto settle = std::chrono::seconds(2);
    static constexpr auto lifetime = std::chrono::minutes(10);
    // An hour of 30 fps video with its sound indexes in under 7 MB; what stays kept after a sheet
    // that was closed without a job is never more than this.
    static constexpr int64_t maxIndexBytes = 8LL << 20;
};

}  // namespace kolvex
