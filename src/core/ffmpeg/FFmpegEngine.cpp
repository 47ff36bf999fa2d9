#include "core/ffmpeg/FFmpegEngine.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <fstream>
#include <mutex>

#include <fmt/format.h>

#include "core/conversion/CompressionGuard.h"
#include "core/ffmpeg/FFmpegArguments.h"
#include "core/ffmpeg/FFmpegEncoders.h"
#include "core/ffmpeg/FFmpegProgressParser.h"
#include "core/ffmpeg/LibavProber.h"
#include "core/ffmpeg/KeyframeIndex.h"
#include "core/ffmpeg/LibavKeyframeReader.h"
#include "core/ffmpeg/LeftOutStreams.h"
#include "core/ffmpeg/PassthroughPlanner.h"
#include "core/ffmpeg/PassthroughProgressWatcher.h"
#include "core/services/Cancellation.h"
#include "core/services/ErrorMapper.h"
#include "core/services/Log.h"
#include "core/services/OutputNaming.h"
#include "core/services/PathUtils.h"
#include "core/services/ProcessRunner.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

// The stretch whose keyframes decide whether a trim can be copied: a second either side of its start.
std::pair<double, double> trimWindow(const ConversionJob& job) {
    const double start = std::max(0.0, job.options.trimStart.value_or(0));
    return {start - 1.0, start + 1.0};
}

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    if (fs::equivalent(a, b, error)) return true;
    return paths::absolute(a) == paths::absolute(b);
}

// The first free "<name> part N.<ext>" beside the destination ("<name> part N 2.<ext>" … when
// taken). Only looked for: the part takes the name when the whole split is done.
fs::path partName(const fs::path& destination, int number, const FileManagerService& files) {
    const fs::path folder = paths::deletingLastComponent(destination);
    const std::string extension = paths::extension(destination);
    const std::string stem = paths::stem(destination);
    const std::string label = " part " + std::to_string(number);
    for (int suffix = 1; suffix <= OutputNaming::maxCollisionAttempts; ++suffix) {
        // A long name loses characters of its stem, never the part label that tells parts apart.
        const fs::path candidate =
            folder / OutputNaming::filename(stem, label, suffix == 1 ? std::nullopt : std::optional(suffix), extension);
        if (!files.itemExists(candidate)) return candidate;
    }
    throw ConversionError::outputNameUnavailable(folder / OutputNaming::filename(stem, label, std::nullopt, extension));
}

// The job as ffmpeg sees it: writing to the staged file instead of the destination.
ConversionJob writingTo(const ConversionJob& job, const fs::path& staged) {
    return ConversionJob(job.source, job.additionalSources, staged, job.from, job.to, job.capability, job.options);
}

bool holdsLineBreak(const fs::path& path) { return path.string().find_first_of("\n\r") != std::string::npos; }

}  // namespace

FFmpegEngine::FFmpegEngine(BundledFFmpeg tools, std::shared_ptr<const MediaProbing> prober, std::set<std::string> encoders,
                           ImageDecoder imageDecoder, const FileManagerService& files, TemporaryFileManager temporary)
    : m_tools(std::move(tools)),
      m_prober(prober ? std::move(prober) : std::make_shared<LibavProber>()),
      m_encoders(std::move(encoders)),
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
    return convertReporting(job, progress, std::move(stop)).outputs;
}

ConversionOutcome FFmpegEngine::convertReporting(const ConversionJob& job, const ProgressCallback& progress,
                                                 std::stop_token stop) const {
    if (needsImageDecode().contains(job.from.id.rawValue)) return convertDecodedImage(job, progress, stop);
    if (job.options.tool == "split") return split(job, progress, stop);
    if (job.options.tool == "merge") return merge(job, progress, stop);
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
    return {{job.destination}, staged.usedPassthrough, staged.note};
}

