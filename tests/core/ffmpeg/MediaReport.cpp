// SPDX-License-Identifier: GPL-3.0-or-later
#include "MediaReport.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "core/services/ProcessRunner.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex::testing {

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

std::string text(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::optional<double> decimal(const std::string& value) {
    double number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc() || end != value.data() + value.size()) return std::nullopt;
    return number;
}

std::optional<double> number(const Json& object, const char* key) { return decimal(text(object, key)); }

// A time as ffprobe prints one: six decimals.
double roundedToMicroseconds(double seconds) { return decimal(fmt::format("{:.6f}", seconds)).value_or(seconds); }

std::optional<std::string> optionalText(const Json& object, const char* key) {
    const std::string value = text(object, key);
    return value.empty() ? std::nullopt : std::optional(value);
}

std::optional<int64_t> whole(const Json& object, const char* key) {
    const auto value = number(object, key);
    return value ? std::optional(static_cast<int64_t>(*value)) : std::nullopt;
}

Json ffprobeReport(const fs::path& file, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"-v", "error"});
    arguments.insert(arguments.end(), {"-of", "json", file.string()});
    const auto probe = ProcessRunner().run(systemFFprobe(), arguments, std::chrono::seconds(60), nullptr, nullptr);
    if (!probe.succeeded()) throw std::runtime_error("ffprobe cannot read " + file.string() + ": " + probe.standardError());
    return Json::parse(probe.standardOutput());
}

}  // namespace

