// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/conversion/ConversionEngine.h"
#include "core/ffmpeg/BundledFFmpeg.h"
#include "core/ffmpeg/CopyCut.h"
#include "core/ffmpeg/FFmpegEncoderList.h"
#include "core/ffmpeg/KeyframeIndex.h"
#include "core/ffmpeg/MediaProbe.h"
#include "core/ffmpeg/MergePlan.h"
#include "core/ffmpeg/ClipSpan.h"
#include "core/ffmpeg/PassthroughPlanner.h"
#include "core/services/FileManagerService.h"
#include "core/services/ProcessRunner.h"
#include "core/services/StagedOutput.h"
#include "core/services/TemporaryFileManager.h"

namespace kolvex {

// The engine with the id "ffmpeg": video, audio and animated formats through one run of the
// ffmpeg program per job. Immutable; convert() may run on several worker threads at once.
class FFmpegEngine : public ConversionEngine {
public:
    // Decodes an image ffmpeg cannot read (AVIF, ICO) of format `from` into a PNG file at `png`;
    // throws on failure. May run on several worker threads at once.
    using ImageDecoder =
        std::function<void(const std::filesystem::path& source, const Format& from, const std::filesystem::path& png)>;

    // The decoder that hands the image to `imageEngine` (the image engine) as a conversion to PNG.
    static ImageDecoder decoderThrough(std::shared_ptr<const ConversionEngine> imageEngine);

    // `prober`: none means probing in process (LibavProber). `encoders`: what the located ffmpeg lists;
    // empty imposes no restriction. `files` and `temporary` are shared services (tests inject their own).
    FFmpegEngine(BundledFFmpeg tools, std::shared_ptr<const MediaProbing> prober, std::set<std::string> encoders,
                 ImageDecoder imageDecoder = {}, const FileManagerService& files = FileManagerService::shared(),
                 TemporaryFileManager temporary = TemporaryFileManager::shared());
    // The same over an encoder list that is read only once a job needs an encoder.
    static FFmpegEngine overList(BundledFFmpeg tools, std::shared_ptr<const MediaProbing> prober,
                                 std::shared_ptr<const FFmpegEncoderList> encoders, ImageDecoder imageDecoder = {},
                                 const FileManagerService& files = FileManagerService::shared(),
                                 TemporaryFileManager temporary = TemporaryFileManager::shared());

    // Whether `job` may be done by copying streams, told before its source is probed: its
    // conversion can be a copy, the options ask for no new content and the target is a
    // container whose codecs are known; or the job is a merge.
    static bool mayCopyStreams(const ConversionJob& job);
    // Whether the job is probed from the container's header first: a video copy that is no cut.
    // Should it turn out to need an encoder, the source is probed in full before one is set up.
    static bool readsHeadersFirst(const ConversionJob& job);
    // The tools this engine carries out.
    static const std::set<std::string>& supportedTools();
    // Source formats decoded to PNG by the image engine before ffmpeg sees them: avif, ico.
    static const std::set<std::string>& needsImageDecode();

    EngineID id() const override { return engine_ids::ffmpeg; }
    // A job that may turn out to be a stream copy is taken without reading the encoder list: its
    // encoders are checked once probing has shown that it must be re-encoded.
    bool canHandle(const ConversionJob& job) const override;
    // Yes: every run is checked against the room of its output's volume before it starts, by
    // what its plan writes (requireRoom).
    bool checksRoom(const ConversionJob&) const override { return true; }
    // Runs on a worker thread and blocks until ffmpeg has ended. Reports 0.02 before probing,
    // ffmpeg's progress (and, for a stream copy, the growing output's share) and 1.0 once the
    // output is verified. ffmpeg writes under a hidden name beside the destination, which takes
    // the final name only once complete; a failure or cancel leaves nothing.
    std::vector<std::filesystem::path> convert(const ConversionJob& job, const ProgressCallback& progress,
                                               std::stop_token stop) const override;
    // The same, saying whether the streams were copied and naming the streams left out.
    ConversionOutcome convertReporting(const ConversionJob& job, const ProgressCallback& progress,
                                       std::stop_token stop) const override;

    // One conversion of one job: probe, plan, run ffmpeg (twice for a GIF: palette, then frames),
    // check the output, move it into place.
    std::vector<std::filesystem::path> run(const ConversionJob& job, const ProgressCallback& progress,
                                           std::stop_token stop) const;

    // How large a stream copy's output should become: the source size scaled to the trimmed span.
    // None when the source's size is unknown or zero.
    static std::optional<int64_t> expectedPassthroughBytes(const ConversionJob& job, const MediaProbe& probe,
                                                           const FileManagerService& files = FileManagerService::shared());

