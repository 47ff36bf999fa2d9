#include "core/ffmpeg/FFmpegEngine.h"

#include <mutex>

#include "core/conversion/CompressionGuard.h"
#include "core/ffmpeg/FFmpegArguments.h"
#include "core/ffmpeg/FFmpegEncoders.h"
#include "core/ffmpeg/FFmpegErrorMapper.h"
#include "core/ffmpeg/FFmpegProgressParser.h"
#include "core/ffmpeg/PassthroughPlanner.h"
#include "core/ffmpeg/PassthroughProgressWatcher.h"
#include "core/services/Cancellation.h"
#include "core/services/Log.h"
#include "core/services/PathUtils.h"
#include "core/services/ProcessRunner.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

void removeQuietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    if (fs::equivalent(a, b, error)) return true;
    return paths::absolute(a) == paths::absolute(b);
}

}  // namespace

FFmpegEngine::FFmpegEngine(BundledFFmpeg tools, std::shared_ptr<const MediaProbing> prober, std::set<std::string> encoders,
                           ImageDecoder imageDecoder, const FileManagerService& files, TemporaryFileManager temporary)
    : m_tools(std::move(tools)),
      m_prober(prober ? std::move(prober) : std::make_shared<FFprobeProber>(m_tools)),
      m_encoders(std::move(encoders)),
      m_imageDecoder(std::move(imageDecoder)),
      m_files(&files),
      m_temporary(std::move(temporary)) {}

const std::set<std::string>& FFmpegEngine::supportedTools() {
    static const std::set<std::string> tools = {"compress",      "resize",       "crop",          "trim",
                                                "normalize",     "extract-audio", "remove-audio", "strip-metadata"};
    return tools;
}

const std::set<std::string>& FFmpegEngine::needsImageDecode() {
    static const std::set<std::string> ids = {"avif", "ico"};
    return ids;
}

bool FFmpegEngine::canHandle(const ConversionJob& job) const {
    if (job.options.tool && !supportedTools().contains(*job.options.tool)) return false;
    if (job.from.category == FormatCategory::document || job.from.category == FormatCategory::archive) return false;
    // Without the image engine's decoder these sources cannot reach ffmpeg at all.
    if (needsImageDecode().contains(job.from.id.rawValue) && !m_imageDecoder) return false;
    if (m_encoders.empty()) return true;
    if (job.to.id.rawValue == "gif") return m_encoders.contains("gif");
    switch (job.to.category) {
    case FormatCategory::image: return m_encoders.contains(FFmpegEncoders::imageEncoder(job.to));
    case FormatCategory::video:
        return m_encoders.contains(FFmpegEncoders::videoEncoder(job.to)) &&
               m_encoders.contains(FFmpegEncoders::audioEncoder(job.to));
    case FormatCategory::audio: return m_encoders.contains(FFmpegEncoders::audioEncoder(job.to));
    default: return true;
    }
}

FFmpegEngine::ImageDecoder FFmpegEngine::decoderThrough(std::shared_ptr<const ConversionEngine> imageEngine) {
    return [imageEngine = std::move(imageEngine)](const fs::path& source, const Format& from, const fs::path& png) {
        Format pngFormat;
        pngFormat.id = FormatID("png");
        pngFormat.category = FormatCategory::image;
        pngFormat.extensions = {"png"};
        pngFormat.contentTypes = {"image/png"};
        pngFormat.capabilities = {FormatCapability::lossless, FormatCapability::alpha};
        pngFormat.label = "PNG";
        const ConversionCapability capability{from.id, pngFormat.id, engine_ids::image, ConversionCost::inProcess, false};
        const ConversionJob job(source, {}, png, from, pngFormat, capability, ConversionOptions::defaults());
        if (!imageEngine || !imageEngine->canHandle(job)) throw ConversionError::unsupportedCombination(from.label, "PNG");
        imageEngine->convert(job, nullptr, {});
    };
}

std::vector<fs::path> FFmpegEngine::convert(const ConversionJob& job, const ProgressCallback& progress,
                                            std::stop_token stop) const {
    if (needsImageDecode().contains(job.from.id.rawValue)) return convertDecodedImage(job, progress, stop);
    auto outputs = run(job, progress, stop);
    if (!outputs.empty()) CompressionGuard::keepSmaller(job, outputs.front());
    return outputs;
}