MediaReport MediaReport::of(const fs::path& file) {
    const Json document = ffprobeReport(file, {"-count_frames", "-show_streams", "-show_format", "-show_chapters"});
    MediaReport report;
    for (const auto& entry : document.value("streams", Json::array())) {
        Stream stream;
        stream.type = text(entry, "codec_type");
        stream.codec = text(entry, "codec_name");
        stream.profile = text(entry, "profile");
        stream.pixelFormat = text(entry, "pix_fmt");
        stream.tag = text(entry, "codec_tag_string");
        stream.width = entry.value("width", int64_t{0});
        stream.height = entry.value("height", int64_t{0});
        for (const auto& side : entry.value("side_data_list", Json::array()))
            if (side.contains("rotation") && side["rotation"].is_number()) stream.rotation = side["rotation"].get<int>();
        stream.coverPicture = entry.contains("disposition") && entry["disposition"].value("attached_pic", 0) == 1;
        stream.duration = number(entry, "duration");
        if (const auto frames = number(entry, "nb_read_frames")) stream.frames = static_cast<int64_t>(*frames);
        if (entry.contains("tags")) stream.language = text(entry["tags"], "language");
        report.streams.push_back(stream);
    }
    if (document.contains("format")) report.duration = number(document["format"], "duration");
    report.chapters = static_cast<int64_t>(document.value("chapters", Json::array()).size());

    const auto decode = ProcessRunner().run(systemFFmpeg(), {"-nostdin", "-v", "error", "-i", file.string(), "-f", "null", "-"},
                                            std::chrono::seconds(120), nullptr, nullptr);
    report.decodeErrors = decode.standardError();
    if (!decode.succeeded() && report.decodeErrors.empty()) report.decodeErrors = "ffmpeg could not decode the file";

    // The top-level boxes of an MP4/QuickTime file, in order: size (32 bits, or 1 and a 64-bit
    // size after the type), type.
    const std::string bytes = readFile(file);
    const auto be = [&](size_t at, int count) {
        uint64_t value = 0;
        for (int i = 0; i < count; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
        return value;
    };
    for (size_t at = 0; at + 8 <= bytes.size();) {
        uint64_t size = be(at, 4);
        const std::string type = bytes.substr(at + 4, 4);
        if (size == 1 && at + 16 <= bytes.size()) size = be(at + 8, 8);
        if (type == "moov") report.indexFirst = true;
        if (type == "mdat" || size < 8) break;
        at += size;
    }
    return report;
}

std::vector<MediaReport::Stream> MediaReport::ofType(const std::string& type) const {
    std::vector<Stream> found;
    for (const auto& stream : streams)
        if (stream.type == type && !stream.coverPicture) found.push_back(stream);
    return found;
}

const MediaReport::Stream& MediaReport::video() const {
    for (const auto& stream : streams)
        if (stream.type == "video" && !stream.coverPicture) return stream;
    throw std::runtime_error("no video stream");
}

MediaProbe ffprobeFacts(const fs::path& file) {
    const Json document = ffprobeReport(file, {"-show_streams", "-show_format", "-show_chapters", "-show_data_hash", "CRC32"});
    MediaProbe probe;
    probe.chapterCount = static_cast<int64_t>(document.value("chapters", Json::array()).size());
    if (document.contains("format")) {
        const std::string names = text(document["format"], "format_name");
        if (!names.empty()) probe.demuxer = names.substr(0, names.find(','));
    }
    const Json* video = nullptr;
    const Json* audio = nullptr;
    const Json streams = document.value("streams", Json::array());
    for (const auto& stream : streams) {
        const std::string type = text(stream, "codec_type");
        if (type == "video" && stream.contains("disposition") && stream["disposition"].value("attached_pic", 0) == 1) {
            if (!probe.coverPictureCount++) {
                probe.coverCodec = optionalText(stream, "codec_name");
                probe.coverStreamIndex = stream.value("index", int64_t{0});
            }
        } else if (type == "video") {
            if (!probe.videoTrackCount++) video = &stream;
        } else if (type == "audio") {
            if (!probe.audioTrackCount++) audio = &stream;
        }
        probe.subtitleTrackCount += type == "subtitle";
        if (type == "subtitle") probe.subtitleCodecs.push_back(text(stream, "codec_name"));
        probe.attachmentCount += type == "attachment";
        probe.dataTrackCount += type == "data";
    }
    if (document.contains("format")) probe.durationSeconds = number(document["format"], "duration");
    if (!probe.durationSeconds && video) probe.durationSeconds = number(*video, "duration");
    if (video) {
        probe.videoCodec = optionalText(*video, "codec_name");
        if (video->contains("width")) probe.width = (*video)["width"].get<int64_t>();
        if (video->contains("height")) probe.height = (*video)["height"].get<int64_t>();
        probe.isVariableFrameRate = text(*video, "avg_frame_rate") != text(*video, "r_frame_rate");
        probe.pixelFormat = optionalText(*video, "pix_fmt");
        for (const auto& side : video->value("side_data_list", Json::array()))
            if (side.contains("rotation")) probe.rotation = static_cast<int>((side["rotation"].get<int>() % 360 + 360) % 360);
        probe.videoTimeBase = optionalText(*video, "time_base");
        probe.frameRate = optionalText(*video, "r_frame_rate");
        probe.videoProfile = optionalText(*video, "profile");
        if (video->contains("level")) probe.videoLevel = (*video)["level"].get<int64_t>();
        probe.videoSetup = optionalText(*video, "extradata_hash");
        if (probe.demuxer == "avi" && video->contains("has_b_frames"))
            probe.videoDecodeDelay = (*video)["has_b_frames"].get<int64_t>();
    }
    if (audio) {
        probe.audioCodec = optionalText(*audio, "codec_name");
        probe.audioBitrate = whole(*audio, "bit_rate");
        probe.audioSampleRate = whole(*audio, "sample_rate");
        if (audio->contains("channels")) probe.audioChannels = (*audio)["channels"].get<int64_t>();
        probe.audioChannelLayout = optionalText(*audio, "channel_layout");
        if (probe.audioChannelLayout == "unknown") probe.audioChannelLayout.reset();
        probe.audioBitsPerSample = whole(*audio, "bits_per_raw_sample");
        if (!(probe.audioBitsPerSample > 0) && audio->value("bits_per_sample", 0) > 0)
            probe.audioBitsPerSample = (*audio)["bits_per_sample"].get<int64_t>();
        if (!(probe.audioBitsPerSample > 0)) probe.audioBitsPerSample.reset();
        probe.audioTimeBase = optionalText(*audio, "time_base");
        probe.audioSampleFormat = optionalText(*audio, "sample_fmt");
        probe.audioProfile = optionalText(*audio, "profile");
        probe.audioSetup = optionalText(*audio, "extradata_hash");
    }
    // What an edit list hides: the packets ffprobe flags to be discarded ("D"), before the
    // stream's start.
    if (probe.demuxer == "mov" && (video || audio)) {
        const Json packets = ffprobeReport(file, {"-show_entries", "packet=stream_index,pts_time,flags"});
        const auto hidden = [&](const Json* stream) {
            const auto start = number(*stream, "start_time");
            const int64_t index = stream->value("index", int64_t{-1});
            double lead = 0;
            for (const auto& packet : packets.value("packets", Json::array())) {
                const auto at = number(packet, "pts_time");
                if (start && at && packet.value("stream_index", int64_t{-2}) == index &&
                    text(packet, "flags").find('D') != std::string::npos)
                    lead = std::max(lead, *start - *at);
            }
            return lead;
        };
        if (video) probe.editHidesPictures = hidden(video) > 0;
        if (audio && probe.audioSampleRate)
            probe.editHidesSound = hidden(audio) * double(*probe.audioSampleRate) > 2112;
    }
    // ffprobe does not say whether an AVI's MPEG-4 pictures are packed: no file judged by it is.
    probe.packedBFrames = false;
    return probe;
}

DecodedStream decodedStream(const fs::path& file, const std::string& streams) {
    const Json report = ffprobeReport(file, {"-select_streams", streams, "-show_entries",
                                            "frame=best_effort_timestamp_time,pkt_duration_time,nb_samples"});
    DecodedStream decoded;
    for (const auto& frame : report.value("frames", Json::array())) {
        const auto at = number(frame, "best_effort_timestamp_time");
        if (!at) continue;
        const double end = *at + number(frame, "pkt_duration_time").value_or(0);
        decoded.start = decoded.frames == 0 ? *at : std::min(decoded.start, *at);
        decoded.end = decoded.frames == 0 ? end : std::max(decoded.end, end);
        ++decoded.frames;
        if (frame.contains("nb_samples") && frame["nb_samples"].is_number()) decoded.samples += frame["nb_samples"].get<int64_t>();
    }
    return decoded;
}

StreamCopyCuts ffprobeCuts(const fs::path& file, std::optional<std::pair<double, double>> window) {
    const double start = number(ffprobeReport(file, {"-show_entries", "format=start_time"}).value("format", Json::object()),
                                "start_time")
                             .value_or(0);
    std::vector<std::string> arguments = {"-select_streams", "V:0", "-show_entries", "packet=pts_time,dts_time,flags"};
    if (window)
        arguments.insert(arguments.end(), {"-read_intervals", fmt::format("{:.6f}%{:.6f}", start + window->first,
                                                                          start + window->second)});
    std::vector<double> keyframes;
    double delay = 0;
    for (const auto& packet : ffprobeReport(file, arguments).value("packets", Json::array())) {
        const auto pts = number(packet, "pts_time");
        if (!pts || text(packet, "flags").rfind('K', 0) != 0) continue;
        keyframes.push_back(roundedToMicroseconds(*pts - start));
        if (const auto dts = number(packet, "dts_time")) delay = std::max(delay, *pts - *dts);
    }
    return {KeyframeIndex(std::move(keyframes)), delay};
}

StreamCopyCuts ffprobeShownCuts(const fs::path& file) {
    const Json stream = ffprobeReport(file, {"-select_streams", "V:0", "-show_entries", "stream=has_b_frames,r_frame_rate"})
                            .value("streams", Json::array())
                            .at(0);
    const std::string rate = text(stream, "r_frame_rate");
    const auto slash = rate.find('/');
    const double picture = decimal(rate.substr(slash + 1)).value_or(1) / decimal(rate.substr(0, slash)).value_or(1);
    const double lag = static_cast<double>(stream.value("has_b_frames", 0)) * picture;
    StreamCopyCuts read;
    std::vector<double> keyframes;
    for (const auto& frame : ffprobeReport(file, {"-select_streams", "V:0", "-show_entries",
                                                  "frame=key_frame,best_effort_timestamp_time"})
                                 .value("frames", Json::array())) {
        // The last picture, let go at the end, is given no time: it shows one picture on.
        const auto time = number(frame, "best_effort_timestamp_time");
        if (!time && read.pictures.empty()) continue;
        const double shown = time ? roundedToMicroseconds(*time - lag) : roundedToMicroseconds(read.pictures.back().time + picture);
        const bool key = frame.value("key_frame", 0) == 1;
        read.pictures.push_back({shown, std::nullopt, key});
        if (key) keyframes.push_back(shown);
    }
    // Each keyframe's packet, in the same order: when it is decoded.
    auto keyframe = read.pictures.begin();
    for (const auto& packet :
         ffprobeReport(file, {"-select_streams", "V:0", "-show_entries", "packet=dts_time,flags"}).value("packets", Json::array())) {
        const auto dts = number(packet, "dts_time");
        if (!dts || text(packet, "flags").rfind('K', 0) != 0) continue;
        while (keyframe != read.pictures.end() && !keyframe->keyframe) ++keyframe;
        if (keyframe == read.pictures.end()) break;
        keyframe->decodeTime = roundedToMicroseconds(*dts - lag);
        read.decodeDelay = std::max(read.decodeDelay, keyframe->time - *keyframe->decodeTime);
        ++keyframe;
    }
    read.keyframes = KeyframeIndex(std::move(keyframes));
    return read;
}

}  // namespace kolvex::testing