FFmpegEngine::Staged FFmpegEngine::stage(const ConversionJob& job, const ProgressCallback& progress, std::stop_token stop,
                                         const StreamCopyCuts* knownCuts) const {
    throwIfStopRequested(stop);
    // ffmpeg would truncate the source while reading it.
    if (sameFile(job.source, job.destination)) throw ConversionError::outputNameUnavailable(job.destination);
    const auto report = [&](double fraction) {
        if (progress) progress(fraction);
    };
    report(0.02);

    // A trim reads where it can be cut while the file is open for the probe anyway.
    MediaProbe probe;
    std::optional<StreamCopyCuts> cutsNearStart;
    if (job.isTrim() && !knownCuts) {
        std::tie(probe, cutsNearStart) = m_prober->probeWithCuts(job.source, trimWindow(job), stop);
        if (cutsNearStart) knownCuts = &*cutsNearStart;
    } else {
        probe = m_prober->probe(job.source, stop);
    }
    if (job.to.category == FormatCategory::video && job.from.category != FormatCategory::image && !probe.videoCodec)
        throw ConversionError::unsupportedCombination(job.from.label + " with no video track", job.to.label);
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
    StagedOutput output(job.destination, StagedOutput::Kind::file, *m_files);
    // The job ffmpeg is given: writing to the staged file and, for a copied video trim, ending
    // early by the stream's decode delay.
    ConversionJob staged = writingTo(job, output.path());
    if (decision.isPassthrough() && !decision.dropsVideo && job.isTrim()) {
        if (const auto end = copyEnd(job, knownCuts, stop))
            staged.options.trimEnd = *end;
        else
            decision = PassthroughPlanner::Decision::reencode(fmt::format(
                "no keyframe at {:.3f} s, so the cut is re-encoded to start there", job.options.trimStart.value_or(0)));
    }
    Log::engine().info("{}\u2192{}: {}", job.from.label, job.to.label, decision.reason);

    const auto duration = outputDuration(job, probe);
    ProcessResult last;
    if (FFmpegArguments::isGif(job.to) && !decision.isPassthrough()) {
        last = m_temporary.withScratchDirectory([&](const fs::path& scratch) {
            const fs::path palette = scratch / "palette.png";
            runFFmpeg(job, FFmpegArguments::gifPalette(staged, palette), duration, [&](double f) { report(f * 0.5); }, {}, stop);
            return runFFmpeg(job, FFmpegArguments::gifFrames(staged, palette), duration,
                             [&](double f) { report(0.5 + f * 0.5); }, {}, stop);
        });
    } else {
        std::optional<std::pair<fs::path, int64_t>> watched;
        if (decision.isPassthrough()) {
            if (const auto expected = expectedPassthroughBytes(job, probe, *m_files)) watched = std::pair(output.path(), *expected);
        }
        last = runFFmpeg(job, FFmpegArguments::build(staged, decision, probe), duration, report, watched, stop);
    }

    const auto size = m_files->size(output.path());
    if (!size || *size < 1) {
        // A zero-byte file is no output: never put it in place as if it were one.
        throw ConversionError::backendFailure("ffmpeg", 0, "ffmpeg reported success but wrote no output\n" + last.standardError());
    }
    std::optional<std::string> note = LeftOutStreams::of(job, probe).note();
    // Kept as the source itself, every stream included.
    if (CompressionGuard::keepSmaller(job, output.path()).wasAlreadySmallest) note.reset();
    return {std::move(output), decision.isPassthrough(), std::move(note)};
}

