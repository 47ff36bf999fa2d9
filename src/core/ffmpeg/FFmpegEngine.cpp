// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/FFmpegEngine.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <mutex>

#include <fmt/format.h>

#include "core/conversion/CompressionGuard.h"
#include "core/conversion/ResizePlan.h"
#include "core/conversion/SoundCompression.h"
#include "core/ffmpeg/AnimationWork.h"
#include "core/ffmpeg/ContainerCompatibility.h"
#include "core/ffmpeg/CopyCut.h"
#include "core/ffmpeg/CutPlan.h"
#include "core/ffmpeg/OutputNeed.h"
#include "core/ffmpeg/FFmpegArguments.h"
#include "core/ffmpeg/FFmpegEncoders.h"
#include "core/ffmpeg/FFmpegJobPaths.h"
#include "core/ffmpeg/FFmpegProgressParser.h"
#include "core/ffmpeg/LibavProber.h"
#include "core/ffmpeg/KeyframeIndex.h"
#include "core/ffmpeg/LibavKeyframeReader.h"
#include "core/ffmpeg/LeftOutStreams.h"
#include "core/ffmpeg/OutputReadback.h"
#include "core/ffmpeg/PassthroughPlanner.h"
#include "core/ffmpeg/PassthroughProgressWatcher.h"
#include "core/services/Cancellation.h"
#include "core/services/ErrorMapper.h"
#include "core/services/Log.h"
#include "core/services/PathUtils.h"
#include "core/services/ProcessRunner.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

using ffmpeg_paths::sameFile;
using ffmpeg_paths::writingTo;

// Whether ffmpeg said that writing its output failed, whatever its exit code.
bool writeFailed(const std::string& standardError) {
    const std::string text = paths::asciiLower(standardError);
    return text.find("error writing trailer") != std::string::npos || text.find("no space left") != std::string::npos ||
           text.find("disk quota exceeded") != std::string::npos;
}

// The stretch whose packets decide whether a trim can be copied: from a second before its start
// to its end (the file's end when it has none).
std::pair<double, double> trimWindow(const ConversionJob& job) {
    const double start = std::max(0.0, job.options.trimStart.value_or(0));
    return {start - 1.0, job.options.trimEnd.value_or(std::numeric_limits<double>::infinity())};
}

}  // namespace

FFmpegEngine::FFmpegEngine(BundledFFmpeg tools, std::shared_ptr<const MediaProbing> prober, std::set<std::string> encoders,
                           ImageDecoder imageDecoder, const FileManagerService& files, TemporaryFileManager temporary)
    : FFmpegEngine(OverList{}, std::move(tools), std::move(prober),
                   std::make_shared<const FFmpegEncoderList>(std::move(encoders)), std::move(imageDecoder), files,
                   std::move(temporary)) {}

FFmpegEngine FFmpegEngine::overList(BundledFFmpeg tools, std::shared_ptr<const MediaProbing> prober,
                                    std::shared_ptr<const FFmpegEncoderList> encoders, ImageDecoder imageDecoder,
                                    const FileManagerService& files, TemporaryFileManager temporary) {
    return FFmpegEngine(OverList{}, std::move(tools), std::move(prober), std::move(encoders), std::move(imageDecoder),
                        files, std::move(temporary));
}

FFmpegEngine::FFmpegEngine(OverList, BundledFFmpeg tools, std::shared_ptr<const MediaProbing> prober,
                           std::shared_ptr<const FFmpegEncoderList> encoders, ImageDecoder imageDecoder,
                           const FileManagerService& files, TemporaryFileManager temporary)
    : m_tools(std::move(tools)),
      m_prober(prober ? std::move(prober) : std::make_shared<LibavProber>()),
      m_encoders(encoders ? std::move(encoders) : std::make_shared<const FFmpegEncoderList>(std::set<std::string>{})),
      m_imageDecoder(std::move(imageDecoder)),
      m_files(&files),
      m_temporary(std::move(temporary)) {}

const std::set<std::string>& FFmpegEngine::supportedTools() {
    static const std::set<std::string> tools = {"compress",  "resize",        "crop",         "trim",          "split",
                                                "merge",     "normalize",     "extract-audio", "remove-audio", "strip-metadata"};
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
    if (mayCopyStreams(job)) return true;
    return hasEncodersFor(job);
}

