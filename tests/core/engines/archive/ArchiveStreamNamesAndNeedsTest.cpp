// SPDX-License-Identifier: GPL-3.0-or-later
// A compressed stream's output is named for what it holds (a tar keeps its ".tar"), and a disk
// too small for what a stream or a tar unpacks to says how much that really is.
#include <algorithm>
#include <fstream>
#include <map>
#include <random>

#include <gtest/gtest.h>

#include "ArchiveFixtures.h"
#include "core/format/FormatRegistry.h"
#include "core/services/OutputNaming.h"
#include "support/SmallVolume.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveEngineFiles;
using testing::ArchiveFixtures;

// The single-stream formats the manifest offers as targets: one compressed stream, no ".tar" in
// its extension. Each row needs the program that makes and reads such a stream.
struct StreamFormat {
    Format format;
    fs::path program;
};

std::vector<StreamFormat> streamFormats(const FormatRegistry& registry) {
    const std::map<std::string, fs::path> programs{
        {"gz", ArchiveFixtures::gzip}, {"bz2", ArchiveFixtures::bzip2}, {"xz", ArchiveFixtures::xz}};
    std::vector<StreamFormat> rows;
    for (const auto& format : registry.allFormats()) {
        const auto flags = ArchiveEngine::writeFlags(format);
        const bool compressed = std::any_of(flags.begin(), flags.end(), [](const std::string& flag) {
            return flag == "-z" || flag == "-j" || flag == "-J";
        });
        if (format.category != FormatCategory::archive || !compressed || format.extensions.front().find("tar") != std::string::npos)
            continue;
        const auto program = programs.find(format.extensions.front());
        EXPECT_NE(program, programs.end()) << "no program for the stream format " << format.id.rawValue;
        if (program != programs.end()) rows.push_back({format, program->second});
    }
    EXPECT_GE(rows.size(), 3u);
    return rows;
}

std::string compressed(const fs::path& program, const std::string& level, const fs::path& plain) {
    const auto result = ArchiveFixtures::run(program, {level, "-c", plain.string()});
    EXPECT_EQ(result.exitCode, 0) << result.standardErrorData;
    return result.standardOutputData;
}

// Text that compresses well, evenly from start to end.
std::string text(size_t bytes, unsigned seed) {
    static const char* words[] = {"alpha", "beta", "gamma", "delta", "omega", "kappa", "sigma", "theta"};
    std::mt19937 random(seed);
    std::string out;
    for (int line = 0; out.size() < bytes; ++line) {
        out += "line " + std::to_string(line) + ":";
        for (int i = 0; i < 10; ++i) out += std::string(" ") + words[random() % 8];
        out += '\n';
    }
    out.resize(bytes);
    return out;
}

// Lines that compress some twenty times over, evenly: a few megabytes of room, none of the
// compressed forms near it.
std::string log(int64_t bytes) {
    std::string out;
    for (int line = 0; static_cast<int64_t>(out.size()) < bytes; ++line)
        out += "line " + std::to_string(line) + ": the quick brown fox jumps over the lazy dog\n";
    out.resize(static_cast<size_t>(bytes));
    return out;
}

bool holdsTar(const std::string& plain) { return plain.size() > 262 && plain.compare(257, 5, "ustar") == 0; }

