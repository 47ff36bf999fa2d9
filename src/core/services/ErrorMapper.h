// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/format/ConversionJob.h"
#include "core/services/FileManagerService.h"

namespace kolvex {

// Turns what went wrong outside our own code into the error the user sees: the standard error of
// a failed external program, read through a table of fixed phrases kept per program, and the
// system's error codes. One mapper, so a full disk, a missing file or a refused write reads the
// same whichever program or engine met it. Disk figures are real ones, measured through the
// given FileManagerService when the error is mapped.
//
// Pure apart from those measurements and a look at whether the job's sources can be opened;
// any thread.
class ErrorMapper {
public:
    enum class Program {
        ffmpeg,      // ffmpeg and ffprobe
        bsdtar,      // the archive program
        compressor,  // gzip, bzip2 and xz
    };

    // What a phrase on standard error means; turned into an error for the job at hand.
    enum class Meaning {
        damagedSource,
        tooLarge,           // a picture larger than its decoder may make
        missingFile,        // the source, or the output's folder, is not there
        passwordProtected,
        unsafeEntry,
        permissionDenied,   // the source cannot be opened, or the output cannot be written
        pathTooLong,        // the system refused a name or path as too long: the output's, as the source opened
        diskFull,
        writeFailed,        // no reason given: a full disk when the output's volume has no room
        unknownEncoder,     // the codec is named after the phrase
        encoderNotFound,
        decoderNotFound,    // the codec is named after "decoder"
        cannotWriteFormat,
        channelLayout,      // the encoder refuses the sound's channels; the layout may follow the phrase
    };

    // A row of a program's table: every phrase in `all` (lower-case) must occur.
    struct Phrase {
        std::vector<std::string_view> all;
        Meaning meaning;
    };

    // What the failed work was about: the job's sources, its output and its formats' labels.
    // Implicit from a job; work that is not a job (packaging a document) names its output.
    struct Subject {
        Subject(const ConversionJob& job);  // NOLINT: a job is the usual subject
        Subject(std::filesystem::path destination, std::string engine);
        std::vector<std::filesystem::path> sources;
        std::filesystem::path destination;
        std::string fromLabel, toLabel;
        // The engine a back-end failure names; empty: the one that runs the program.
        std::string engine;
    };

    // The program's rows, tried in order; the first that matches decides.
    static const std::vector<Phrase>& phrases(Program program);

    // The error for a failed run of `program`. A source that cannot be opened is the cause,
    // whatever the text says. The text is searched ignoring ASCII case and on raw bytes, so a
    // file name that is not UTF-8 never hides a phrase. Text that matches no row gives backendFailure with the exit code and the text unchanged, under the engine id
    // that runs the program ("ffmpeg", "archive").
    static ConversionError map(Program program, int32_t exitCode, std::string_view standardError,
                               const Subject& subject, const FileManagerService& files);

    // The error for a system error met while running `job`, when it says something the user
    // can act on: a full disk or quota (with real figures), a refused write, a missing source or
    // output folder, a name or path longer than the system allows. None for anything else.
    static std::optional<ConversionError> fromSystemError(const std::error_code& code, const Subject& subject,
                                                          const FileManagerService& files);

    // insufficientDiskSpace for `job`: `required` as the need when the caller knows it, else one
    // byte more than is free (the job's need is judged by settleDiskFull), and the free space of
    // the output's volume measured now.
    static ConversionError diskFull(const Subject& subject, const FileManagerService& files,
                                    std::optional<int64_t> required = std::nullopt);

    // For a write that failed without saying why (a library that reports no errno): a full disk
    // when the volume that holds `partial` has (almost) no room left, with `required` as the
    // need when the caller can estimate it, and as free what the volume has once `partial` is
    // gone. None while the volume has room: the failure then had another cause. Call it before
    // the partial file is removed.
    static std::optional<ConversionError> fullVolume(const Subject& subject, const std::filesystem::path& partial,
                                                     const FileManagerService& files,
                                                     std::optional<int64_t> required = std::nullopt);

    // The figures of a full disk told once the partial output is gone. Free: what the volume has
    // now (a room or limit measured before writing, when less; `freeBefore` when the volume
    // cannot be read). Need: the engine's own when it measured one (any figure but "one byte
    // more than was free"), else the job's estimate; never below a stream's recorded length;
    // and, as the job did not fit, never reading as no more than is free. Any other error is
    // returned unchanged.
    static ConversionError settleDiskFull(const ConversionError& error, const ConversionJob& job,
                                          const FileManagerService& files,
                                          std::optional<int64_t> freeBefore = std::nullopt);
    // The smallest byte count above `available` whose text differs from its text.
    static int64_t aboveInText(int64_t available);

    // What the job's output may need: the uncompressed size that a single gzip stream records
    // in its trailer, else the sources' size.
    static int64_t estimatedNeed(const ConversionJob& job, const FileManagerService& files);
    // The uncompressed size that a single gzip stream records in its trailer, where it can only
    // be the true one: the trailer holds it modulo 4 GiB, so a stream whose size could unpack to
    // 4 GiB more than it says tells nothing. None for anything else.
    static std::optional<int64_t> recordedLength(const ConversionJob& job);

    // unreadableInput naming the first of the job's sources that cannot be opened for reading
    // or is not a regular file (a FIFO, a device); none when they all are readable files.
    static std::optional<ConversionError> unreadableSource(const Subject& subject);
    // The same for one file, for reads outside a job (the tool sheets' previews): ask before a
    // library opens it, which would wait on a FIFO for ever. Never blocks.
    static std::optional<ConversionError> unreadableSource(const std::filesystem::path& file);

    // The first word after `marker` (found ignoring case) in `text`, with blanks, quotes and
    // line feeds as separators; none when the marker is absent or nothing follows it.
    static std::optional<std::string> extract(std::string_view marker, std::string_view text);
};

}  // namespace kolvex
