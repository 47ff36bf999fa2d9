// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/audio/AudioEngine.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <system_error>

#include <fmt/format.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include "core/conversion/CompressionGuard.h"
#include "core/conversion/SizeEstimator.h"
#include "core/conversion/SoundCompression.h"
#include "core/conversion/SoundShape.h"
#include "core/engines/audio/AacBitrates.h"
#include "core/engines/audio/AudioReader.h"
#include "core/services/Cancellation.h"
#include "core/services/ErrorMapper.h"
#include "core/services/StagedOutput.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

constexpr int64_t kProgressEveryFrames = 65536;

bool isOneOf(const FormatID& id, std::initializer_list<const char*> ids) {
    return std::any_of(ids.begin(), ids.end(), [&](const char* candidate) { return id.rawValue == candidate; });
}

}  // namespace

AudioEngine::AudioEngine() : m_id(engine_ids::audio) {
    // Failures come back as errors; FFmpeg's own remarks would only reach a terminal nobody reads.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
}

const std::set<std::string>& AudioEngine::supportedTools() {
    static const std::set<std::string> tools{"compress", "strip-metadata"};
    return tools;
}

bool AudioEngine::canRead(const Format& format) {
    return isOneOf(format.id, {"mp3", "m4a", "wav", "aiff", "flac", "aac"});
}

bool AudioEngine::canHandle(const ConversionJob& job) const {
    const auto& options = job.options;
    if (options.tool && !supportedTools().contains(*options.tool)) return false;
    if (options.trimStart || options.trimEnd) return false;
    if (job.from.category != FormatCategory::audio || job.to.category != FormatCategory::audio) return false;
    if (!canRead(job.from)) return false;
    return isOneOf(job.to.id, {"m4a", "wav", "aiff"});
}

int64_t AudioEngine::defaultBitrate(const ConversionJob& job, std::optional<int64_t> sourceBitrate) {
    const auto& options = job.options;
    if (!options.quality) return 192000;
    if (options.tool == "compress" && sourceBitrate) return SizeEstimator::compressedAudioBitrate(*options.quality, *sourceBitrate);
    return static_cast<int64_t>((*options.quality * 256 + 64) * 1000);
}

std::optional<int64_t> AudioEngine::nearestSupportedBitrate(int64_t requested, AudioOutputSettings::Encoding formatID,
                                                            double sampleRate, int channels) {
    if (formatID != AudioOutputSettings::Encoding::mpeg4AAC) return std::nullopt;
    const auto candidates = AacBitrates::applicable(sampleRate, std::max(channels, 1));
    std::optional<int64_t> best;
    for (int64_t candidate : candidates) {
        if (!best || std::llabs(candidate - requested) < std::llabs(*best - requested)) best = candidate;
    }
    return best;
}

std::optional<AudioOutputSettings> AudioEngine::settings(const ConversionJob& job, const SourceFormat& source,
                                                         std::optional<int64_t> sourceBitrate) {
    AudioOutputSettings out;
    const auto shaped = [&](const std::string& encoder) {
        const SoundShape shape = SoundShape::of(encoder, static_cast<int64_t>(source.sampleRate), source.channels,
                                                source.layout, job.options.sampleRate);
        out.sampleRate = static_cast<double>(shape.sampleRate);
        out.channels = shape.channels;
        out.layout = shape.layout;
    };
    const auto& target = job.to.id.rawValue;
    if (target == "wav" || target == "aiff") {
        out.format = AudioOutputSettings::Encoding::linearPCM;
        // A 24- or 32-bit master stays 24-bit; everything else is CD depth.
        out.bitDepth = source.bitsPerSample > 16 ? 24 : 16;
        out.isFloat = false;
        out.isBigEndian = target == "aiff";
        out.isNonInterleaved = false;
        shaped(fmt::format("pcm_s{}{}", out.bitDepth, out.isBigEndian ? "be" : "le"));
        return out;
    }
    if (target == "m4a") {
        out.format = AudioOutputSettings::Encoding::mpeg4AAC;
        shaped("aac");
        const int64_t requested = job.options.audioBitrate.value_or(defaultBitrate(job, sourceBitrate));
        out.bitRate = nearestSupportedBitrate(requested, out.format, out.sampleRate, out.channels);
        return out;
    }
    return std::nullopt;
}

std::vector<fs::path> AudioEngine::convert(const ConversionJob& job, const ProgressCallback& progress,
                                           std::stop_token stop) const {
    return convertReporting(job, progress, std::move(stop)).outputs;
}

