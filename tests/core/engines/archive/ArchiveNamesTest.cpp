// SPDX-License-Identifier: GPL-3.0-or-later
// Names that are not UTF-8 (Latin-1, Shift-JIS, stray bytes) come through every archive format
// the manifest lets us write, and back out, as many files as went in: read by Python's zipfile
// and tarfile, by bsdtar and by our own Extract. An archive whose entries would unpack over each
// other is refused, never half kept. A ZIP that calls names UTF-8 that are not is read all the
// same.
#include <algorithm>
#include <fstream>
#include <map>

#include <gtest/gtest.h>

#include "ArchiveFixtures.h"
#include "core/format/FormatRegistry.h"
#include "core/services/Utf8.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveEngineFiles;
using testing::ArchiveFixtures;
using testing::TarBuilder;
using testing::ZipBuilder;

// Path (raw bytes) → contents.
using Files = std::map<std::string, std::string>;

// Every archive format the manifest offers that the engine writes.
std::vector<Format> writableArchiveFormats() {
    std::vector<Format> formats;
    for (const auto& format : FormatRegistry::loadBundled().allFormats())
        if (format.category == FormatCategory::archive && !ArchiveEngine::writeFlags(format).empty())
            formats.push_back(format);
    return formats;
}

ConversionJob jobFor(const fs::path& source, const Format& from, const fs::path& destination, const Format& to,
                     std::optional<std::string> tool = std::nullopt) {
    auto job = ArchiveFixtures::job(source, from.id.rawValue, destination, to.id.rawValue, std::move(tool));
    job.from = from;
    job.to = to;
    return job;
}

std::string hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

std::string unhex(std::string_view text) {
    std::string out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) out += static_cast<char>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16));
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// The regular members of a ZIP or tar (any compression) as Python's own modules read them: a
// ZIP name is UTF-8 when its entry says so and CP437 otherwise, as the format has it; a tar name
// is its bytes. The reader refusing the archive fails the run.
constexpr const char* kPythonReader = R"(
import sys, zipfile, tarfile
kind, path = sys.argv[1], sys.argv[2]
if kind == 'zip':
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            if info.is_dir(): continue
            raw = info.filename.encode('utf-8' if info.flag_bits & 0x800 else 'cp437')
            print(raw.hex(), z.read(info).hex())
else:
    with tarfile.open(path, encoding='utf-8', errors='surrogateescape') as t:
        for member in t.getmembers():
            if not member.isfile(): continue
            raw = member.name.encode('utf-8', 'surrogateescape')
            print(raw.hex(), t.extractfile(member).read().hex())
)";

Files readByPython(const std::string& kind, const fs::path& archive) {
    const auto result = ArchiveFixtures::run("/usr/bin/python3", {"-c", kPythonReader, kind, archive.string()});
    EXPECT_EQ(result.exitCode, 0) << "Python's " << kind << " module refused " << archive << ": " << result.standardErrorData;
    Files files;
    for (const auto& line : lines(result.standardOutputData)) {
        const size_t blank = line.find(' ');
        if (blank == std::string::npos) continue;
        std::string name = unhex(line.substr(0, blank));
        if (name.starts_with("./")) name.erase(0, 2);
        files[name] = unhex(line.substr(blank + 1));
    }
    return files;
}

Files readFolder(const fs::path& folder) {
    Files files;
    for (const auto& item : fs::recursive_directory_iterator(folder))
        if (item.is_regular_file()) files[item.path().lexically_relative(folder).string()] = testing::readFile(item.path());
    return files;
}

// bsdtar, in a UTF-8 locale as a user's session has: how many regular files it lists, and what
// it unpacks.
ProcessResult bsdtar(const std::vector<std::string>& arguments) {
    return ProcessRunner({"LC_ALL=C.UTF-8"}).run(ArchiveFixtures::bsdtar, arguments, std::chrono::seconds(120), {}, {});
}

size_t regularFilesListed(const fs::path& archive) {
    const auto result = bsdtar({"-tvf", archive.string()});
    EXPECT_EQ(result.exitCode, 0) << result.standardErrorData;
    const auto listed = lines(result.standardOutputData);
    return static_cast<size_t>(std::count_if(listed.begin(), listed.end(), [](const std::string& line) { return line.starts_with("-"); }));
}

