// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "core/conversion/ConversionEngine.h"
#include "core/engines/archive/ArchiveSurvey.h"
#include "core/engines/archive/ExtractionGuard.h"
#include "core/engines/archive/SingleStream.h"
#include "core/services/FileManagerService.h"
#include "core/services/TemporaryFileManager.h"

namespace kolvex {

// Converts archives between formats and runs the archive tools "extract" (unpack into a new
// folder beside the output) and "compress" (repack). libarchive first reads what the archive
// declares: an encrypted archive is refused at once, and one that declares more than the volume
// holds is refused before anything is written. bsdtar then reads every archive format and writes
// ZIP, 7-Zip and tar-based formats; gzip and bzip2 write single-file streams; a bare stream of
// one file (.gz, .bz2, .xz), which bsdtar cannot read, is decoded in process. Programs run with
// argument vectors, no terminal and stdin from /dev/null. bsdtar's safe defaults stay on (never
// -P): entries with "..", absolute paths and paths through symlinks are refused or kept inside
// the folder; links that lead outside the unpacked tree and special files are dropped. Unpacking
// is watched so that an archive that would fill the disk, or writes more than it declared, is
// stopped and its folder removed.
//
// Stateless between jobs: convert() may run on several worker threads at once.
class ArchiveEngine final : public ConversionEngine {
public:
    // Where the programs are and how long a tar run may take; tests point these elsewhere.
    struct Settings {
        std::filesystem::path tar = "/usr/bin/bsdtar";
        std::filesystem::path gzip = "/usr/bin/gzip";
        std::filesystem::path bzip2 = "/usr/bin/bzip2";
        std::chrono::duration<double> tarTimeout{600};
        ExtractionGuard::Limits limits;
    };

    ArchiveEngine(const FileManagerService& files, TemporaryFileManager temporary);
    ArchiveEngine(const FileManagerService& files, TemporaryFileManager temporary, Settings settings);

    static const std::set<std::string>& supportedTools();

    EngineID id() const override { return m_id; }
    // False when the tar program is missing. With a tool: an archive source and a supported tool.
    // Without: archive to archive, with write flags for the target.
    bool canHandle(const ConversionJob& job) const override;
    // Leaves the room check before the job to the coordinator: what an archive declares is
    // checked here too (ensureRoom), but an archive that declares nothing has no other check
    // before it is unpacked, and an unpacking writes at least what the source holds.
    bool checksRoom(const ConversionJob&) const override { return false; }
    // "extract" returns the new folder (the one file, for a bare stream); anything else the
    // written archive. Throws
    // ConversionError, ProcessRunnerError (program missing, launch failure, time-out) unchanged,
    // or OperationCancelled; a new folder or partial archive is removed first.
    std::vector<std::filesystem::path> convert(const ConversionJob& job, const ProgressCallback& progress,
                                               std::stop_token stop) const override;
    // convert(), with a note when entries had to be left out (links leading outside the
    // archive, special files) or names had to be escaped for the target (bytes that are not
    // UTF-8, which 7-Zip cannot store).
    ConversionOutcome convertReporting(const ConversionJob& job, const ProgressCallback& progress,
                                       std::stop_token stop) const override;

    // The tar options that select the output format; empty when the target cannot be written.
    static std::vector<std::string> writeFlags(const Format& target);
    // The stream program for a single-file target ("gzip" → gzip, "bz2" → bzip2) when it is an
    // executable file at its standard place; none otherwise ("xz" always gives a tar stream).
    static std::optional<std::filesystem::path> singleStreamTool(const Format& target);
    // photos.gz → photos.tar.gz; a name already ending in .tar before its extension stays. A
    // "compress" whose tar came out no smaller keeps the source's bytes, and with them its own
    // kind of name (the planned destination, photos.xz), never the tar's.
    static std::filesystem::path taredName(const std::filesystem::path& destination);
    // The regular files below a folder, in enumeration order: hidden entries, anything under a
    // "__MACOSX" folder and symlinks are left out. None when the folder cannot be read.
    static std::vector<std::filesystem::path> regularFiles(const std::filesystem::path& folder);
    // Removes what an unpacked tree must not hold: links that lead outside it (followed as the
    // system would) and special files (devices, FIFOs, sockets). Returns how many it removed.
    static int dropUnsafeEntries(const std::filesystem::path& folder);

private:
    // What a job had to change on the way, for its note.
    struct Findings {
        int dropped = 0;                   // entries left out
        std::vector<std::string> escaped;  // names written anew because the format cannot hold their bytes
    };

    // `archive`: what is unpacked, the job's source or a readable copy of it.
    std::vector<std::filesystem::path> extract(const ConversionJob& job, const ArchiveSurvey& survey,
                                               const std::filesystem::path& archive, const ProgressCallback& progress, std::stop_token stop,
                                               Findings& findings) const;
    std::vector<std::filesystem::path> repack(const ConversionJob& job, const ArchiveSurvey& survey,
                                              const std::filesystem::path& archive, const ProgressCallback& progress, std::stop_token stop,
                                              Findings& findings) const;
    // Throws insufficientDiskSpace before anything is written when a single stream records a
    // length that, with the reserve, does not fit on the volume of `folder`.
    void refuseStreamBeyondRoom(const ConversionJob& job, const ArchiveSurvey& survey,
                                const std::filesystem::path& folder) const;
    // Throws insufficientDiskSpace, with the figures, when what the archive declares and the
    // reserve the guard keeps do not fit on the volume of `folder`.
    void ensureRoom(const ArchiveSurvey& survey, const std::filesystem::path& folder) const;
    // Runs `work` while the extraction guard watches the volume of `folder`; a trip stops it
    // and throws the guard's error.
    // A full disk met while a bare stream unpacks (`meter` follows it) needs what the whole
    // stream is projected to unpack to.
    void guarded(const ConversionJob& job, const ArchiveSurvey& survey, const std::filesystem::path& folder,
                 const std::function<void(std::stop_token)>& work, std::stop_token stop,
                 const SingleStream::Meter* meter = nullptr) const;
    // Unpacks `archive` (the job's source, or a readable copy of it) into `folder` under the
    // extraction guard, then drops what must not stay; returns how many entries were dropped.
    int unpack(const ConversionJob& job, const ArchiveSurvey& survey, const std::filesystem::path& archive,
               const std::filesystem::path& folder,
               const std::vector<std::string>& extraFlags, std::stop_token stop) const;
    // Compresses one file with gzip or bzip2 and installs the stream at the destination.
    std::filesystem::path writeSingleStream(const ConversionJob& job, const std::filesystem::path& file,
                                            const std::filesystem::path& program,
                                            const std::filesystem::path& scratch, std::stop_token stop) const;
    static std::optional<std::filesystem::path> streamProgram(const Format& target, const Settings& settings);
    // Runs tar; a nonzero exit throws what the error mapper makes of its standard error.
    void run(const std::vector<std::string>& arguments, const ConversionJob& job, std::stop_token stop) const;

    EngineID m_id;
    const FileManagerService* m_files;
    TemporaryFileManager m_temporary;
    Settings m_settings;
};

}  // namespace kolvex