bool FFmpegEngine::mayCopyStreams(const ConversionJob& job) {
    if (needsImageDecode().contains(job.from.id.rawValue)) return false;
    // A merge copies whenever its files' streams agree, whatever the options.
    if (job.options.tool == "merge") return true;
    return job.canPassthrough() && ContainerCompatibility::isKnownContainer(job.to.id);
}

bool FFmpegEngine::readsHeadersFirst(const ConversionJob& job) {
    // A trim's cuts are read in the same opening, on times that need the streams read.
    return job.to.category == FormatCategory::video && !job.isTrim() && mayCopyStreams(job);
}

bool FFmpegEngine::hasEncodersFor(const ConversionJob& job) const {
    const std::set<std::string>& encoders = m_encoders->names();
    if (encoders.empty()) return true;
    if (job.to.id.rawValue == "gif") return encoders.contains("gif");
    switch (job.to.category) {
    case FormatCategory::image: return encoders.contains(FFmpegEncoders::imageEncoder(job.to));
    case FormatCategory::video:
        return encoders.contains(FFmpegEncoders::videoEncoder(job.to)) && encoders.contains(FFmpegEncoders::audioEncoder(job.to));
    case FormatCategory::audio: return encoders.contains(FFmpegEncoders::audioEncoder(job.to));
    default: return true;
    }
}

void FFmpegEngine::requireEncodersFor(const ConversionJob& job) const {
    if (!hasEncodersFor(job)) throw ConversionError::unsupportedCombination(job.from.label, job.to.label);
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
    return convertReporting(job, progress, std::move(stop)).outputs;
}

ConversionOutcome FFmpegEngine::convertReporting(const ConversionJob& job, const ProgressCallback& progress,
                                                 std::stop_token stop) const {
    if (needsImageDecode().contains(job.from.id.rawValue)) return convertDecodedImage(job, progress, stop);
    if (job.options.tool == "split") return split(job, progress, stop);
    if (job.options.tool == "merge") return merge(job, progress, stop);
    if (SoundCompression::applies(job)) return compressSound(job, progress, stop);
    if (job.options.tool == "resize" && ResizePlan::asksSize(job.options)) {
        // A clip the resize would not shrink is left as it is: re-encoded at its own size it
        // would only lose quality and grow.
        const MediaProbe probe = m_prober->probeHeaders(job.source, stop);
        if (probe.width && probe.height) {
            const bool turned = probe.rotation == 90 || probe.rotation == 270;
            const int64_t width = turned ? *probe.height : *probe.width;
            const int64_t height = turned ? *probe.width : *probe.height;
            if (auto why = ResizePlan::leftAsItIs(job.options, width, height)) {
                if (progress) progress(1.0);
                ConversionOutcome outcome;
                outcome.note = std::move(why);
                outcome.leftAsItIs = true;
                return outcome;
            }
        }
    }
    return runReporting(job, progress, stop);
}

ConversionOutcome FFmpegEngine::convertDecodedImage(const ConversionJob& job, const ProgressCallback& progress,
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
            return runReporting(decodedJob, progress, stop);
        } catch (const ConversionError& failure) {
            // The user knows the file they dropped, not the scratch copy.
            if (failure.kind() == ConversionError::Kind::corruptedInput) throw ConversionError::corruptedInput(job.source);
            throw;
        }
    });
}

std::vector<fs::path> FFmpegEngine::run(const ConversionJob& job, const ProgressCallback& progress, std::stop_token stop) const {
    return runReporting(job, progress, std::move(stop)).outputs;
}

ConversionOutcome FFmpegEngine::runReporting(const ConversionJob& job, const ProgressCallback& progress,
                                             std::stop_token stop) const {
    Staged staged = stage(job, progress, stop, nullptr);
    staged.output.commit();
    if (progress) progress(1.0);
    return {{staged.output.destination()}, staged.usedPassthrough, staged.note};
}