// The same files, where the names may have been written anew (7-Zip cannot keep their bytes):
// every content once, under a UTF-8 name, a name per file.
void expectSameFilesRenamed(const Files& actual, const Files& expected) {
    EXPECT_EQ(actual.size(), expected.size());
    for (const auto& [name, data] : expected) {
        const auto found = std::count_if(actual.begin(), actual.end(), [&](const auto& entry) { return entry.second == data; });
        EXPECT_EQ(found, 1) << "the file " << hex(name) << " came out " << found << " times";
    }
    for (const auto& [name, data] : actual) EXPECT_TRUE(isValidUtf8(name)) << hex(name);
}

const Files& oddNames() {
    static const Files files = [] {
        const std::vector<std::string> names{
            "plain.txt",
            "caf\xC3\xA9-utf8.txt",
            "\xE6\x97\xA5\xE6\x9C\xAC.txt",                // 日本 in UTF-8
            "caf\xE9.txt",                                  // Latin-1
            "caf\xE8.txt",                                  // differs from the one above only in its odd byte
            "\xFF\xFE" "bad.txt",
            "\x93\xFA\x96\x7B.txt",                         // 日本 in Shift-JIS
            "r\xE9pertoire/inner.txt",                      // a folder named in Latin-1
            "r\xE8pertoire/inner.txt",
            "valid/\xE9t\xE9.txt",
            "valid/\xC3\xA9t\xC3\xA9.txt",
        };
        Files made;
        for (const auto& name : names) made[name] = "the file " + hex(name) + "\n";
        return made;
    }();
    return files;
}

TEST_F(ArchiveEngineFiles, NamesThatAreNotUtf8ComeThroughEveryFormatAndBack) {
    const auto registry = FormatRegistry::loadBundled();
    const auto targets = writableArchiveFormats();
    ASSERT_GE(targets.size(), 7u);

    TarBuilder tar;
    for (const auto& [name, data] : oddNames()) tar.file(name, data);
    const fs::path tarPath = dir.write("sources/odd.tar", tar.bytes());
    // A ZIP from a system that wrote its names in Latin-1, with no UTF-8 mark.
    const Files legacy{{"caf\xE9.txt", "first"}, {"caf\xE8.txt", "second"}, {"plain.txt", "third"}};
    ZipBuilder zip;
    for (const auto& [name, data] : legacy) zip.file(name, data);
    const fs::path zipPath = dir.write("sources/legacy.zip", zip.bytes());
    // And the ZIP we write ourselves, read again as a source (ZIP → TAR.GZ and the rest).
    const fs::path ownZip = dir / "sources/own.zip";
    ASSERT_EQ(engine().convert(jobFor(tarPath, *registry.format(FormatID("tar")), ownZip, *registry.format(FormatID("zip"))),
                               [](double) {}, {}),
              std::vector<fs::path>{ownZip});

    // A ZIP as bsdtar writes it under a UTF-8 locale: every name beyond ASCII marked as UTF-8,
    // valid or not. Neither bsdtar nor zipfile can read it as it is.
    for (const auto& [name, data] : oddNames()) dir.write("odd-tree/" + name, data);
    const fs::path markedZip = dir / "sources/marked.zip";
    ASSERT_EQ(bsdtar({"--format=zip", "-cf", markedZip.string(), "-C", (dir / "odd-tree").string(), "."}).exitCode, 0);
    ASSERT_NE(bsdtar({"-tf", markedZip.string()}).exitCode, 0) << "the fixture is readable as it is";

    struct Source {
        fs::path path;
        std::string format;
        const Files& files;
    };
    const Source sources[] = {{tarPath, "tar", oddNames()},
                              {zipPath, "zip", legacy},
                              {ownZip, "zip", oddNames()},
                              {markedZip, "zip", oddNames()}};
    for (const auto& source : sources) {
        for (const auto& to : targets) {
            SCOPED_TRACE(source.path.filename().string() + " → " + to.id.rawValue);
            const auto outcome = engine().convertReporting(
                jobFor(source.path, *registry.format(FormatID(source.format)), work / ("out." + to.extensions.front()), to),
                [](double) {}, {});
            ASSERT_EQ(outcome.outputs.size(), 1u);
            const fs::path output = outcome.outputs.front();
            const bool renames = to.id.rawValue == "7z";
            // The note says so exactly when names were written anew.
            EXPECT_EQ(outcome.note.has_value(), renames) << outcome.note.value_or("");

            // bsdtar lists every file.
            EXPECT_EQ(regularFilesListed(output), source.files.size());
            // An independent reader gets every name's bytes and every file's bytes.
            const std::string name = output.filename().string();
            if (name.ends_with(".zip")) {
                EXPECT_EQ(readByPython("zip", output), source.files);
            } else if (!renames) {
                EXPECT_EQ(readByPython("tar", output), source.files);
            } else {
                const fs::path unpacked = dir / "bsdtar-unpacked";
                fs::create_directories(unpacked);
                const auto result = bsdtar({"-xf", output.string(), "-C", unpacked.string()});
                EXPECT_EQ(result.exitCode, 0) << result.standardErrorData;
                expectSameFilesRenamed(readFolder(unpacked), source.files);
                fs::remove_all(unpacked);
            }
            // And so does our own Extract.
            const auto extracted = engine().convert(jobFor(output, to, work / "back", to, "extract"), [](double) {}, {});
            ASSERT_EQ(extracted.size(), 1u);
            if (renames) {
                expectSameFilesRenamed(readFolder(extracted.front()), source.files);
            } else {
                EXPECT_EQ(readFolder(extracted.front()), source.files);
            }
            fs::remove_all(extracted.front());
            fs::remove(output);
        }
    }
    EXPECT_TRUE(fs::is_empty(work));
    EXPECT_TRUE(scratchIsClean());
}

