// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/services/ErrorMapper.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>

#include <gtest/gtest.h>

#include "core/services/ByteCountFormatter.h"
#include "core/services/PathUtils.h"
#include "support/FixedCapacityFiles.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using Program = ErrorMapper::Program;

using FixedDisk = testing::FixedCapacityFiles;

Format format(const std::string& id, const std::string& label) {
    Format result;
    result.id = FormatID(id);
    result.label = label;
    result.extensions = {id};
    return result;
}

// A job whose source holds 5000 bytes and whose output folder exists.
struct Job {
    testing::TempDir dir;
    ConversionJob job;
    Job()
        : job(dir.write("in.mkv", std::string(5000, 'x')), {}, dir / "out.mp4", format("mkv", "MKV"),
              format("mp4", "MP4"), ConversionCapability{}, ConversionOptions::defaults()) {}
};

TEST(ErrorMapper, EachProgramsPhrasesGiveTheSameErrors) {
    Job fixture;
    const auto& job = fixture.job;
    const FixedDisk disk(1000);
    const auto damaged = ConversionError::corruptedInput(job.source);
    const auto refused = ConversionError::insufficientPermissions(job.destination);
    // More than was free: what the job writes is judged once it is over (settleDiskFull).
    const auto full = ConversionError::insufficientDiskSpace(1001, 1000);
    // The system refused the output's name or path as too long: the limit is named, not a failure.
    const auto tooLong = ConversionError::outputPathTooLong(job.destination);
    struct Row {
        Program program;
        std::string text;
        ConversionError expected;
    };
    const Row rows[] = {
        // ffmpeg, in rule order.
        {Program::ffmpeg, "in.mkv: Invalid data found when processing input", damaged},
        {Program::ffmpeg, "moov atom not found", damaged},
        {Program::ffmpeg,
         "[png @ 0x5623e8c36cc0] [IMGUTILS @ 0x7ffd27d977a0] Picture size 16000x16000 exceeds specified max pixel "
         "count 67108864, see the documentation if you wish to increase it\nError while decoding stream #0:0: "
         "Invalid argument\nCannot determine format of input stream 0:0 after EOF",
         ConversionError::inputTooLarge(job.source)},
        {Program::ffmpeg, "Error: Permission denied", refused},
        {Program::ffmpeg, "Invalid data found\npermission denied", damaged},
        {Program::ffmpeg, "av_interleaved_write_frame(): No space left on device", full},
        {Program::ffmpeg, "Unknown encoder 'libfoo'", ConversionError::unsupportedCodec("libfoo")},
        {Program::ffmpeg, "Unknown encoder", ConversionError::unsupportedCodec("MP4")},
        {Program::ffmpeg, "Encoder not found", ConversionError::unsupportedCodec("MP4")},
        {Program::ffmpeg, "Decoder (codec av1) not found for input stream #0:0", ConversionError::unsupportedCodec("av1")},
        {Program::ffmpeg, "Decoder 'xyz' not found", ConversionError::unsupportedCodec("xyz")},
        {Program::ffmpeg, "decoder not found", ConversionError::unsupportedCodec("this codec")},
        {Program::ffmpeg, "decoder trouble; could not find codec parameters", damaged},
        {Program::ffmpeg, "Output file #0 does not contain any stream", damaged},
        {Program::ffmpeg, "Could not write header for output file", ConversionError::unsupportedCombination("MKV", "MP4")},
        // An encoder that refuses the sound's channels, as libopus, FLAC and AAC say it.
        {Program::ffmpeg,
         "[libopus @ 0x55] Invalid channel layout 5.1(side) for specified mapping family -1.\nError initializing "
         "output stream 0:0 -- Error while opening encoder for output stream #0:0",
         ConversionError::unsupportedCombination("5.1(side) sound", "MP4")},
        {Program::ffmpeg, "[aac @ 0x56] Unsupported channel layout \"22.2\"", ConversionError::unsupportedCombination("22.2 sound", "MP4")},
        {Program::ffmpeg, "[flac @ 0x56] 24 channels not supported (max 8)",
         ConversionError::unsupportedCombination("the channels of this MKV", "MP4")},
        {Program::ffmpeg, "out.mp4: File name too long", tooLong},
        {Program::ffmpeg, "Something Else Broke", ConversionError::backendFailure("ffmpeg", 1, "Something Else Broke")},
        {Program::ffmpeg, "", ConversionError::backendFailure("ffmpeg", 1, "")},
        // bsdtar
        {Program::bsdtar, "bsdtar: Error opening archive: Unrecognized archive format", damaged},
        {Program::bsdtar, "bsdtar: Truncated input file (needed 512 bytes, only 0 available)", damaged},
        {Program::bsdtar, "x.txt: Passphrase required for this entry", ConversionError::passwordProtected(job.source)},
        {Program::bsdtar, "Encrypted file is unsupported\nDamaged archive", ConversionError::passwordProtected(job.source)},
        {Program::bsdtar, "../evil: Path contains '..'", ConversionError::unsafeArchiveEntry(job.source)},
        {Program::bsdtar, "/etc/x: Path is absolute", ConversionError::unsafeArchiveEntry(job.source)},
        {Program::bsdtar, "a/b: Cannot extract through symlink a", ConversionError::unsafeArchiveEntry(job.source)},
        // A hard link to "/etc/passwd", its "/" taken off: nothing in the archive is there.
        {Program::bsdtar,
         "bsdtar: Removing leading '/' from member names\nlink.txt: Hard-link target 'etc/passwd' does not exist.: "
         "No such file or directory\nbsdtar: Error exit delayed from previous errors.",
         ConversionError::unsafeArchiveEntry(job.source)},
        {Program::bsdtar, "big.bin: Write failed: No space left on device", full},
        {Program::bsdtar, "x: Can't create 'x': Permission denied", refused},
        {Program::bsdtar, "bsdtar: Failed to open 'x.tar': File name too long", tooLong},
        {Program::bsdtar, "odd", ConversionError::backendFailure("archive", 1, "odd")},
        // gzip, bzip2, xz
        {Program::compressor, "gzip: stdin: not in gzip format", damaged},
        {Program::compressor, "gzip: stdin: unexpected end of file", damaged},
        {Program::compressor, "bzip2: Data integrity error when decompressing.", damaged},
        {Program::compressor, "xz: (stdin): File format not recognized", damaged},
        {Program::compressor, "xz: (stdin): Compressed data is corrupt", damaged},
        {Program::compressor, "gzip: stdout: No space left on device", full},
        {Program::compressor, "gzip: x.gz: File name too long", tooLong},
    };
    for (const auto& row : rows) {
        const auto error = ErrorMapper::map(row.program, 1, row.text, job, disk);
        EXPECT_EQ(error, row.expected) << row.text << " gave " << error.what();
    }
}

