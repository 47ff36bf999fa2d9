// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/ErrorMapper.h"

#include <algorithm>
#include <cerrno>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/services/ByteCountFormatter.h"
#include "core/services/PathUtils.h"

namespace kolvex {

namespace fs = std::filesystem;
using Meaning = ErrorMapper::Meaning;

namespace {

// Tried in order: ffmpeg names the input before the output, so a damaged input that also fails
// to write is reported as damaged.
const std::vector<ErrorMapper::Phrase> kFFmpeg = {
    {{"invalid data found"}, Meaning::damagedSource},
    {{"moov atom not found"}, Meaning::damagedSource},
    // A picture's own header claims more pixels than its decoder may make.
    {{"exceeds specified max pixel count"}, Meaning::tooLarge},
    {{"permission denied"}, Meaning::permissionDenied},
    {{"no space left"}, Meaning::diskFull},
    {{"disk quota exceeded"}, Meaning::diskFull},
    {{"unknown encoder"}, Meaning::unknownEncoder},
    {{"encoder not found"}, Meaning::encoderNotFound},
    {{"decoder", "not found"}, Meaning::decoderNotFound},
    {{"could not find codec parameters"}, Meaning::damagedSource},
    {{"does not contain any stream"}, Meaning::damagedSource},
    {{"could not write header"}, Meaning::cannotWriteFormat},
    // An encoder that refuses the sound's channels: libopus a layout outside its orders, FLAC more
    // than eight channels, AAC a layout it has no place for.
    {{"channel layout"}, Meaning::channelLayout},
    {{"mapping family undefined"}, Meaning::channelLayout},
    {{"channels not supported"}, Meaning::channelLayout},
    {{"no such file or directory"}, Meaning::missingFile},
    {{"file name too long"}, Meaning::pathTooLong},
};

// libarchive's texts as bsdtar prints them. Encryption comes first: an encrypted entry also
// reads as damaged data.
const std::vector<ErrorMapper::Phrase> kBsdtar = {
    {{"passphrase"}, Meaning::passwordProtected},
    {{"encrypted"}, Meaning::passwordProtected},
    {{"decryption"}, Meaning::passwordProtected},
    {{"no space left"}, Meaning::diskFull},
    {{"disk quota exceeded"}, Meaning::diskFull},
    {{"write error"}, Meaning::writeFailed},  // a ZIP or 7-Zip writer says no more than this
    {{"path contains '..'"}, Meaning::unsafeEntry},
    {{"path is absolute"}, Meaning::unsafeEntry},
    {{"through symlink"}, Meaning::unsafeEntry},
    // A hard link to a file that the archive does not hold: bsdtar strips a leading "/" and
    // then finds nothing there. Extracted, it would have reached outside.
    {{"hard-link target", "does not exist"}, Meaning::unsafeEntry},
    {{"unrecognized archive format"}, Meaning::damagedSource},
    {{"truncated"}, Meaning::damagedSource},
    {{"too much data"}, Meaning::damagedSource},  // an entry longer than its header says
    {{"damaged"}, Meaning::damagedSource},
    {{"corrupt"}, Meaning::damagedSource},
    {{"permission denied"}, Meaning::permissionDenied},
    {{"no such file or directory"}, Meaning::missingFile},
    {{"file name too long"}, Meaning::pathTooLong},
};

// gzip, bzip2 and xz.
const std::vector<ErrorMapper::Phrase> kCompressor = {
    {{"no space left"}, Meaning::diskFull},
    {{"disk quota exceeded"}, Meaning::diskFull},
    {{"not in gzip format"}, Meaning::damagedSource},
    {{"crc error"}, Meaning::damagedSource},
    {{"invalid compressed data"}, Meaning::damagedSource},
    {{"unexpected end of"}, Meaning::damagedSource},         // gzip: "file"; xz: "input"
    {{"file ends unexpectedly"}, Meaning::damagedSource},    // bzip2
    {{"data integrity error"}, Meaning::damagedSource},      // bzip2
    {{"bad magic number"}, Meaning::damagedSource},          // bzip2
    {{"file format not recognized"}, Meaning::damagedSource},  // xz
    {{"compressed data is corrupt"}, Meaning::damagedSource},  // xz
    {{"permission denied"}, Meaning::permissionDenied},
    {{"no such file or directory"}, Meaning::missingFile},
    {{"file name too long"}, Meaning::pathTooLong},
};

// Less room than this left on the output's volume after a failed write: it was full.
constexpr int64_t kNearlyFull = int64_t{1} << 20;

// Opened without blocking, so a FIFO cannot hold the check; only a regular file passes. A FIFO,
// a device (a link to /dev/zero) or a socket would hang a reader, or never end.
bool canOpen(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    return regular;
}

bool folderExists(const fs::path& file) {
    std::error_code ec;
    return fs::is_directory(paths::deletingLastComponent(file), ec);
}

const char* engineOf(ErrorMapper::Program program) {
    return program == ErrorMapper::Program::ffmpeg ? "ffmpeg" : "archive";
}

}  // namespace

ErrorMapper::Subject::Subject(const ConversionJob& job)
    : sources(job.allSources()), destination(job.destination), fromLabel(job.from.label), toLabel(job.to.label) {}

ErrorMapper::Subject::Subject(fs::path destination, std::string engine)
    : destination(std::move(destination)), engine(std::move(engine)) {}

const std::vector<ErrorMapper::Phrase>& ErrorMapper::phrases(Program program) {
    switch (program) {
    case Program::ffmpeg: return kFFmpeg;
    case Program::bsdtar: return kBsdtar;
    case Program::compressor: return kCompressor;
    }
    return kFFmpeg;
}

std::optional<std::string> ErrorMapper::extract(std::string_view marker, std::string_view text) {
    const std::string lowered = paths::asciiLower(std::string(text));
    const size_t at = lowered.find(paths::asciiLower(std::string(marker)));
    if (at == std::string::npos) return std::nullopt;
    const std::string_view rest = text.substr(at + marker.size());
    static constexpr std::string_view kSeparators = " '\"\n";
    const size_t start = rest.find_first_not_of(kSeparators);
    if (start == std::string_view::npos) return std::nullopt;
    const size_t end = rest.find_first_of(kSeparators, start);
    return std::string(rest.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
}

std::optional<ConversionError> ErrorMapper::unreadableSource(const Subject& subject) {
    for (const auto& source : subject.sources)
        if (auto unreadable = unreadableSource(source)) return unreadable;
    return std::nullopt;
}

std::optional<ConversionError> ErrorMapper::unreadableSource(const fs::path& file) {
    if (!canOpen(file)) {
        // A file at a path the system will not take is not missing, nor damaged.
        if (!paths::withinSystemLimits(file)) return ConversionError::sourcePathTooLong(file);
        return ConversionError::unreadableInput(file);
    }
    return std::nullopt;
}

ConversionError ErrorMapper::diskFull(const Subject& subject, const FileManagerService& files,
                                      std::optional<int64_t> required) {
    const int64_t available = std::max<int64_t>(files.availableCapacity(subject.destination).value_or(0), 0);
    // Without the caller's need, only that it needed more than there was: what the job writes is
    // judged once its partial output is gone (settleDiskFull), not from its sources here.
    return ConversionError::insufficientDiskSpace(required ? *required : available + 1, available);
}

std::optional<ConversionError> ErrorMapper::fullVolume(const Subject& /*subject*/, const fs::path& partial,
                                                      const FileManagerService& files,
                                                      std::optional<int64_t> required) {
    const auto free = files.availableCapacity(partial);
    if (!free || *free >= kNearlyFull) return std::nullopt;
    // Free once the partial file is gone, read while whatever else filled the volume is there.
    const int64_t available = std::max<int64_t>(*free, 0) + files.allocatedSize(partial).value_or(0);
    return ConversionError::insufficientDiskSpace(required ? *required : available + 1, available);
}

std::optional<int64_t> ErrorMapper::recordedLength(const ConversionJob& job) {
    // Deflate makes at most about 1032 bytes of each byte it reads.
    constexpr int64_t kDeflateMostRatio = 1032;
    if (job.from.id.rawValue != "gzip" || !job.additionalSources.empty()) return std::nullopt;
    // A gzip member ends with its uncompressed size modulo 2^32, little-endian.
    const int fd = ::open(job.source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    unsigned char trailer[4] = {};
    const off_t end = ::lseek(fd, 0, SEEK_END);
    const bool read = end >= 18 && ::pread(fd, trailer, sizeof trailer, end - 4) == 4;
    ::close(fd);
    if (!read) return std::nullopt;
    const int64_t recorded = int64_t{trailer[0]} | int64_t{trailer[1]} << 8 | int64_t{trailer[2]} << 16 | int64_t{trailer[3]} << 24;
    // The figure is the length only when no figure 4 GiB more (or 8, …) is within what deflate
    // can make of the stream's size: a stream of 4.3 GiB says 0.3.
    const int64_t reach = static_cast<int64_t>(end) * kDeflateMostRatio;
    if (recorded + (int64_t{1} << 32) <= reach) return std::nullopt;
    return recorded;
}

int64_t ErrorMapper::estimatedNeed(const ConversionJob& job, const FileManagerService& files) {
    int64_t need = 0;
    for (const auto& source : job.allSources()) need += files.size(source).value_or(0);
    return std::max(need, recordedLength(job).value_or(0));
}

int64_t ErrorMapper::aboveInText(int64_t available) {
    const std::string shown = ByteCountFormatter::file(available);
    // The smallest count above `available` that reads differently: the texts grow with the count.
    int64_t low = available + 1;
    int64_t high = std::clamp<int64_t>(available, 1000, std::numeric_limits<int64_t>::max() / 2) * 2;
    while (low < high) {
        const int64_t middle = low + (high - low) / 2;
        if (ByteCountFormatter::file(middle) == shown) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

ConversionError ErrorMapper::settleDiskFull(const ConversionError& error, const ConversionJob& job,
                                            const FileManagerService& files, std::optional<int64_t> freeBefore) {
    if (error.kind() != ConversionError::Kind::insufficientDiskSpace) return error;
    // "Free" is what the volume has now that the job's partial output is gone: the room it had
    // when it filled the disk itself, what another writer left when that one filled it. Room
    // read off a volume that had just filled up is measured again; a room or limit measured
    // before writing stands unless less is free now.
    const auto freeNow = files.availableCapacity(job.destination);
    int64_t available = error.available();
    if (available < kNearlyFull) {
        available = freeNow ? *freeNow : freeBefore.value_or(available);
    } else if (freeNow) {
        available = std::min(available, *freeNow);
    }
    available = std::max<int64_t>(available, 0);
    // The need is what the job writes. An engine that measured or projected its output says so
    // (also below the room, when another writer filled the disk); one that only knew it did not
    // fit ("more than was free") leaves it to the sources' size, the stand-in for what a
    // conversion writes. A stream's recorded length is what it unpacks to.
    const int64_t own = error.required();
    const bool measured = own > 0 && own != error.available() + 1;
    int64_t need = std::max(measured ? own : estimatedNeed(job, files), recordedLength(job).value_or(0));
    // The room came back before the message (another writer freed what it held): the job's own
    // need still stands, with the room it met.
    if (measured && need > error.available() && need <= available) available = std::max<int64_t>(error.available(), 0);
    // The job did not fit: a need that would read as no more than is free says what is known,
    // the first figure above it, so the two never read the same.
    if (need <= available || ByteCountFormatter::file(need) == ByteCountFormatter::file(available))
        need = std::max(need, aboveInText(available));
    return ConversionError::insufficientDiskSpace(need, available);
}

ConversionError ErrorMapper::map(Program program, int32_t exitCode, std::string_view standardError,
                                 const Subject& subject, const FileManagerService& files) {
    const std::string text = paths::asciiLower(std::string(standardError));
    const auto matches = [&text](const Phrase& phrase) {
        return std::all_of(phrase.all.begin(), phrase.all.end(),
                           [&text](std::string_view part) { return text.find(part) != std::string::npos; });
    };
    const auto& table = phrases(program);
    const auto row = std::find_if(table.begin(), table.end(), matches);
    const auto fallback = [&] {
        return ConversionError::backendFailure(subject.engine.empty() ? engineOf(program) : subject.engine, exitCode,
                                               std::string(standardError));
    };
    // Whatever the program calls it, a source that cannot be opened is the cause.
    if (auto unreadable = unreadableSource(subject)) return *unreadable;
    if (row == table.end()) return fallback();
    // Only a job has a source to blame.
    const bool hasSource = !subject.sources.empty();
    const fs::path source = hasSource ? subject.sources.front() : fs::path();

    switch (row->meaning) {
    case Meaning::damagedSource: return hasSource ? ConversionError::corruptedInput(source) : fallback();
    case Meaning::tooLarge: return hasSource ? ConversionError::inputTooLarge(source) : fallback();
    case Meaning::missingFile:
        if (!folderExists(subject.destination)) return ConversionError::outputFolderMissing(subject.destination);
        return fallback();
    case Meaning::permissionDenied: return ConversionError::insufficientPermissions(subject.destination);
    case Meaning::pathTooLong: return ConversionError::outputPathTooLong(subject.destination);
    case Meaning::passwordProtected: return hasSource ? ConversionError::passwordProtected(source) : fallback();
    case Meaning::unsafeEntry: return hasSource ? ConversionError::unsafeArchiveEntry(source) : fallback();
    case Meaning::diskFull: return diskFull(subject, files);
    case Meaning::writeFailed: {
        const auto free = files.availableCapacity(subject.destination);
        return free && *free < kNearlyFull ? diskFull(subject, files) : fallback();
    }
    case Meaning::unknownEncoder:
        return ConversionError::unsupportedCodec(extract("unknown encoder", standardError).value_or(subject.toLabel));
    case Meaning::encoderNotFound: return ConversionError::unsupportedCodec(subject.toLabel);
    case Meaning::decoderNotFound: {
        // "Decoder (codec av1) not found for input stream": the codec is the word after "(codec ".
        if (auto name = extract("(codec ", standardError)) {
            while (!name->empty() && name->back() == ')') name->pop_back();
            if (!name->empty()) return ConversionError::unsupportedCodec(*name);
        }
        // "Decoder not found" names no codec at all.
        auto name = extract("decoder", standardError);
        if (name && paths::asciiLower(*name) == "not") name.reset();
        return ConversionError::unsupportedCodec(name.value_or("this codec"));
    }
    case Meaning::cannotWriteFormat: return ConversionError::unsupportedCombination(subject.fromLabel, subject.toLabel);
    case Meaning::channelLayout: {
        auto layout = extract("invalid channel layout", standardError);
        if (!layout) layout = extract("unsupported channel layout", standardError);
        if (layout) return ConversionError::unsupportedCombination(*layout + " sound", subject.toLabel);
        return ConversionError::unsupportedCombination("the channels of this " + subject.fromLabel, subject.toLabel);
    }
    }
    return fallback();
}

std::optional<ConversionError> ErrorMapper::fromSystemError(const std::error_code& code, const Subject& subject,
                                                            const FileManagerService& files) {
    if (code.category() != std::generic_category() && code.category() != std::system_category()) return std::nullopt;
    switch (code.value()) {
    case ENOSPC:
    case EDQUOT: return diskFull(subject, files);
    case ENOENT:
        if (auto unreadable = unreadableSource(subject)) return unreadable;
        if (!folderExists(subject.destination)) return ConversionError::outputFolderMissing(subject.destination);
        return std::nullopt;
    case EACCES:
    case EPERM:
    case EROFS:
        if (auto unreadable = unreadableSource(subject)) return unreadable;
        return ConversionError::insufficientPermissions(subject.destination);
    case ENAMETOOLONG:
        if (auto unreadable = unreadableSource(subject)) return unreadable;
        return ConversionError::outputPathTooLong(subject.destination);
    default: return std::nullopt;
    }
}

}  // namespace kolvex