TEST_F(ArchiveEngineFiles, ALinkToARenamedNameStillLeadsToIt) {
    const auto registry = FormatRegistry::loadBundled();
    const fs::path tar = dir.write("sources/linked.tar", TarBuilder()
                                                           .file("caf\xE9/menu.txt", "soup")
                                                           .symlink("today", "caf\xE9/menu.txt")
                                                           .bytes());
    const auto sevenZip = engine().convert(jobFor(tar, *registry.format(FormatID("tar")), work / "linked.7z",
                                                  *registry.format(FormatID("7z"))),
                                           [](double) {}, {});
    ASSERT_EQ(sevenZip.size(), 1u);
    const auto folder = engine().convert(jobFor(sevenZip[0], *registry.format(FormatID("7z")), work / "linked",
                                                *registry.format(FormatID("zip")), "extract"),
                                         [](double) {}, {});
    ASSERT_EQ(folder.size(), 1u);
    ASSERT_TRUE(fs::is_symlink(folder[0] / "today"));
    EXPECT_EQ(testing::readFile(folder[0] / "today"), "soup") << fs::read_symlink(folder[0] / "today");
}

TEST_F(ArchiveEngineFiles, EntriesThatWouldUnpackOverEachOtherAreRefused) {
    const auto registry = FormatRegistry::loadBundled();
    // A 7-Zip archive where two names that were not UTF-8 became the same name.
    const fs::path folder = dir / "clashing";
    dir.write("clashing/caf\xE9.txt", "first");
    dir.write("clashing/caf\xE8.txt", "second");
    const fs::path sevenZip = dir / "sources/clash.7z";
    fs::create_directories(sevenZip.parent_path());
    ASSERT_EQ(bsdtar({"--format=7zip", "-cf", sevenZip.string(), "-C", folder.string(), "."}).exitCode, 0);
    const auto listed = lines(bsdtar({"-tf", sevenZip.string()}).standardOutputData);
    ASSERT_EQ(std::count(listed.begin(), listed.end(), "./caf\xEF\xBF\xBD.txt"), 2) << "the fixture has no clash";
    // A ZIP holding one name twice.
    const fs::path zip = dir.write("sources/twice.zip", ZipBuilder().file("a.txt", "first").file("a.txt", "second").bytes());

    for (const auto& [source, from] : {std::pair{sevenZip, "7z"}, std::pair{zip, "zip"}}) {
        std::vector<std::pair<std::optional<std::string>, Format>> jobs{{std::string("extract"), *registry.format(FormatID("zip"))}};
        for (const auto& to : writableArchiveFormats()) jobs.emplace_back(std::nullopt, to);
        for (const auto& [tool, to] : jobs) {
            SCOPED_TRACE(source.filename().string() + " → " + tool.value_or(to.id.rawValue));
            const auto error = failure(engine(), jobFor(source, *registry.format(FormatID(from)),
                                                        work / ("out." + to.extensions.front()), to, tool));
            ASSERT_TRUE(error.has_value());
            EXPECT_EQ(error->kind(), ConversionError::Kind::corruptedInput) << error->what();
            EXPECT_EQ(error->circumstance(), ConversionError::Circumstance::clashingEntries) << error->what();
            const std::string named = source == zip ? "a.txt" : "caf\xEF\xBF\xBD.txt";
            EXPECT_EQ(error->shortDescription(), source.filename().string() +
                                                     " holds two files that would both be unpacked as " + named);
            EXPECT_TRUE(fs::is_empty(work));
        }
    }
    EXPECT_TRUE(scratchIsClean());
}

}  // namespace
}  // namespace kolvex
