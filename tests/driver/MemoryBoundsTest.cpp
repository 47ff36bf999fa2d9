// SPDX-License-Identifier: GPL-3.0-or-later
// What a run costs in memory is bounded by the job, not by what a file's headers claim.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/BinaryFixtures.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

struct DriveRun {
    int exitCode = -1;
    long peakKilobytes = 0;  // the run's largest resident set, its children's included
    std::string output;
};

// Runs kolvex-drive in a child process and reads its peak memory from the kernel.
DriveRun runDrive(const std::vector<std::string>& arguments, const fs::path& outputFile) {
    std::vector<std::string> args{KOLVEX_DRIVE};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(out, 1);
        ::dup2(null, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    DriveRun run;
    int status = 0;
    struct rusage usage {};
    if (child > 0 && ::wait4(child, &status, 0, &usage) == child && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    run.peakKilobytes = usage.ru_maxrss;
    run.output = testing::readFile(outputFile);
    return run;
}

// How many files in `folder` end in `extension`.
size_t filesNamed(const fs::path& folder, const std::string& extension) {
    size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder)) count += entry.path().extension() == extension;
    return count;
}

// A tiny Matroska file whose picture header claims a 16000 × 16000 frame, and its container too
// unless `containerTells` is false: a PNG frame, which a decoder allocates (and clears) in full
// before its data proves short.

fs::path headerBomb(const testing::TempDir& dir, bool containerTells = true) {
    const fs::path small = testing::makeMedia(
        dir / "small.mkv", {"-f", "lavfi", "-i", "color=c=gray:size=256x256:rate=25", "-frames:v", "1", "-c:v", "png",
                            "-write_crc32", "0"});
    std::string bytes = testing::readFile(small);
    const auto patch = [&](const std::string& from, const std::string& to) {
        const auto at = bytes.find(from);
        if (at == std::string::npos || bytes.find(from, at + 1) != std::string::npos) return false;
        bytes.replace(at, from.size(), to);
        return true;
    };
    using namespace std::string_literals;
    // Matroska's PixelWidth and PixelHeight, 256 in two bytes, then the PNG header's.
    const bool container = !containerTells || (patch("\xB0\x82\x01\x00"s, "\xB0\x82\x3E\x80"s) &&
                                               patch("\xBA\x82\x01\x00"s, "\xBA\x82\x3E\x80"s));
    const bool picture = patch("IHDR\x00\x00\x01\x00\x00\x00\x01\x00"s, "IHDR\x00\x00\x3E\x80\x00\x00\x3E\x80"s);
    if (!container || !picture) return {};
    return dir.write(containerTells ? "claims 16000 squared.mkv" : "picture claims 16000 squared.mkv", bytes);
}

// The container's claim is refused by our own probe; a claim in the picture's header alone, which
// the probe cannot see, by the decoders of the ffmpeg program, held to the probe's limit. The
// peak counts the ffmpeg the run starts.
TEST(DriveMemory, AHeaderClaimingAHugeFrameIsRefusedBeforeItIsAllocated) {
    KOLVEX_REQUIRE_FFMPEG();
    for (const bool containerTells : {true, false}) {
        SCOPED_TRACE(containerTells ? "container and picture" : "picture alone");
        testing::TempDir dir;
        const fs::path bomb = headerBomb(dir, containerTells);
        ASSERT_FALSE(bomb.empty()) << "the fixture's headers were not where they were expected";
        ASSERT_LT(fs::file_size(bomb), 4096u);
        for (const std::string target : {"mp4", "gif"}) {
            const DriveRun run =
                runDrive({"--to", target, "--out", dir.path().string(), bomb.string()}, dir / "out.txt");
            EXPECT_EQ(run.exitCode, 1) << run.output;
            EXPECT_EQ(run.output.rfind("error\t", 0), 0u) << run.output;
            EXPECT_NE(run.output.find("corruptedInput"), std::string::npos) << target << ": " << run.output;
            // One 16000 × 16000 RGB frame alone is 768 MB; the run itself needs well under a
            // tenth (a sanitized build, with its shadow memory, somewhat more).
#if defined(__SANITIZE_ADDRESS__)
            constexpr long kBoundMegabytes = 600;
#else
            constexpr long kBoundMegabytes = 300;
#endif
            EXPECT_LT(run.peakKilobytes, kBoundMegabytes * 1024)
                << target << ": peak " << run.peakKilobytes / 1024 << " MB";
            EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3)
                << "nothing but the source, its origin and the report";
        }
    }
}