    // Before anything of `job` is written: throws insufficientDiskSpace (the need in the
    // volume's blocks, the room there) when the volume of its destination has less room than
    // `need`, what its plan writes; where the plan tells nothing, than its source's size asks
    // (JobRoom::bySourceSize).
    // `room`, when given, is asked of the volume in place of `need` (which is still the need told).
    void requireRoom(const ConversionJob& job, std::optional<int64_t> need,
                     std::optional<int64_t> room = std::nullopt) const;

    // The source's probe with its pictures as the output draws them: cropped and resized.
    static MediaProbe drawn(const ConversionJob& job, const MediaProbe& probe);

    // The length of the output's time line: the trimmed span when the options trim, else the
    // source's duration. Progress is measured against it.
    static std::optional<double> outputDuration(const ConversionJob& job, const MediaProbe& probe);

    // Where a split cuts: the given points (or the middle when none), ascending, each strictly
    // inside (0.1 s, duration − 0.1 s) and at least 0.1 s after the previous one.
    static std::vector<double> splitPoints(const std::vector<double>& given, double duration);
    // The concat playlist for a stream-copy merge: one "file '<path>'" line per input.
    static std::string playlist(const std::vector<std::filesystem::path>& sources);
    // The same, each file followed by the duration it is to take in the joined stream.
    static std::string playlist(const std::vector<std::filesystem::path>& sources, const std::vector<double>& durations);
    // One file of a merge that copies the pictures and re-encodes the sound: how long its
    // pictures take in the joined stream (its playlist duration), and the stretch of its sound,
    // on its own clock, that goes with them.
    struct MergedClip {
        double listedDuration = 0;
        double soundFrom = 0;
        double soundLength = 0;
        bool operator==(const MergedClip&) const = default;
    };
    // Each file's, from where its pictures and sound lie; none when a span is unknown or empty.
    static std::optional<std::vector<MergedClip>> mergedClips(const std::vector<std::optional<ClipSpan>>& spans);
    // The argument list of a merge that copies the pictures through the playlist and re-encodes
    // the sound, each file's cut to its pictures.
    static std::vector<std::string> pictureCopyArguments(const ConversionJob& job,
                                                         const std::vector<std::filesystem::path>& sources,
                                                         const MergePlan& plan, const std::vector<MergedClip>& clips,
                                                         const std::vector<std::optional<std::string>>& demuxers = {});
    // The placeholder a stream-copy merge's argument list carries for the playlist's path.
    static constexpr const char* kPlaylistPlaceholder = "@KOLVEX_PLAYLIST@";
    // The argument lists of a merge by stream copy and by re-encode.
    // `demuxers`: what the probe found for each source.
    static std::vector<std::string> streamCopyArguments(const ConversionJob& job,
                                                        const std::vector<std::optional<std::string>>& demuxers);
    // `demuxers`: what the probe found for each source, handed to ffmpeg ("-f"). `spans`: where
    // each source's pictures and sound lie, when known, so its sound is cut to its pictures.
    static std::vector<std::string> normalisingArguments(const ConversionJob& job,
                                                         const std::vector<std::filesystem::path>& sources,
                                                         const MergePlan& plan,
                                                         const std::vector<std::optional<std::string>>& demuxers = {},
                                                         const std::vector<std::optional<ClipSpan>>& spans = {});

    const BundledFFmpeg& tools() const { return m_tools; }
    const MediaProbing& prober() const { return *m_prober; }

private:
    struct OverList {};
    FFmpegEngine(OverList, BundledFFmpeg tools, std::shared_ptr<const MediaProbing> prober,
                 std::shared_ptr<const FFmpegEncoderList> encoders, ImageDecoder imageDecoder,
                 const FileManagerService& files, TemporaryFileManager temporary);