FFmpegEngine::Staged FFmpegEngine::stage(const ConversionJob& job, const ProgressCallback& progress, std::stop_token stop,
                                         const StreamCopyCuts* knownCuts, const MediaProbe* knownProbe,
                                         double laterSeconds) const {
    throwIfStopRequested(stop);
    // ffmpeg would truncate the source while reading it.
    if (sameFile(job.source, job.destination)) throw ConversionError::outputNameUnavailable(job.destination);
    const auto report = [&](double fraction) {
        if (progress) progress(fraction);
    };
    report(0.02);

    // A trim reads where it can be cut while the file is open for the probe anyway.
    MediaProbe probe;
    bool headersOnly = false;
    std::optional<StreamCopyCuts> cutsNearStart;
    if (knownProbe && knownCuts) {
        probe = *knownProbe;
    } else if (job.isTrim() && !knownCuts) {
        std::tie(probe, cutsNearStart) = m_prober->probeWithCuts(job.source, trimWindow(job), stop);
        if (cutsNearStart) knownCuts = &*cutsNearStart;
    } else if (readsHeadersFirst(job)) {
        probe = m_prober->probeHeaders(job.source, stop);
        headersOnly = true;
    } else {
        probe = m_prober->probe(job.source, stop);
    }
    if (job.to.category == FormatCategory::video && job.from.category != FormatCategory::image && !probe.videoCodec)
        throw ConversionError::unsupportedCombination(job.from.label + " with no video track", job.to.label);
    // A still picture named like a film (a JPEG renamed ".mp4") is read by ffmpeg's image readers:
    // it is no film to convert.
    if (job.from.category == FormatCategory::video && probe.demuxer &&
        (*probe.demuxer == "image2" || probe.demuxer->ends_with("_pipe")))
        throw ConversionError::unsupportedCombination(job.from.label + " holding a single still picture", job.to.label);
    // A picture needs a picture to start from, whatever the source's kind.
    if (job.to.category == FormatCategory::image && !probe.videoCodec)
        throw ConversionError::unsupportedCombination(job.from.label + " with no video track", job.to.label);
    if (job.to.category == FormatCategory::audio && !probe.audioCodec)
        throw ConversionError::unsupportedCombination(job.from.label + " with no audio track", job.to.label);
    // A file named like audio that holds a film (Theora in ".ogg") is not made into a sound file
    // that silently drops the picture.
    if (job.from.category == FormatCategory::audio && job.to.category == FormatCategory::audio && probe.videoCodec)
        throw ConversionError::unsupportedCombination(job.from.label + " with a video track", job.to.label);

    auto decision = PassthroughPlanner::decide(job, probe);
    if (headersOnly && !decision.isPassthrough()) {
        // An encoder is set up from what only decoding tells (pixel format, frame rate…).
        probe = m_prober->probe(job.source, stop);
        decision = PassthroughPlanner::decide(job, probe);
    }
    // Before anything runs: a small animation may ask ffmpeg for more than any machine draws.
    if (auto refused = AnimationWork::refusal(job, probe)) throw *refused;
    // (A split has looked at its source already.)
    if (!knownProbe && needsStandIn(job, probe, stop)) return stageUnpacked(job, probe, progress, stop);
    // A range that starts at or after the end holds nothing, in an intact file as in any other.
    if (job.options.trimStart && probe.durationSeconds && *probe.durationSeconds > 0 &&
        *job.options.trimStart >= *probe.durationSeconds)
        throw ConversionError::unsupportedCombination(
            fmt::format("{} of {:.1f} s", job.from.label, *probe.durationSeconds),
            fmt::format("a part from {:.1f} s \u2014 the range lies beyond the clip's end", *job.options.trimStart));
    StagedOutput output(job.destination, StagedOutput::Kind::file, *m_files);
    // The job ffmpeg is given: writing to the staged file. A copied video trim holds exactly the
    // pictures of its span, or is re-encoded.
    const ConversionJob staged = writingTo(job, output.path());
    std::optional<CopyCut> cut;
    std::optional<double> reencodeSeek;
    std::optional<std::string> cutNote;
    if (job.isTrim()) {
        // What the trim and split sheets promised: the same plan, over the same read of the file.
        std::optional<StreamCopyCuts> read;
        if (decision.isPassthrough() && !decision.dropsVideo && !knownCuts) {
            read = readCuts(job, stop);
            if (read) knownCuts = &*read;
        }
        const CutPlan plan = CutPlan::of(job, probe, knownCuts);
        decision = plan.decision;
        cut = plan.cut;
        reencodeSeek = plan.reencodeSeek;
        cutNote = plan.note(job);
        // A picture track with no picture in it opens nowhere: with no sound either, nothing is made.
        if (plan.soundAlone && (!probe.audioCodec || job.options.tool == "remove-audio"))
            throw ConversionError::unsupportedCombination(
                fmt::format("{} with no picture from {:.2f} s", job.from.label, job.options.trimStart.value_or(0)),
                job.to.label);
    }
    Log::engine().info("{}\u2192{}: {}", job.from.label, job.to.label, decision.reason);
    if (!decision.isPassthrough()) requireEncodersFor(job);

    const auto duration = outputDuration(job, probe);
    ProcessResult last;
    try {
        last = runStaged(job, staged, decision, probe, cut, reencodeSeek, duration, report, stop, laterSeconds);
    } catch (const ConversionError& failure) {
        // A copy ffmpeg's muxer refuses (packets whose times it cannot place) is made again by
        // re-encoding; what would fail a re-encode as well (a full disk, a damaged source) ends here.
        const bool copyRefused = failure.kind() == ConversionError::Kind::backendFailure ||
                                 failure.kind() == ConversionError::Kind::unsupportedCodec;
        if (!decision.isPassthrough() || !copyRefused) throw;
        Log::engine().warn("copy of {} failed ({}); re-encoding", paths::lastComponent(job.source), failure.shortDescription());
        std::error_code ignored;
        fs::remove(output.path(), ignored);
        if (headersOnly) probe = m_prober->probe(job.source, stop);
        decision = PassthroughPlanner::Decision::reencode("the copy failed, so the streams are re-encoded");
        cut.reset();
        requireEncodersFor(job);
        last = runStaged(job, staged, decision, probe, std::nullopt, reencodeSeek, duration, report, stop, laterSeconds);
    }
    // The copy must hold the pictures planned: its seek and end are ffmpeg's own reckoning. When
    // it does not, the cut is made again by re-encoding.
    if (cut) {
        // As ffmpeg counted them, or else as the file holds them; an unreadable copy is made again
        // too, and the checks below then judge it.
        int64_t copied = FFmpegProgressParser::picturesWritten(last.standardOutputData).value_or(-1);
        try {
            if (copied != cut->pictures) copied = LibavKeyframeReader::pictureCount(output.path(), stop);
        } catch (const ConversionError&) {
            copied = -1;
        }
        if (copied != cut->pictures) {
            Log::engine().warn("copy of {} held {} pictures for {} planned; re-encoding the cut",
                               paths::lastComponent(job.source), copied, cut->pictures);
            std::error_code ignored;
            fs::remove(output.path(), ignored);
            decision = PassthroughPlanner::Decision::reencode("the copy did not start and end where asked");
            requireEncodersFor(job);
            last = runStaged(job, staged, decision, probe, std::nullopt, reencodeSeek, duration, report, stop, laterSeconds);
        }
    }

    const auto size = m_files->size(output.path());
    if (!size || *size < 1) {
        // A zero-byte file is no output: never put it in place as if it were one.
        throw ConversionError::backendFailure("ffmpeg", 0, "ffmpeg reported success but wrote no output\n" + last.standardError());
    }
    OutputReadback::check(output.path(), job.source, job.to, duration, stop);
    std::optional<std::string> note = LeftOutStreams::of(job, probe).note();
    if (cutNote) note = note ? *cutNote + " " + *note : *cutNote;
    // Kept as the source itself, every stream included.
    // (A sound file's compress judges its own output: compressSound.)
    if (!SoundCompression::applies(job) && CompressionGuard::keepSmaller(job, output.path()).wasAlreadySmallest)
        note.reset();
    return {std::move(output), decision.isPassthrough(), std::move(note)};
}