std::vector<fs::path> FFmpegEngine::convertDecodedImage(const ConversionJob& job, const ProgressCallback& progress,
                                                        std::stop_token stop) const {
    if (!m_imageDecoder) throw ConversionError::unsupportedCombination(job.from.label, job.to.label);
    return m_temporary.withScratchDirectory([&](const fs::path& scratch) {
        const fs::path decoded = scratch / "decoded.png";
        try {
            m_imageDecoder(job.source, job.from, decoded);
        } catch (const OperationCancelled&) {
            throw;
        } catch (const std::exception& error) {
            Log::engine().error("Could not decode {}: {}", paths::lastComponent(job.source), error.what());
            throw ConversionError::corruptedInput(job.source);
        }
        std::error_code error;
        if (!fs::is_regular_file(decoded, error)) throw ConversionError::corruptedInput(job.source);
        throwIfStopRequested(stop);

        const ConversionJob decodedJob(decoded, {}, job.destination, job.from, job.to, job.capability, job.options);
        try {
            return run(decodedJob, progress, stop);
        } catch (const ConversionError& failure) {
            // The user knows the file they dropped, not the scratch copy.
            if (failure.kind() == ConversionError::Kind::corruptedInput) throw ConversionError::corruptedInput(job.source);
            throw;
        }
    });
}

std::vector<fs::path> FFmpegEngine::run(const ConversionJob& job, const ProgressCallback& progress, std::stop_token stop) const {
    throwIfStopRequested(stop);
    // ffmpeg would truncate the source while reading it.
    if (sameFile(job.source, job.destination)) throw ConversionError::outputNameUnavailable(job.destination);
    const auto report = [&](double fraction) {
        if (progress) progress(fraction);
    };
    report(0.02);

    const MediaProbe probe = m_prober->probe(job.source, stop);
    if (job.to.category == FormatCategory::video && job.from.category != FormatCategory::image && !probe.videoCodec)
        throw ConversionError::unsupportedCombination(job.from.label + " with no video track", job.to.label);
    if (job.to.category == FormatCategory::audio && !probe.audioCodec)
        throw ConversionError::unsupportedCombination(job.from.label + " with no audio track", job.to.label);

    const auto decision = PassthroughPlanner::decide(job, probe);
    Log::engine().info("{}→{}: {}", job.from.label, job.to.label, decision.reason);
    const auto arguments = FFmpegArguments::build(job, decision, probe);

    // Lines arrive on the runner's thread while the watcher reports from its own: one lock keeps
    // the parser consistent, and the consumer keeps the highest fraction it sees.
    std::mutex trackerLock;
    FFmpegProgressParser parser(outputDuration(job, probe), 0.02);
    const ProcessRunner::LineCallback onLine = [&](const std::string& line) {
        std::lock_guard lock(trackerLock);
        if (const auto fraction = parser.consume(line)) report(*fraction);
    };

    PassthroughProgressWatcher::Handle watcher;
    if (decision.isPassthrough()) {
        if (const auto expected = expectedPassthroughBytes(job, probe, *m_files))
            watcher = PassthroughProgressWatcher::watch(job.destination, *expected, PassthroughProgressWatcher::interval,
                                                        progress, *m_files);
    }

    ProcessResult result;
    try {
        result = ProcessRunner().run(m_tools.ffmpeg, arguments, std::nullopt, onLine, nullptr, stop);
    } catch (...) {
        watcher.cancel();
        removeQuietly(job.destination);
        throw;
    }
    watcher.cancel();

    if (result.exitCode != 0) {
        const auto error = FFmpegErrorMapper::map(result.exitCode, result.standardError(), job);
        removeQuietly(job.destination);
        throw error;
    }
    const auto size = m_files->size(job.destination);
    if (!size || *size < 1) {
        // A zero-byte file is no output: never leave it behind as if it were one.
        removeQuietly(job.destination);
        throw ConversionError::backendFailure("ffmpeg", 0,
                                              "ffmpeg reported success but wrote no output\n" + result.standardError());
    }
    report(1.0);
    return {job.destination};
}

std::optional<int64_t> FFmpegEngine::expectedPassthroughBytes(const ConversionJob& job, const MediaProbe& probe,
                                                              const FileManagerService& files) {
    const auto size = files.size(job.source);
    if (!size || *size < 1) return std::nullopt;
    if (!probe.durationSeconds || !(*probe.durationSeconds > 0)) return size;
    const double duration = *probe.durationSeconds;
    const double start = job.options.trimStart.value_or(0);
    const double end = job.options.trimEnd.value_or(duration);
    const double span = std::min(duration, end) - std::min(duration, start);
    if (!(span > 0)) return size;
    const double scaled = span * static_cast<double>(*size) / duration;
    return std::max<int64_t>(1, static_cast<int64_t>(scaled));
}

std::optional<double> FFmpegEngine::outputDuration(const ConversionJob& job, const MediaProbe& probe) {
    if (!probe.durationSeconds || !(*probe.durationSeconds > 0)) return probe.durationSeconds;
    const double duration = *probe.durationSeconds;
    if (!job.options.trimStart && !job.options.trimEnd) return duration;
    // Only the arguments' own trim counts: a start at or past the end trims nothing.
    const double start = std::clamp(job.options.trimStart.value_or(0), 0.0, duration);
    double end = duration;
    if (job.options.trimEnd) {
        const double length = job.options.trimStart ? *job.options.trimEnd - *job.options.trimStart : *job.options.trimEnd;
        if (length > 0) end = std::min(duration, start + length);
    }
    return end > start ? end - start : duration;
}

}  // namespace kolvex