TEST_F(ArchiveEngineFiles, ACompressedStreamKeepsTheNameOfWhatItHolds) {
    const auto registry = FormatRegistry::loadBundled();
    const std::string data = text(200'000, 3);
    const fs::path plain = dir.write("plain/hello.txt", data);
    const fs::path tar = dir / "plain/hello-data.tar";
    ASSERT_EQ(ArchiveFixtures::run(ArchiveFixtures::bsdtar, {"--format=pax", "-cf", tar.string(), "-C", plain.parent_path().string(), "hello.txt"}).exitCode, 0);

    for (const auto& stream : streamFormats(registry)) {
        const std::string extension = stream.format.extensions.front();
        // Packed tighter than a repack makes it (the original is kept) and looser (it is redone).
        for (const std::string level : {"-9", "-1"}) {
            for (const bool tarInside : {true, false}) {
                const fs::path source = work / ((tarInside ? "hello-data.tar." : "hello.txt.") + extension);
                SCOPED_TRACE(source.filename().string() + " " + level);
                std::ofstream(source, std::ios::binary) << compressed(stream.program, level, tarInside ? tar : plain);
                // As the planner names it: the format the file is recognised as, a free name.
                const Format from = *registry.formatFor(source);
                const fs::path destination = OutputNaming::destination(
                    source, from.extensions.front(), work, [](const fs::path& p) { return fs::exists(p); });
                auto job = ArchiveFixtures::job(source, from.id.rawValue, destination, from.id.rawValue, "compress");
                job.from = job.to = from;
                const auto outputs = engine().convert(job, [](double) {}, {});
                ASSERT_EQ(outputs.size(), 1u);

                const auto unpacked = ArchiveFixtures::run(stream.program, {"-dc", outputs[0].string()});
                ASSERT_EQ(unpacked.exitCode, 0) << unpacked.standardErrorData;
                const std::string name = outputs[0].filename().string();
                const bool tarName = name.find(".tar.") != std::string::npos;
                // The name says what the stream holds, and a tar stays a tar.
                EXPECT_EQ(tarName, holdsTar(unpacked.standardOutputData)) << name;
                // A single file stays bare where a program writes bare streams (xz has none here).
                if (tarInside) {
                    EXPECT_TRUE(holdsTar(unpacked.standardOutputData)) << name;
                } else if (stream.format.id.rawValue != "xz") {
                    EXPECT_FALSE(holdsTar(unpacked.standardOutputData)) << name;
                }
                EXPECT_TRUE(name.ends_with("." + extension)) << name;
                const auto content = tarName ? ArchiveFixtures::run(ArchiveFixtures::bsdtar, {"-xOf", outputs[0].string()})
                                             : unpacked;
                EXPECT_TRUE(content.standardOutputData == data) << name;
                for (const auto& item : fs::directory_iterator(work)) fs::remove(item.path());
            }
        }
    }
    EXPECT_TRUE(scratchIsClean());
}

TEST_F(ArchiveEngineFiles, AVolumeTooSmallIsToldWhatTheArchiveUnpacksTo) {
    testing::SmallVolume volume(4 << 20);
    if (!volume.available()) GTEST_SKIP() << volume.whyNot();
    const auto registry = FormatRegistry::loadBundled();
    constexpr int64_t kText = 12 << 20;
    const fs::path plain = dir.write("plain/book.txt", log(kText));

    struct Row {
        fs::path source;
        Format from;
        std::optional<std::string> tool;
        Format to;
    };
    std::vector<Row> rows;
    // Every bare stream, extracted: the need is what it unpacks to, recorded or projected.
    for (const auto& stream : streamFormats(registry)) {
        const fs::path source = work / ("book.txt." + stream.format.extensions.front());
        std::ofstream(source, std::ios::binary) << compressed(stream.program, "-6", plain);
        rows.push_back({source, stream.format, std::string("extract"), stream.format});
        // And repacked as a plain tar, which is as large as the text.
        rows.push_back({source, stream.format, std::nullopt, *registry.format(FormatID("tar"))});
    }
    // A ZIP repacked as a plain tar: the tar is as large as the text.
    const fs::path zip = work / "book.zip";
    ASSERT_EQ(ArchiveFixtures::run(ArchiveFixtures::bsdtar, {"--format=zip", "-cf", zip.string(), "-C", plain.parent_path().string(), "book.txt"}).exitCode, 0);
    rows.push_back({zip, *registry.format(FormatID("zip")), std::nullopt, *registry.format(FormatID("tar"))});

    ArchiveEngine::Settings settings;
    settings.limits.pollInterval = std::chrono::milliseconds(5);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.source.filename().string() + " → " + row.tool.value_or(row.to.id.rawValue));
        auto job = ArchiveFixtures::job(row.source, row.from.id.rawValue, volume.path() / ("out." + row.to.extensions.front()),
                                        row.to.id.rawValue, row.tool);
        job.from = row.from;
        job.to = row.to;
        const auto error = failure(engine(settings), job);
        ASSERT_TRUE(error.has_value());
        ASSERT_EQ(error->kind(), ConversionError::Kind::insufficientDiskSpace) << error->what();
        // The text's size, give or take what the reading ahead of a projection hides; never the
        // compressed size nor the room itself.
        EXPECT_GE(error->required(), kText * 85 / 100) << error->shortDescription();
        EXPECT_LE(error->required(), kText * 3 / 2) << error->shortDescription();
        EXPECT_LE(error->available(), int64_t{4} << 20) << error->shortDescription();
        EXPECT_TRUE(testing::entriesOf(volume.path()).empty());
    }
    EXPECT_TRUE(scratchIsClean());

    // Unpacked on the output's own volume, the contents and the tar need room at once, out of
    // what was free before the job: not the tar alone out of what the contents left.
    const int64_t smallText = int64_t{5} << 19;
    const fs::path small = dir.write("small/small.txt", log(smallText));
    const fs::path smallZip = work / "small.zip";
    ASSERT_EQ(ArchiveFixtures::run(ArchiveFixtures::bsdtar, {"--format=zip", "-cf", smallZip.string(), "-C", small.parent_path().string(), "small.txt"}).exitCode, 0);
    const int64_t freeBefore = static_cast<int64_t>(fs::space(volume.path()).available);
    const ArchiveEngine shared(FileManagerService::shared(), TemporaryFileManager(volume.path() / "scratch"), settings);
    const auto error = failure(shared, ArchiveFixtures::job(smallZip, "zip", volume.path() / "small.tar", "tar"));
    ASSERT_TRUE(error.has_value());
    ASSERT_EQ(error->kind(), ConversionError::Kind::insufficientDiskSpace) << error->what();
    EXPECT_GE(error->required(), 2 * smallText) << error->shortDescription();
    EXPECT_EQ(error->available(), freeBefore) << error->shortDescription();
    for (const auto& item : fs::recursive_directory_iterator(volume.path()))
        EXPECT_TRUE(item.is_directory()) << item.path();
}

}  // namespace
}  // namespace kolvex
