// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/KeptInput.h"

#include <mutex>

#include <sys/stat.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include "core/ffmpeg/LibavInput.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

struct Kept {
    KeptInput::Identity identity;
    std::chrono::steady_clock::time_point keptAt;
    std::unique_ptr<LibavInput> input;
    MediaProbe probe;
    std::shared_ptr<const StreamCopyCuts> cuts;
};

std::mutex& mutex() {
    static std::mutex lock;
    return lock;
}

std::optional<Kept>& slot() {
    static std::optional<Kept> kept;
    return kept;
}

int64_t nanoseconds(const struct timespec& time) { return int64_t(time.tv_sec) * 1'000'000'000 + time.tv_nsec; }

int64_t indexBytes(const AVFormatContext& format) {
    int64_t entries = 0;
    for (unsigned i = 0; i < format.nb_streams; ++i) entries += avformat_index_get_entries_count(format.streams[i]);
    return entries * int64_t(sizeof(AVIndexEntry));
}

}  // namespace

std::optional<KeptInput::Identity> KeptInput::Identity::of(const fs::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return Identity{path,
                    uint64_t(status.st_dev),
                    uint64_t(status.st_ino),
                    int64_t(status.st_size),
                    nanoseconds(status.st_mtim),
                    nanoseconds(status.st_ctim)};
}

bool KeptInput::Identity::settled() const {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const int64_t limit = nanoseconds(now) - std::chrono::nanoseconds(settle).count();
    return modifiedNs <= limit && changedNs <= limit;
}

void KeptInput::keep(const Identity& identity, std::unique_ptr<LibavInput> input, MediaProbe probe,
                     std::stop_token reader, std::shared_ptr<const StreamCopyCuts> cuts) {
    std::optional<Kept> replaced;  // closed outside the lock
    {
        std::lock_guard lock(mutex());
        replaced = std::move(slot());
        slot().reset();
        if (!input || reader.stop_requested() || !identity.settled() || Identity::of(identity.path) != identity)
            return;
        const int64_t index = indexBytes(input->format());
        if (index > maxIndexBytes) return;
        if (cuts && index + int64_t(cuts->pictures.size() * sizeof(StreamCopyCuts::Picture)) > maxIndexBytes)
            cuts.reset();
        slot() = Kept{identity, std::chrono::steady_clock::now(), std::move(input), std::move(probe), std::move(cuts)};
    }
}

std::optional<KeptInput::Taken> KeptInput::take(const fs::path& path) {
    std::optional<Kept> kept;
    {
        std::lock_guard lock(mutex());
        if (!slot()) return std::nullopt;
        kept = std::move(slot());
        slot().reset();
    }
    const bool fresh = std::chrono::steady_clock::now() - kept->keptAt < lifetime;
    if (!fresh || kept->identity.path != path || Identity::of(path) != kept->identity) {
        // Another file's stays kept for its own job; a stale or changed one is closed.
        if (fresh && kept->identity.path != path) {
            std::lock_guard lock(mutex());
            if (!slot()) slot() = std::move(kept);
        }
        return std::nullopt;
    }
    return Taken{std::move(kept->input), std::move(kept->probe), std::move(kept->cuts)};
}

void KeptInput::forget() {
    std::optional<Kept> closed;  // closed outside the lock
    std::lock_guard lock(mutex());
    closed = std::move(slot());
    slot().reset();
}

}  // namespace kolvex
