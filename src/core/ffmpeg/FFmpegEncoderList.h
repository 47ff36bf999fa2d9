// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "core/ffmpeg/BundledFFmpeg.h"

namespace kolvex {

// The encoder names of one ffmpeg, read when they are first asked for, so that work which needs
// no encoder (a stream copy) never waits for the listing. Shared by the engine's concurrent jobs.
class FFmpegEncoderList {
public:
    using Read = std::function<std::set<std::string>()>;

    // A list read already.
    explicit FFmpegEncoderList(std::set<std::string> names);
    // A list `read` makes when first asked for.
    explicit FFmpegEncoderList(Read read);

    // The list of `tools`' ffmpeg, read through the user's cache when first asked for.
    static std::shared_ptr<const FFmpegEncoderList> of(BundledFFmpeg tools);

    // The names; empty when they are not known. The first call reads them and blocks meanwhile;
    // any thread.
    const std::set<std::string>& names() const;
    // Whether the names have been read.
    bool isRead() const;

private:
    mutable std::once_flag m_once;
    mutable Read m_read;
    mutable std::set<std::string> m_names;
    mutable std::atomic<bool> m_isRead{false};
};

}  // namespace kolvex
