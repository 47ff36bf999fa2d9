// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/LeftOutStreams.h"

#include <algorithm>
#include <vector>

#include <fmt/format.h>

#include "core/ffmpeg/AudioTagArguments.h"
#include "core/ffmpeg/ContainerCompatibility.h"

namespace kolvex {

LeftOutStreams LeftOutStreams::of(const ConversionJob& job, const MediaProbe& probe) {
    LeftOutStreams left;
    const auto beyondFirst = [](int64_t count) { return std::max<int64_t>(0, count - 1); };
    switch (job.to.category) {
    case FormatCategory::audio:
        left.audioTracks = beyondFirst(probe.audioTrackCount);
        if (AudioTagArguments::dropsCover(job, probe)) left.coverPictures = 1;
        break;
    case FormatCategory::video:
        left.videoTracks = beyondFirst(probe.videoTrackCount);
        if (job.options.tool != "remove-audio") left.audioTracks = beyondFirst(probe.audioTrackCount);
        left.subtitleTracks = probe.subtitleTrackCount;
        left.attachments = probe.attachmentCount;
        left.coverPictures = probe.coverPictureCount;
        // Data streams go unnamed: they are time codes and the like (a QuickTime file's chapters
        // show as one, and the chapters themselves are kept with the metadata).
        break;
    default: break;
    }
    const bool media = job.to.category == FormatCategory::audio || job.to.category == FormatCategory::video;
    const bool keepsMetadata = job.options.preserveMetadata && job.options.tool != "strip-metadata";
    if (media && keepsMetadata && !ContainerCompatibility::keepsChapters(job.to.id))
        left.chapters = probe.chapterCount;
    return left;
}

LeftOutStreams LeftOutStreams::ofAll(const ConversionJob& job, const std::vector<MediaProbe>& probes) {
    LeftOutStreams left;
    for (const auto& probe : probes) {
        const auto of = LeftOutStreams::of(job, probe);
        left.videoTracks = std::max(left.videoTracks, of.videoTracks);
        left.audioTracks = std::max(left.audioTracks, of.audioTracks);
        left.subtitleTracks = std::max(left.subtitleTracks, of.subtitleTracks);
        left.attachments = std::max(left.attachments, of.attachments);
        left.coverPictures = std::max(left.coverPictures, of.coverPictures);
    }
    return left;
}

std::optional<std::string> LeftOutStreams::note() const {
    struct Kind {
        int64_t count;
        const char* one;
        const char* many;
    };
    const Kind kinds[] = {
        {videoTracks, "video track", "video tracks"},       {audioTracks, "audio track", "audio tracks"},
        {subtitleTracks, "subtitle track", "subtitle tracks"}, {attachments, "attachment", "attachments"},
        {coverPictures, "cover picture", "cover pictures"}, {chapters, "chapter", "chapters"},
    };
    std::vector<std::string> parts;
    int64_t total = 0;
    for (const auto& kind : kinds) {
        if (kind.count <= 0) continue;
        parts.push_back(fmt::format("{} {}", kind.count, kind.count == 1 ? kind.one : kind.many));
        total += kind.count;
    }
    if (parts.empty()) return std::nullopt;
    std::string sentence = parts.front();
    for (size_t i = 1; i < parts.size(); ++i) sentence += (i + 1 == parts.size() ? " and " : ", ") + parts[i];
    return sentence + (total == 1 ? " was left out" : " were left out");
}

}  // namespace kolvex
