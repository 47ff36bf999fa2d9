// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/audio/AudioEngine.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <system_error>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include "core/conversion/CompressionGuard.h"
#include "core/conversion/SizeEstimator.h"
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
    out.sampleRate = job.options.sampleRate.value_or(source.sampleRate);
    out.channels = source.channels > 0 ? source.channels : 1;
    const auto& target = job.to.id.rawValue;
    if (target == "wav" || target == "aiff") {
        out.format = AudioOutputSettings::Encoding::linearPCM;
        // A 24- or 32-bit master stays 24-bit; everything else is CD depth.
        out.bitDepth = source.bitsPerSample > 16 ? 24 : 16;
        out.isFloat = false;
        out.isBigEndian = target == "aiff";
        out.isNonInterleaved = false;
        return out;
    }
    if (target == "m4a") {
        out.format = AudioOutputSettings::Encoding::mpeg4AAC;
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

    const SourceFormat source{reader->sampleRate(), reader->channels(), reader->bitsPerSample()};
    std::optional<double> duration;
    if (auto frames = reader->lengthFrames(); frames && source.sampleRate > 0) {
        duration = double(*frames) / source.sampleRate;
    }
    const auto outputSettings = settings(job, source, SizeEstimator::bitrate(job.source, duration));
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
    // A source kept as it is keeps its cover too.
    const bool keptSource = CompressionGuard::keepSmaller(job, output.path()).wasAlreadySmallest;
    output.commit();
    progress(1.0);
    std::optional<std::string> note;
    if (droppedCover && !keptSource) note = "1 cover picture was left out";
    return {{output.destination()}, false, std::move(note)};
}

}  // namespace kolvex