TEST(ErrorMapper, SaysWhichFileIsMissingOrUnreadable) {
    Job fixture;
    const FixedDisk disk(1000);
    auto job = fixture.job;
    // A source that went away is not damaged, whatever the program calls it.
    job.source = fixture.dir / "gone.mkv";
    for (const auto program : {Program::ffmpeg, Program::bsdtar, Program::compressor}) {
        for (const char* text : {"gone.mkv: No such file or directory", "Invalid data found", "Permission denied",
                                 "Unrecognized archive format", "not in gzip format"}) {
            const auto error = ErrorMapper::map(program, 1, text, job, disk);
            EXPECT_EQ(error, ConversionError::unreadableInput(job.source)) << text << " gave " << error.what();
        }
    }
    EXPECT_EQ(ErrorMapper::fromSystemError(std::make_error_code(std::errc::no_such_file_or_directory), job, disk),
              ConversionError::unreadableInput(job.source));

    // A source at a path longer than the system takes is neither missing nor damaged.
    job.source = fixture.dir.path();
    for (int level = 0; level < 21; ++level) job.source /= std::string(200, 'd');
    job.source /= "in.mkv";
    EXPECT_EQ(ErrorMapper::map(Program::ffmpeg, 1, "in.mkv: File name too long", job, disk),
              ConversionError::sourcePathTooLong(job.source));
    EXPECT_EQ(ErrorMapper::unreadableSource(job)->shortDescription(),
              "in.mkv is at a path longer than the system allows (4095 bytes)");

    // An output folder that went away.
    job = fixture.job;
    job.destination = fixture.dir / "vanished" / "out.mp4";
    EXPECT_EQ(ErrorMapper::map(Program::ffmpeg, 1, "out.mp4: No such file or directory", job, disk),
              ConversionError::outputFolderMissing(job.destination));
    EXPECT_EQ(ErrorMapper::fromSystemError(std::error_code(ENOENT, std::system_category()), job, disk),
              ConversionError::outputFolderMissing(job.destination));
}