namespace kolvex {

void PrintTo(const MediaProbe& p, std::ostream* out) {
    const auto show = [&](const char* name, const auto& value) {
        *out << name << "=";
        if (value) *out << *value; else *out << "-";
        *out << " ";
    };
    show("demuxer", p.demuxer);
    show("video", p.videoCodec);
    show("audio", p.audioCodec);
    show("duration", p.durationSeconds);
    show("width", p.width);
    show("height", p.height);
    *out << "tracks=" << p.videoTrackCount << "/" << p.audioTrackCount << "/" << p.subtitleTrackCount << "/"
         << p.attachmentCount << "/" << p.dataTrackCount << "/" << p.coverPictureCount << " chapters=" << p.chapterCount << " ";
    show("pix", p.pixelFormat);
    *out << "rotation=" << p.rotation << " vfr=" << p.isVariableFrameRate << " ";
    show("vtb", p.videoTimeBase);
    show("rate", p.frameRate);
    show("vprofile", p.videoProfile);
    show("level", p.videoLevel);
    show("vsetup", p.videoSetup);
    *out << "delay=" << p.videoDecodeDelay << " hidden=" << p.editHidesPictures << "/" << p.editHidesSound << " ";
    show("abitrate", p.audioBitrate);
    show("arate", p.audioSampleRate);
    show("channels", p.audioChannels);
    show("layout", p.audioChannelLayout);
    show("bits", p.audioBitsPerSample);
    show("atb", p.audioTimeBase);
    show("afmt", p.audioSampleFormat);
    show("aprofile", p.audioProfile);
    show("asetup", p.audioSetup);
    show("cover", p.coverCodec);
    show("coverIndex", p.coverStreamIndex);
}

}  // namespace kolvex
