// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/AudioTagArguments.h"

#include <set>

#include <fmt/format.h>

namespace kolvex {

namespace {

void append(AudioTagArguments::Arguments& to, const AudioTagArguments::Arguments& more) {
    to.insert(to.end(), more.begin(), more.end());
}

bool keepsTags(const ConversionJob& job) {
    return job.options.preserveMetadata && !(job.options.tool && *job.options.tool == "strip-metadata");
}

// Ogg keeps its tags on the stream, not the file: they are read from there.
bool tagsLiveOnTheStream(const Format& source) {
    static const std::set<std::string> ids = {"ogg", "opus", "oga"};
    return ids.contains(source.id.rawValue);
}

bool coverKept(const ConversionJob& job, const std::optional<MediaProbe>& probe) {
    return keepsTags(job) && probe && probe->coverCodec && probe->coverStreamIndex &&
           AudioTagArguments::holdsCover(job.to, *probe->coverCodec);
}

}  // namespace

bool AudioTagArguments::holdsCover(const Format& target, const std::string& codec) {
    static const std::set<std::string> containers = {"m4a", "mp3", "flac", "aiff"};
    if (!containers.contains(target.id.rawValue)) return false;
    return codec == "mjpeg" || codec == "png";
}

AudioTagArguments::Arguments AudioTagArguments::mapping(const ConversionJob& job, const std::optional<MediaProbe>& probe) {
    if (!keepsTags(job)) return {"-vn", "-map", "0:a:0", "-map_metadata", "-1", "-map_chapters", "-1"};
    Arguments args;
    if (coverKept(job, probe))
        args = {"-map", "0:a:0", "-map", fmt::format("0:{}", *probe->coverStreamIndex), "-c:v", "copy",
                "-disposition:v:0", "attached_pic"};
    else
        args = {"-vn", "-map", "0:a:0"};
    if (tagsLiveOnTheStream(job.from)) append(args, {"-map_metadata", "0:s:a:0"});
    const std::string& target = job.to.id.rawValue;
    // ID3v2.3 is the version every player and file manager reads; AIFF writes tags only when asked.
    if (target == "mp3") append(args, {"-id3v2_version", "3"});
    if (target == "aiff") append(args, {"-write_id3v2", "1"});
    return args;
}

bool AudioTagArguments::dropsCover(const ConversionJob& job, const std::optional<MediaProbe>& probe) {
    return keepsTags(job) && probe && probe->coverCodec && !coverKept(job, probe);
}

std::optional<std::string> AudioTagArguments::pcmEncoder(const Format& target, const std::optional<MediaProbe>& probe) {
    const std::string& id = target.id.rawValue;
    if (id != "wav" && id != "aiff") return std::nullopt;
    const bool deep = probe && probe->audioBitsPerSample && *probe->audioBitsPerSample > 16;
    if (id == "wav") return deep ? "pcm_s24le" : "pcm_s16le";
    return deep ? "pcm_s24be" : "pcm_s16be";
}

}  // namespace kolvex