ProcessResult FFmpegEngine::runFFmpeg(const ConversionJob& job, const std::vector<std::string>& arguments,
                                      std::optional<double> duration, const ProgressCallback& report,
                                      const std::optional<std::pair<fs::path, int64_t>>& watched, std::stop_token stop) const {
    // Lines arrive on the runner's thread while the watcher reports from its own: one lock keeps
    // the parser consistent, and the consumer keeps the highest fraction it sees.
    std::mutex trackerLock;
    FFmpegProgressParser parser(duration, 0.02);
    const ProcessRunner::LineCallback onLine = [&](const std::string& line) {
        std::lock_guard lock(trackerLock);
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
    if (result.exitCode != 0)
        throw ErrorMapper::map(ErrorMapper::Program::ffmpeg, result.exitCode, result.standardError(), job, *m_files);
    return result;
}

std::optional<std::optional<double>> FFmpegEngine::copyEnd(const ConversionJob& job, const StreamCopyCuts* knownCuts,
                                                           std::stop_token stop) const {
    const double start = std::max(0.0, job.options.trimStart.value_or(0));
    StreamCopyCuts cuts;
    if (knownCuts) {
        cuts = *knownCuts;
    } else {
        try {
            cuts = LibavKeyframeReader().cuts(job.source, stop, trimWindow(job));
        } catch (const ConversionError&) {
            return std::nullopt;
        }
    }
    // A copy can only start on a keyframe: without one within the tolerance it would start
    // earlier and carry more than was asked for.
    if (start > TrimPlan::tolerance && !(std::abs(cuts.keyframes.nearest(start) - start) <= TrimPlan::tolerance))
        return std::nullopt;
    if (!job.options.trimEnd) return std::optional<double>();
    const double end = *job.options.trimEnd - cuts.decodeDelay;
    if (!(end - start > 0)) return std::nullopt;
    return std::optional<double>(end);
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

namespace kolvex {

// --- Split -------------------------------------------------------------------------------------

std::vector<double> FFmpegEngine::splitPoints(const std::vector<double>& given, double duration) {
    std::vector<double> candidates = given.empty() ? std::vector<double>{duration * 0.5} : given;
    std::sort(candidates.begin(), candidates.end());
    std::vector<double> accepted;
    for (const double point : candidates) {
        if (!(point > 0.1) || !(point < duration - 0.1)) continue;
        if (!accepted.empty() && !(point - accepted.back() >= 0.1)) continue;
        accepted.push_back(point);
    }
    return accepted;
}

ConversionOutcome FFmpegEngine::split(const ConversionJob& job, const ProgressCallback& progress, std::stop_token stop) const {
    const MediaProbe probe = m_prober->probe(job.source, stop);
    if (!probe.durationSeconds || !(*probe.durationSeconds > 0.2))
        throw ConversionError::unsupportedCombination(job.from.label + " this short", "several parts");
    auto points = splitPoints(job.options.splitPoints, *probe.durationSeconds);
    if (points.empty())
        throw ConversionError::unsupportedCombination(job.from.label, "parts \u2014 no split point is inside the file");

    // A copied part runs from keyframe to keyframe. A point within the tolerance of one moves
    // onto it, so the part before ends exactly where the next begins; the parts on either side of
    // any other point are re-encoded to end and start there. Either way no moment is in two parts.
    std::optional<StreamCopyCuts> cuts;
    if (probe.videoCodec && job.to.category != FormatCategory::audio) {
        try {
            cuts = LibavKeyframeReader().cuts(job.source, stop);
        } catch (const ConversionError&) {
            cuts = StreamCopyCuts();
        }
        for (double& point : points) {
            const double nearest = cuts->keyframes.nearest(point);
            if (std::abs(nearest - point) <= TrimPlan::tolerance && nearest > 0) point = nearest;
        }
    }
    const auto onKeyframe = [&](size_t index) { return !cuts || cuts->keyframes.nearest(points[index]) == points[index]; };

    const size_t count = points.size() + 1;
    ConversionOutcome outcome{{}, true, std::nullopt};
    std::vector<StagedOutput> staged;
    for (size_t i = 0; i < count; ++i) {
        const fs::path part = partName(job.destination, static_cast<int>(i + 1), *m_files);
        outcome.outputs.push_back(part);
        ConversionOptions options = job.options;
        options.splitPoints.clear();
        options.tool = "trim";
        options.allowPassthrough = (i == 0 || onKeyframe(i - 1)) && (i + 1 == count || onKeyframe(i));
        options.trimStart = i == 0 ? std::nullopt : std::optional(points[i - 1]);
        options.trimEnd = i + 1 == count ? std::nullopt : std::optional(points[i]);
        const ConversionJob partJob(job.source, {}, part, job.from, job.to, job.capability, options);
        const double share = 1.0 / static_cast<double>(count);
        Staged ran = stage(partJob, [&, i, share](double fraction) {
            if (progress) progress(static_cast<double>(i) * share + fraction * share);
        }, stop, cuts ? &*cuts : nullptr);
        outcome.usedPassthrough = outcome.usedPassthrough && ran.usedPassthrough;
        outcome.note = ran.note;
        staged.push_back(std::move(ran.output));
    }
    StagedOutput::commitAll(staged);
    if (progress) progress(1.0);
    return outcome;
}

// --- Merge -------------------------------------------------------------------------------------

std::string FFmpegEngine::playlist(const std::vector<fs::path>& sources) {
    std::string text;
    for (const auto& source : sources) {
        text += "file '";
        for (const char c : paths::absolute(source).string()) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
        text += "'\n";
    }
    return text;
}

std::vector<std::string> FFmpegEngine::streamCopyArguments(const ConversionJob& job) {
    std::vector<std::string> args = FFmpegArguments::common();
    // The same streams as any other conversion keeps: the first video and the first audio.
    args.insert(args.end(), {"-f", "concat", "-safe", "0", "-i", kPlaylistPlaceholder, "-map", "0:V:0?", "-map", "0:a:0?",
                             "-sn", "-dn", "-c", "copy"});
    const auto flags = FFmpegArguments::containerFlags(job.to);
    args.insert(args.end(), flags.begin(), flags.end());
    args.push_back(paths::absolute(job.destination).string());
    return args;
}

std::vector<std::string> FFmpegEngine::normalisingArguments(const ConversionJob& job, const std::vector<fs::path>& sources,
                                                            const MergePlan& plan) {
    std::vector<std::string> args = FFmpegArguments::common();
    for (const auto& source : sources) args.insert(args.end(), {"-i", paths::absolute(source).string()});
    std::string graph;
    std::string inputs;
    // 4:2:0 pictures have even sides.
    const int64_t width = (plan.width + 1) / 2 * 2;
    const int64_t height = (plan.height + 1) / 2 * 2;
    for (size_t i = 0; i < sources.size(); ++i) {
        if (plan.wantsVideo) {
            graph += fmt::format("[{0}:V:0]scale={1}:{2}:force_original_aspect_ratio=decrease,pad={1}:{2}:-1:-1,setsar=1,fps={3}[v{0}];",
                                 i, width, height, plan.frameRate);
            inputs += fmt::format("[v{}]", i);
        }
        if (plan.wantsAudio) {
            graph += fmt::format("[{0}:a:0]aresample={1},aformat=sample_fmts=fltp:channel_layouts=stereo[a{0}];", i, plan.sampleRate);
            inputs += fmt::format("[a{}]", i);
        }
    }
    graph += inputs + fmt::format("concat=n={}:v={}:a={}", sources.size(), plan.wantsVideo ? 1 : 0, plan.wantsAudio ? 1 : 0);
    if (plan.wantsVideo) graph += "[outv]";
    if (plan.wantsAudio) graph += "[outa]";
    args.insert(args.end(), {"-filter_complex", graph});
    if (plan.wantsVideo) {
        args.insert(args.end(), {"-map", "[outv]", "-c:v", FFmpegArguments::videoEncoder(job.to)});
        const auto picture = FFmpegArguments::playablePicture(job.to);
        args.insert(args.end(), picture.begin(), picture.end());
    }
    if (plan.wantsAudio)
        args.insert(args.end(), {"-map", "[outa]", "-c:a", FFmpegArguments::audioEncoder(job.to), "-b:a", "192k"});
    const auto flags = FFmpegArguments::containerFlags(job.to);
    args.insert(args.end(), flags.begin(), flags.end());
    args.push_back(paths::absolute(job.destination).string());
    return args;
}

ConversionOutcome FFmpegEngine::merge(const ConversionJob& job, const ProgressCallback& progress,
                                      std::stop_token stop) const {
    const auto sources = job.allSources();
    if (sources.size() < 2)
        throw ConversionError::unsupportedCombination("a single file", "a merged file \u2014 select several");
    for (const auto& source : sources)
        if (sameFile(source, job.destination)) throw ConversionError::outputNameUnavailable(job.destination);
    std::vector<MediaProbe> probes;
    for (const auto& source : sources) probes.push_back(m_prober->probe(source, stop));

    const MergePlan plan(probes, job.to);
    bool streamCopy = plan.canStreamCopy;
    std::string reason = plan.reason;
    // A line break in a name would end its playlist line early and let the rest read as an entry.
    if (streamCopy && std::any_of(sources.begin(), sources.end(), holdsLineBreak)) {
        streamCopy = false;
        reason = "re-encoding: a file name holds a line break";
    }
    if (!streamCopy && !plan.wantsVideo && !plan.wantsAudio)
        throw ConversionError::unsupportedCombination("files with no stream in common", job.to.label);
    Log::engine().info("merge {} file(s): {}", sources.size(), reason);

    std::mutex trackerLock;
    FFmpegProgressParser parser(plan.totalDuration, 0);
    const ProcessRunner::LineCallback onLine = [&](const std::string& line) {
        std::lock_guard lock(trackerLock);
        if (const auto fraction = parser.consume(line); fraction && progress) progress(*fraction);
    };
    StagedOutput output(job.destination, StagedOutput::Kind::file, *m_files);
    const ConversionJob staged = writingTo(job, output.path());
    auto arguments = streamCopy ? streamCopyArguments(staged) : normalisingArguments(staged, sources, plan);

    return m_temporary.withScratchDirectory([&](const fs::path& scratch) {
        if (streamCopy) {
            const fs::path list = scratch / "inputs.txt";
            {
                std::ofstream out(list, std::ios::binary | std::ios::trunc);
                out << playlist(sources);
                out.close();
                if (!out) throw fs::filesystem_error("Cannot write the merge list", list, std::make_error_code(std::errc::io_error));
            }
            std::replace(arguments.begin(), arguments.end(), std::string(kPlaylistPlaceholder), list.string());
        }
        const ProcessResult result = ProcessRunner().run(m_tools.ffmpeg, arguments, std::nullopt, onLine, nullptr, stop);
        const auto size = m_files->size(output.path());
        if (result.exitCode != 0 || !size || *size < 1) {
            throw ErrorMapper::map(ErrorMapper::Program::ffmpeg, result.exitCode, result.standardError(), job, *m_files);
        }
        output.commit();
        if (progress) progress(1.0);
        // What any input held beyond the streams kept.
        LeftOutStreams left;
        for (const auto& probe : probes) {
            const auto of = LeftOutStreams::of(job, probe);
            left.videoTracks = std::max(left.videoTracks, of.videoTracks);
            left.audioTracks = std::max(left.audioTracks, of.audioTracks);
            left.subtitleTracks = std::max(left.subtitleTracks, of.subtitleTracks);
            left.attachments = std::max(left.attachments, of.attachments);
            left.coverPictures = std::max(left.coverPictures, of.coverPictures);
        }
        return ConversionOutcome{{job.destination}, streamCopy, left.note()};
    });
}

}  // namespace kolvex