    // A checked output, staged, and how it was made.
    struct Staged {
        StagedOutput output;
        bool usedPassthrough = false;
        std::optional<std::string> note;
    };
    ConversionOutcome runReporting(const ConversionJob& job, const ProgressCallback& progress, std::stop_token stop) const;
    // run() without the move into place. `knownCuts`: where the source can be cut, and
    // `knownProbe`: what it holds, when the caller has read that already (a split, per part).
    // `laterSeconds`: what the parts of a split after this one still take, at the rate this one
    // is planned at; the room for them is asked before this one is written, and a volume without
    // it is told with this part's own need, which the split tells as the whole split's.
    Staged stage(const ConversionJob& job, const ProgressCallback& progress, std::stop_token stop,
                 const StreamCopyCuts* knownCuts, const MediaProbe* knownProbe = nullptr,
                 double laterSeconds = 0) const;
    // One ffmpeg run with progress against `duration` (and, when `watched` names a file and its
    // expected size, the growing file's share). Throws the mapped error when ffmpeg fails; a
    // full disk with the output's need, from its growth and from what its plan writes (`planned`).
    ProcessResult runFFmpeg(const ConversionJob& job, const std::vector<std::string>& arguments,
                            std::optional<double> duration, const ProgressCallback& report,
                            const std::optional<std::pair<std::filesystem::path, int64_t>>& watched,
                            std::stop_token stop, std::optional<int64_t> planned = std::nullopt) const;
    // Where a trim's source can be cut, read around its span; none when it cannot be read.
    std::optional<StreamCopyCuts> readCuts(const ConversionJob& job, std::stop_token stop) const;
    // The ffmpeg run (two for a GIF) of `job` as decided, writing `staged`, once the room it
    // writes (and `laterSeconds` more, as stage() says) is there.
    ProcessResult runStaged(const ConversionJob& job, const ConversionJob& staged,
                            const PassthroughPlanner::Decision& decision, const MediaProbe& probe,
                            const std::optional<CopyCut>& cut, std::optional<double> reencodeSeek,
                            std::optional<double> duration, const ProgressCallback& report,
                            std::stop_token stop, double laterSeconds) const;
    // The parts of a split (`jobs`, each a trim) that are copied cuts of pictures, written by one
    // ffmpeg run from one reading of the source (CopiedParts) and checked as stage() checks its
    // output. Where a part is not such a copy, or the run did not write it as planned, its entry
    // is none: stage() makes it on its own. `cuts`: every packet of the source's pictures.
    // `progress` is told the share of the whole split done.
    std::vector<std::optional<Staged>> stageCopiedParts(const std::vector<ConversionJob>& jobs, const MediaProbe& probe,
                                                        const StreamCopyCuts& cuts, const ProgressCallback& progress,
                                                        std::stop_token stop) const;
    // Cuts the source into consecutive parts named "<name> part N" beside the destination: the
    // copied ones together in one run, each other part in a trim run of its own. The parts take
    // their names together once all are written, never over an existing file; a failure or
    // cancel leaves none.
    ConversionOutcome split(const ConversionJob& job, const ProgressCallback& progress, std::stop_token stop) const;
    // The full disk a split's part `failed` met, told with the whole split's need (the parts
    // written so far as they are — those `before` it, and those after it `made` in one run — the
    // rest by their spans) and the room once its parts are gone.
    ConversionError splitNeed(const ConversionError& error, const std::vector<ConversionJob>& parts,
                              const std::vector<StagedOutput>& before, const std::vector<std::optional<Staged>>& made,
                              size_t failed, double duration) const;
    // Joins the source and the additional sources, in order, into the destination in one run.
    ConversionOutcome merge(const ConversionJob& job, const ProgressCallback& progress, std::stop_token stop) const;
    // A source whose MPEG-4 pictures are packed, copied into another container, is copied from a
    // stand-in (FFmpegUnpacked.cpp): its streams in an AVI of their own, the pictures unpacked,
    // staged hidden beside `job`'s destination and removed when dropped. `writtenAfter`: what the
    // job writes from it, which a full disk's need counts too.
    StagedOutput unpacked(const ConversionJob& job, const std::filesystem::path& source, const MediaProbe& probe,
                          int64_t writtenAfter, const ProgressCallback& report, std::stop_token stop) const;
    // Whether `job`, from the source `probe` tells of, is made from a stand-in; notes in `probe`
    // whether its pictures are packed when it had not looked.
    bool needsStandIn(const ConversionJob& job, MediaProbe& probe, std::stop_token stop) const;
    // stage(), split() and merge() of `job` from stand-ins of its packed sources; none when
    // nothing of it is copied from one.
    Staged stageUnpacked(const ConversionJob& job, const MediaProbe& probe, const ProgressCallback& progress,
                         std::stop_token stop) const;
    std::optional<ConversionOutcome> splitUnpacked(const ConversionJob& job, MediaProbe probe,
                                                   const ProgressCallback& progress, std::stop_token stop) const;
    std::optional<ConversionOutcome> mergeUnpacked(const ConversionJob& job, std::vector<MediaProbe>& probes,
                                                   const ProgressCallback& progress, std::stop_token stop) const;
    // Whether ffmpeg has the encoders a re-encode of `job` needs (yes when they are not known).
    bool hasEncodersFor(const ConversionJob& job) const;
    // Throws unsupportedCombination when it has not.
    void requireEncodersFor(const ConversionJob& job) const;
    // The compress tool on a sound file, as SoundCompression plans it: re-encoded at a lower rate,
    // or left as it is (nothing written) with the reason, also when the re-encode came out no
    // smaller (FFmpegSoundCompress.cpp).
    ConversionOutcome compressSound(const ConversionJob& job, const ProgressCallback& progress,
                                    std::stop_token stop) const;
    ConversionOutcome convertDecodedImage(const ConversionJob& job, const ProgressCallback& progress,
                                          std::stop_token stop) const;

    BundledFFmpeg m_tools;
    std::shared_ptr<const MediaProbing> m_prober;
    std::shared_ptr<const FFmpegEncoderList> m_encoders;
    ImageDecoder m_imageDecoder;
    const FileManagerService* m_files;
    TemporaryFileManager m_temporary;
};

}  // namespace kolvex