// Eight workers converting large photos at once would each hold the saver's copies of a whole
// picture (ImageMagick's BMP writer keeps about five): 1 GB for 12-megapixel photos. The pictures
// being converted share one working-memory budget instead, so a batch holds a few at a time.
TEST(DriveMemory, ABatchOfLargePhotosHoldsABoundedWorkingSet) {
    KOLVEX_REQUIRE_FFMPEG();
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer keeps freed memory in quarantine: resident size says nothing here";
#endif
    testing::TempDir dir;
    const fs::path photo = testing::makeMedia(
        dir / "photo.jpg", {"-f", "lavfi", "-i", "testsrc2=size=4000x3000,noise=alls=12:allf=u", "-frames:v", "1",
                            "-q:v", "3"});
    ASSERT_TRUE(fs::is_regular_file(photo));
    std::vector<std::string> arguments{"--processors", "8", "--to", "bmp", "--out", (dir / "out").string()};
    fs::create_directory(dir / "out");
    for (int i = 1; i <= 8; ++i) {
        const fs::path copy = dir / ("photo " + std::to_string(i) + ".jpg");
        fs::copy_file(photo, copy);
        arguments.push_back(copy.string());
    }
    const DriveRun run = runDrive(arguments, dir / "out.txt");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(filesNamed(dir / "out", ".bmp"), 8u);
    // The budget (ImageEngine::kWorkingMemoryLimit), and the program itself with its
    // libraries, with room to spare; eight pictures at once took 1 GB.
    constexpr long kBoundMegabytes = 768 + 128;
    EXPECT_LT(run.peakKilobytes, kBoundMegabytes * 1024) << "peak " << run.peakKilobytes / 1024 << " MB";
}

// A Letter-size PDF of a few pages of running text in Helvetica.
fs::path textPdf(const testing::TempDir& dir, const std::string& name, int pages) {
    std::vector<std::string> objects{"<< /Type /Catalog /Pages 2 0 R >>", "",
                                     "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
    std::string kids;
    for (int page = 1; page <= pages; ++page) {
        std::string content = "BT /F1 18 Tf 72 730 Td (Page " + std::to_string(page) + ") Tj ET\n";
        for (int y = 700; y > 60; y -= 14)
            content += "BT /F1 11 Tf 72 " + std::to_string(y) + " Td (The quick brown fox jumps over the lazy dog "
                       "while the survey goes on, line after line.) Tj ET\n";
        const size_t number = objects.size() + 1;
        kids += std::to_string(number) + " 0 R ";
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> "
                          "/Contents " + std::to_string(number + 1) + " 0 R >>");
        objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";
    return dir.write(name, testing::pdfFromObjects(objects));
}

// Documents rendered side by side free and allocate page bitmaps of a few megabytes on many
// threads. Freed into the allocator's arenas, they stayed resident: eight small documents held
// 580 MB. The pages in flight are bounded by the page budget, and so is what stays.
TEST(DriveMemory, SmallDocumentsRenderedSideBySideHoldNoMoreThanTheirPages) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator replaces the one whose blocks are set up here";
#endif
    testing::TempDir dir;
    fs::create_directory(dir / "out");
    std::vector<std::string> arguments{"--processors", "8", "--to", "png", "--out", (dir / "out").string()};
    for (int i = 1; i <= 8; ++i) arguments.push_back(textPdf(dir, "report " + std::to_string(i) + ".pdf", 3).string());
    const DriveRun run = runDrive(arguments, dir / "out.txt");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(filesNamed(dir / "out", ".png"), 24u);
    // The page budget (256 MB) and the program itself.
    constexpr long kBoundMegabytes = 256 + 64;
    EXPECT_LT(run.peakKilobytes, kBoundMegabytes * 1024) << "peak " << run.peakKilobytes / 1024 << " MB";
}

}  // namespace
}  // namespace kolvex