ConversionOutcome AudioEngine::convertReporting(const ConversionJob& job, const ProgressCallback& progress,
                                                std::stop_token stop) const {
    throwIfStopRequested(stop);
    progress(0.02);

    std::unique_ptr<AudioReader> reader;
    try {
        reader = std::make_unique<AudioReader>(job.source);
    } catch (const AudioReadError&) {
        throw ConversionError::corruptedInput(job.source);
    }

    const SourceFormat source{reader->sampleRate(), reader->channels(), reader->bitsPerSample(), reader->channelLayout()};
    std::optional<double> duration;
    if (auto frames = reader->lengthFrames(); frames && source.sampleRate > 0) {
        duration = double(*frames) / source.sampleRate;
    }
    // A compress follows its plan, from what a probe of the file reads (as its sheet did).
    ConversionJob planned = job;
    const bool compressing = SoundCompression::applies(job);
    if (compressing) {
        auto bytes = FileManagerService::shared().size(job.source);
        if (bytes && *bytes < 1) bytes.reset();
        const SoundCompression plan = SoundCompression::plan(job.to, SoundCompression::quality(job),
                                                             reader->durationSeconds(), reader->bitRate(), bytes);
        if (plan.leftAsItIs()) {
            progress(1.0);
            ConversionOutcome kept;
            kept.leftAsItIs = true;
            kept.note = plan.reason;
            return kept;
        }
        planned.options.audioBitrate = plan.bitrate;
    }
    const auto outputSettings = settings(planned, source, SizeEstimator::bitrate(job.source, duration));
    if (!outputSettings) throw ConversionError::unsupportedCombination(job.from.label, job.to.label);

    // Declared before the writer: the staged file is removed only after the writer closed it.
    StagedOutput output(job.destination);
    std::unique_ptr<AudioWriter> writer;
    try {
        const bool keepTags = job.options.preserveMetadata && job.options.tool != "strip-metadata";
        AudioMetadata metadata;
        if (keepTags) metadata = {reader->tags(), reader->cover()};
        writer = std::make_unique<AudioWriter>(output.path(), *outputSettings, metadata);
    } catch (const AudioFileExists&) {
        throw ConversionError::outputNameUnavailable(job.destination);
    } catch (const AudioWriteError& e) {
        throw ConversionError::backendFailure(m_id.rawValue, -1,
                                              "Core Audio would not open " + job.to.label + " for writing: " + e.what());
    }

    auto fail = [&](const ConversionError& error) -> ConversionError {
        writer.reset();
        return error;
    };
    try {
        int64_t reportedAt = 0;
        while (const AVFrame* frame = reader->next()) {
            throwIfStopRequested(stop);
            writer->write(*frame);
            if (reader->framesRead() - reportedAt >= kProgressEveryFrames) {
                reportedAt = reader->framesRead();
                progress(std::min(0.98, reader->fractionRead()));
            }
        }
        throwIfStopRequested(stop);
        // A file cut short is damaged, not a shorter song.
        if (reader->endedShort()) throw fail(ConversionError::corruptedInput(job.source));
        writer->finish();
    } catch (const OperationCancelled&) {
        throw fail(ConversionError::cancelled());
    } catch (const AudioReadError& e) {
        throw fail(ConversionError::backendFailure(m_id.rawValue, -1, e.what()));
    } catch (const AudioWriteError& e) {
        // The writer says only that a write failed; a full volume is the cause the user can act on.
        // Linear PCM needs its samples' bytes; AAC at most about what the source holds.
        std::optional<int64_t> need;
        if (duration && outputSettings->format == AudioOutputSettings::Encoding::linearPCM) {
            need = static_cast<int64_t>(*duration * outputSettings->sampleRate) * outputSettings->channels *
                   (outputSettings->bitDepth / 8);
        }
        if (auto full = ErrorMapper::fullVolume(job, output.path(), FileManagerService::shared(), need)) throw fail(*full);
        throw fail(ConversionError::backendFailure(m_id.rawValue, -1, e.what()));
    }
    const bool droppedCover = writer->droppedCover();
    writer.reset();

    std::error_code ec;
    const auto written = fs::file_size(output.path(), ec);
    if (ec || written < 1) throw ConversionError::backendFailure(m_id.rawValue, -1, "wrote an empty file");
    if (compressing) {
        // The estimate erred: a file no smaller is no compression, and a copy of the source under
        // a new name would only say it was one. The staged file goes with `output`.
        const auto sourceBytes = FileManagerService::shared().size(job.source);
        if (sourceBytes && static_cast<int64_t>(written) >= *sourceBytes) {
            progress(1.0);
            ConversionOutcome kept;
            kept.leftAsItIs = true;
            kept.note = fmt::format("Left as it is: re-encoded at {} kb/s this {} came out no smaller",
                                    outputSettings->bitRate.value_or(0) / 1000, job.from.label);
            return kept;
        }
    }
    // A source kept as it is keeps its cover too.
    const bool keptSource = CompressionGuard::keepSmaller(job, output.path()).wasAlreadySmallest;
    output.commit();
    progress(1.0);
    std::optional<std::string> note;
    if (droppedCover && !keptSource) note = "1 cover picture was left out";
    return {{output.destination()}, false, std::move(note)};
}

}  // namespace kolvex