TEST(ErrorMapper, SystemErrorsReadLikeProgramErrors) {
    Job fixture;
    const auto& job = fixture.job;
    const FixedDisk disk(1000);
    EXPECT_EQ(ErrorMapper::fromSystemError(std::error_code(ENOSPC, std::generic_category()), job, disk),
              ErrorMapper::map(Program::bsdtar, 1, "No space left on device", job, disk));
    // Only that it needed more than there was: what the job writes is judged once it is over.
    EXPECT_EQ(ErrorMapper::fromSystemError(std::error_code(EDQUOT, std::system_category()), job, disk),
              ConversionError::insufficientDiskSpace(1001, 1000));
    EXPECT_EQ(ErrorMapper::fromSystemError(std::error_code(EACCES, std::system_category()), job, disk),
              ConversionError::insufficientPermissions(job.destination));
    EXPECT_EQ(ErrorMapper::fromSystemError(std::error_code(EIO, std::system_category()), job, disk), std::nullopt);
    const auto tooLong = ErrorMapper::fromSystemError(std::error_code(ENAMETOOLONG, std::generic_category()), job, disk);
    EXPECT_EQ(tooLong, ConversionError::outputPathTooLong(job.destination));
    EXPECT_EQ(tooLong->shortDescription(),
              paths::lastComponent(job.destination) + " needs a path longer than the system allows (4095 bytes)");
    EXPECT_EQ(ConversionError::outputPathTooLong(job.destination.parent_path() / (std::string(256, 'n') + ".mp4"))
                  .shortDescription(),
              std::string(256, 'n') + ".mp4 would have a name longer than the system allows (255 bytes)");

    // Room given back after the failure never reads as "needs less than is free".
    const FixedDisk roomy(1'000'000);
    const auto full = ErrorMapper::diskFull(job, roomy);
    EXPECT_GT(full.required(), full.available());
    EXPECT_EQ(full.available(), 1'000'000);
    EXPECT_EQ(ErrorMapper::diskFull(job, disk, 123'456).required(), 123'456);
}

TEST(ErrorMapper, WorkThatIsNotAJobNamesItsOutputAndEngine) {
    testing::TempDir dir;
    const FixedDisk disk(1000);
    const ErrorMapper::Subject packaging(dir / "letter.docx", "document");
    EXPECT_EQ(ErrorMapper::map(Program::bsdtar, 1, "Write failed: No space left on device", packaging, disk),
              ConversionError::insufficientDiskSpace(1001, 1000));
    EXPECT_EQ(ErrorMapper::map(Program::bsdtar, 1, "Can't create: Permission denied", packaging, disk),
              ConversionError::insufficientPermissions(dir / "letter.docx"));
    // A bare "Write error" is a full disk only when the volume has no room left.
    EXPECT_EQ(ErrorMapper::map(Program::bsdtar, 1, "bsdtar: Write error", packaging, disk),
              ConversionError::insufficientDiskSpace(1001, 1000));
    EXPECT_EQ(ErrorMapper::map(Program::bsdtar, 1, "bsdtar: Write error", packaging, FixedDisk(int64_t{1} << 30)),
              ConversionError::backendFailure("document", 1, "bsdtar: Write error"));
    // Nothing to call damaged or locked without a source.
    for (const char* text : {"Truncated input", "Passphrase required", "odd"})
        EXPECT_EQ(ErrorMapper::map(Program::bsdtar, 2, text, packaging, disk),
                  ConversionError::backendFailure("document", 2, text));
}

TEST(ErrorMapper, OnlyRegularFilesAreReadable) {
    testing::TempDir dir;
    const fs::path fifo = dir / "clip.mp4";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path device = dir / "song.wav";
    fs::create_symlink("/dev/zero", device);
    const fs::path folder = dir / "folder.pdf";
    fs::create_directory(folder);
    const fs::path file = dir.write("real.pdf", "%PDF-1.4");
    for (const fs::path& source : {fifo, device, folder}) {
        const ErrorMapper::Subject subject(dir / "out.png", "pdf");
        ErrorMapper::Subject reading = subject;
        reading.sources = {file, source};
        const auto error = ErrorMapper::unreadableSource(reading);
        ASSERT_TRUE(error) << source;
        EXPECT_EQ(*error, ConversionError::unreadableInput(source));
        EXPECT_EQ(error->shortDescription(), "Can't read " + source.filename().string());
    }
    ErrorMapper::Subject readable(dir / "out.png", "pdf");
    readable.sources = {file, fs::path(dir / "link.pdf")};
    fs::create_symlink(file, dir / "link.pdf");
    EXPECT_EQ(ErrorMapper::unreadableSource(readable), std::nullopt);
}

TEST(ErrorMapper, AFullDiskIsToldWithTheRoomFreeOnceThePartialFileIsGone) {
    Job fixture;
    auto job = fixture.job;
    const auto full = ConversionError::insufficientDiskSpace(1, 0);  // measured while the partial file was there
    // The room is back: what is free now, and a need above it that reads differently ("2 MB",
    // "2.1 MB"), since the job did not fit.
    auto settled = ErrorMapper::settleDiskFull(full, job, FixedDisk(2'000'000));
    EXPECT_EQ(settled.available(), 2'000'000);
    EXPECT_EQ(settled.required(), 2'050'000);
    EXPECT_NE(ByteCountFormatter::file(settled.required()), ByteCountFormatter::file(settled.available()));
    // A need the engine knew, or the job's own, is kept when it is larger.
    settled = ErrorMapper::settleDiskFull(ConversionError::insufficientDiskSpace(9'000'000, 0), job, FixedDisk(1000));
    EXPECT_EQ(settled, ConversionError::insufficientDiskSpace(9'000'000, 1000));
    EXPECT_EQ(ErrorMapper::settleDiskFull(full, job, FixedDisk(1000)), ConversionError::insufficientDiskSpace(5000, 1000));
    // Unknown now: the room measured before the write.
    EXPECT_EQ(ErrorMapper::settleDiskFull(full, job, FixedDisk(std::nullopt), 3000),
              ConversionError::insufficientDiskSpace(5000, 3000));
    // Figures of a check made before writing, and other errors, pass unchanged.
    const auto checked = ConversionError::insufficientDiskSpace(int64_t{10} << 30, int64_t{8} << 30);
    EXPECT_EQ(ErrorMapper::settleDiskFull(checked, job, FixedDisk(int64_t{50} << 30)), checked);
    // A check's room stands when as much is free now; its need never reads as the room does.
    EXPECT_EQ(ErrorMapper::settleDiskFull(ConversionError::insufficientDiskSpace(2'000'001, 2'000'000), job,
                                          FixedDisk(int64_t{50} << 30)),
              ConversionError::insufficientDiskSpace(2'050'000, 2'000'000));
    // Another writer filled the volume after the room was measured: what is free now, and the
    // need the engine measured, though below the room there was.
    EXPECT_EQ(ErrorMapper::settleDiskFull(ConversionError::insufficientDiskSpace(3'500'000, 104'900'000), job,
                                          FixedDisk(4096)),
              ConversionError::insufficientDiskSpace(3'500'000, 4096));
    // The other writer freed its room before the message: the need the engine measured, with the
    // room the job met, never a need made up above what is free now.
    EXPECT_EQ(ErrorMapper::settleDiskFull(ConversionError::insufficientDiskSpace(362'000'000, 4096), job,
                                          FixedDisk(419'400'000)),
              ConversionError::insufficientDiskSpace(362'000'000, 4096));
    const auto damaged = ConversionError::corruptedInput(job.source);
    EXPECT_EQ(ErrorMapper::settleDiskFull(damaged, job, FixedDisk(0)), damaged);
    // A need the engine measured beyond the room stands, even below the sources' size: a WebP
    // made from a larger JPEG needs what the WebP takes.
    EXPECT_EQ(ErrorMapper::settleDiskFull(ConversionError::insufficientDiskSpace(3000, 0), job, FixedDisk(1000)),
              ConversionError::insufficientDiskSpace(3000, 1000));

    // A single gzip stream needs what its trailer records, not its own size.
    std::string gz(100, '\0');
    gz[0] = '\x1f';
    gz[1] = '\x8b';
    const uint32_t recorded = 7'654'321;
    for (int i = 0; i < 4; ++i) gz[96 + i] = static_cast<char>((recorded >> (8 * i)) & 0xFF);
    job.source = fixture.dir.write("words.gz", gz);
    job.from = format("gzip", "GZIP");
    EXPECT_EQ(ErrorMapper::estimatedNeed(job, FixedDisk(0)), 7'654'321);
    EXPECT_EQ(ErrorMapper::settleDiskFull(full, job, FixedDisk(1000)).required(), 7'654'321);
    EXPECT_EQ(ErrorMapper::settleDiskFull(ConversionError::insufficientDiskSpace(2'000'001, 2'000'000), job,
                                          FixedDisk(1000)),
              ConversionError::insufficientDiskSpace(7'654'321, 1000));
    // The trailer holds the length modulo 4 GiB: a stream large enough to unpack to 4 GiB more
    // than it says (a file of 4.3 GiB says 0.3) says nothing, and its own size stands.
    std::string large(5'000'000, '\x55');
    large.replace(0, 2, "\x1f\x8b");
    const uint32_t wrapped = 367'000'000;
    for (int i = 0; i < 4; ++i) large[large.size() - 4 + i] = static_cast<char>((wrapped >> (8 * i)) & 0xFF);
    job.source = fixture.dir.write("large.gz", large);
    EXPECT_EQ(ErrorMapper::recordedLength(job), std::nullopt);
    EXPECT_EQ(ErrorMapper::estimatedNeed(job, FixedDisk(0)), 5'000'000);
    job.from = format("zip", "ZIP");
    job.source = fixture.dir / "words.gz";
    EXPECT_EQ(ErrorMapper::estimatedNeed(job, FixedDisk(0)), 100);
}

TEST(ErrorMapper, ExtractsTheWordAfterAMarker) {
    EXPECT_EQ(ErrorMapper::extract("unknown encoder", "Unknown encoder 'libx265'\n"), "libx265");
    EXPECT_EQ(ErrorMapper::extract("unknown encoder", "x UNKNOWN ENCODER \"a b\""), "a");
    EXPECT_EQ(ErrorMapper::extract("unknown encoder", "Unknown encoder  ' \n"), std::nullopt);
    EXPECT_EQ(ErrorMapper::extract("missing", "text"), std::nullopt);
}

}  // namespace
}  // namespace kolvex