ProcessResult FFmpegEngine::runStaged(const ConversionJob& job, const ConversionJob& staged,
                                      const PassthroughPlanner::Decision& decision, const MediaProbe& probe,
                                      const std::optional<CopyCut>& cut, std::optional<double> reencodeSeek,
                                      std::optional<double> duration, const ProgressCallback& report,
                                      std::stop_token stop, double laterSeconds) const {
    if (FFmpegArguments::isGif(job.to) && !decision.isPassthrough()) {
        // A palette's pictures state no rate.
        requireRoom(job, std::nullopt);
        return m_temporary.withScratchDirectory([&](const fs::path& scratch) {
            const fs::path palette = scratch / "palette.png";
            runFFmpeg(job, FFmpegArguments::gifPalette(staged, palette, probe.demuxer), duration,
                      [&](double f) { report(f * 0.5); }, {}, stop);
            return runFFmpeg(job, FFmpegArguments::gifFrames(staged, palette, probe.demuxer), duration,
                             [&](double f) { report(0.5 + f * 0.5); }, {}, stop);
        });
    }
    std::optional<std::pair<fs::path, int64_t>> watched;
    if (decision.isPassthrough()) {
        if (const auto expected = expectedPassthroughBytes(job, probe, *m_files)) watched = std::pair(staged.destination, *expected);
    }
    const auto arguments = FFmpegArguments::build(staged, decision, probe, cut, reencodeSeek);
    // A volume that filled early, or by another writer's hand, tells little of how fast the
    // output grows: the plan's rates tell what it writes.
    const auto sourceBytes = m_files->size(job.source);
    const MediaProbe shown = drawn(job, probe);
    const auto planned = duration ? OutputNeed::planned(arguments, shown, *duration, sourceBytes) : std::nullopt;
    // The parts of a split still to come are written at this part's rate.
    const auto room = duration && laterSeconds > 0
                          ? OutputNeed::planned(arguments, shown, *duration + laterSeconds, sourceBytes)
                          : planned;
    requireRoom(job, planned, room);
    return runFFmpeg(job, arguments, duration, report, watched, stop, planned);
}

ProcessResult FFmpegEngine::runFFmpeg(const ConversionJob& job, const std::vector<std::string>& arguments,
                                      std::optional<double> duration, const ProgressCallback& report,
                                      const std::optional<std::pair<fs::path, int64_t>>& watched, std::stop_token stop,
                                      std::optional<int64_t> planned) const {
    // Lines arrive on the runner's thread while the watcher reports from its own: one lock keeps
    // the parser consistent, and the consumer keeps the highest fraction it sees.
    std::mutex trackerLock;
    FFmpegProgressParser parser(duration, 0.02);
    // How the output grew, as the reports said: its size on disk against how far into the
    // output ffmpeg was. Only reports in which it grew count: once the volume is full, ffmpeg
    // muxes on into a file that no longer grows.
    OutputGrowth growth;
    int64_t reportedBytes = 0;  // of the report being read; its size comes before its time
    const ProcessRunner::LineCallback onLine = [&](const std::string& line) {
        std::lock_guard lock(trackerLock);
        if (line.starts_with("total_size=")) reportedBytes = std::atoll(line.c_str() + 11);
        if (line.starts_with("out_time_us=")) growth.add(reportedBytes, std::atof(line.c_str() + 12) / 1e6);
        if (const auto fraction = parser.consume(line)) report(*fraction);
    };

    PassthroughProgressWatcher::Handle watcher;
    if (watched)
        watcher = PassthroughProgressWatcher::watch(watched->first, watched->second, PassthroughProgressWatcher::interval,
                                                    report, *m_files);

    ProcessResult result;
    try {
        result = ProcessRunner().run(m_tools.ffmpeg, arguments, std::nullopt, onLine, nullptr, stop);
    } catch (...) {
        watcher.cancel();
        throw;
    }
    watcher.cancel();
    // ffmpeg ends with 0 when only its trailer could not be written (the index of an MP4, its
    // move to the front): the file is cut short, and the cause is in what it said.
    if (result.exitCode != 0 || writeFailed(result.standardError())) {
        Log::engine().warn("ffmpeg exited {} for {}: {}", result.exitCode, paths::lastComponent(job.source),
                           result.standardError());
        const ConversionError error = ErrorMapper::map(ErrorMapper::Program::ffmpeg, result.exitCode != 0 ? result.exitCode : 1,
                                                       result.standardError(), job, *m_files);
        if (error.kind() != ConversionError::Kind::insufficientDiskSpace) throw error;
        // A full disk: the whole output's need, from how it grew and from its plan. What is
        // free once this file is gone includes what it held. The output is the last argument.
        const fs::path output = arguments.empty() ? fs::path() : fs::path(arguments.back());
        const int64_t held = m_files->allocatedSize(output).value_or(0);
        throw ConversionError::insufficientDiskSpace(OutputNeed::whenFull(error.required(), growth, duration, planned),
                                                     error.available() + held);
    }
    return result;
}

std::optional<StreamCopyCuts> FFmpegEngine::readCuts(const ConversionJob& job, std::stop_token stop) const {
    try {
        return LibavKeyframeReader().cuts(job.source, stop, trimWindow(job));
    } catch (const ConversionError&) {
        return std::nullopt;
    }
}

}  // namespace kolvex
