// SPDX-License-Identifier: GPL-3.0-or-later
// Long names and folders near the system's path limit, through every kind of job: each row runs
// the driver in a child process and is judged by what it says, by what it leaves in the folder
// and in $TMPDIR, and by reading its outputs back with programs that are not ours.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <future>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/services/FolderTree.h"
#include "core/services/ProcessRunner.h"
#include "core/services/UniqueFd.h"
#include "core/services/Utf8.h"
#include "support/BinaryFixtures.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

constexpr size_t kPathMax = 4095;  // the longest path the system takes, in bytes
constexpr size_t kNameMax = 255;

enum class Reader { picture, pdf, media, tar, docx, folder };

struct Job {
    std::string label;
    std::string fixture;  // a file of the fixtures folder, which gives the source its extension
    std::vector<std::string> arguments;
    std::string extension;  // of every output; empty for a folder
    size_t outputs;
    Reader reader;
    bool sameLength;  // one output whose name is no longer than the source's
};

enum class Depth { shallow, nearLimit, beyondLimit };

struct Row {
    const Job* job;
    std::string name;  // the source's name, bytes
    Depth depth;
    bool twice;  // run again, with the first output's name taken
    std::string label() const {
        static const char* depths[] = {"shallow", "near the limit", "beyond the limit"};
        return job->label + ", a " + std::to_string(name.size()) + "-byte name" +
               (isValidUtf8(name) ? "" : " (not UTF-8)") + ", " + depths[static_cast<int>(depth)] + (twice ? ", twice" : "");
    }
};

// Stems of `bytes` bytes: ASCII, characters of two, three and four bytes in turn, and bytes that
// are no UTF-8 at all.
std::vector<std::string> stems(size_t bytes) {
    std::string ascii(bytes, 'a');
    std::string mixed;
    const char* characters[] = {"\xC3\xA9", "\xE8\xAA\x9E", "\xF0\x9F\x98\x80"};
    for (int i = 0; mixed.size() + std::string(characters[i % 3]).size() <= bytes; ++i) mixed += characters[i % 3];
    mixed.append(bytes - mixed.size(), 'a');
    std::string invalid;
    for (size_t i = 0; i < bytes; ++i) invalid += static_cast<char>(i % 2 ? 0xFE : 0xFF);
    return {ascii, mixed, invalid};
}

// Makes, below `root`, a folder whose path is `length` bytes long, a name of at most 200 bytes at
// a time through descriptors: no shell could go that deep. Returns it open, and its path in `path`.
UniqueFd deepFolder(const fs::path& root, size_t length, std::string& path) {
    UniqueFd folder(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    path = root.string();
    while (path.size() < length) {
        size_t name = std::min<size_t>(200, length - path.size() - 1);
        if (length - path.size() - 1 - name == 1) --name;  // a last name of nothing cannot be made
        const std::string component(name, 'd');
        if (::mkdirat(folder.get(), component.c_str(), 0755) != 0) return UniqueFd();
        folder = UniqueFd(::openat(folder.get(), component.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        path += "/" + component;
    }
    return folder;
}

std::set<std::string> entries(int folder) {
    std::set<std::string> names;
    DIR* listing = ::fdopendir(::dup(folder));
    if (!listing) return names;
    ::rewinddir(listing);
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.insert(name);
    }
    ::closedir(listing);
    return names;
}

std::string readAt(int folder, const std::string& name) {
    UniqueFd file(::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC));
    std::string bytes;
    char buffer[65536];
    ssize_t got = 0;
    while (file && (got = ::read(file.get(), buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<size_t>(got));
    return bytes;
}

bool writeAt(int folder, const std::string& name, const std::string& bytes) {
    UniqueFd file(::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    return file && ::write(file.get(), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

// Whether a program that is not ours reads the output back (copied to a short path first: the
// judge must not depend on a reader's own path limits).
std::string readBack(const Job& job, int folder, const std::string& name, const fs::path& scratch,
                     const std::string& fixtureText) {
    const ProcessRunner runner;
    const auto run = [&](const std::string& program, std::vector<std::string> arguments) {
        return runner.run("/usr/bin/" + program, arguments, std::chrono::seconds(60), nullptr, nullptr);
    };
    if (job.reader == Reader::folder) {
        UniqueFd made(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!made) return "the output is no folder";
        return readAt(made.get(), "a.txt") == fixtureText ? "" : "the folder does not hold the archive's file";
    }
    const fs::path copy = scratch / ("copy." + job.extension);
    fs::remove(copy);
    {
        UniqueFd out(::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        const std::string bytes = readAt(folder, name);
        if (bytes.empty() || ::write(out.get(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            return "the output is empty or cannot be read";
    }
    switch (job.reader) {
    case Reader::picture: return run("vipsheader", {copy.string()}).exitCode == 0 ? "" : "vipsheader refuses it";
    case Reader::pdf: return run("pdfinfo", {copy.string()}).exitCode == 0 ? "" : "pdfinfo refuses it";
    case Reader::media: {
        const auto decoded = run("ffmpeg", {"-v", "error", "-i", copy.string(), "-f", "null", "-"});
        return decoded.exitCode == 0 ? "" : "ffmpeg cannot decode it";
    }
    case Reader::tar:
    case Reader::docx: {
        const auto listed = run("bsdtar", {"-tf", copy.string()});
        const std::string wanted = job.reader == Reader::tar ? "a.txt" : "word/document.xml";
        return listed.exitCode == 0 && listed.standardOutput().find(wanted) != std::string::npos ? "" : "bsdtar lists no " + wanted;
    }
    case Reader::folder: break;
    }
    return "";
}

// Everything left in $TMPDIR other than the scratch root and its record folder, both empty.
std::vector<std::string> leftInTemporary(const fs::path& tmp) {
    std::vector<std::string> left;
    folder_tree::visit(tmp, [&](const fs::path& item, const struct stat& info) {
        const std::string name = item.filename().string();
        const bool ours = S_ISDIR(info.st_mode) && (name.starts_with("Kolvex-") || name == ".in-progress");
        if (!ours) left.push_back(item.string());
    });
    return left;
}

struct Fixtures {
    fs::path folder;
    std::string text;
};

// What is wrong with one row; empty when it is sound.
std::string judge(const Row& row, const Fixtures& fixtures, const fs::path& base, int index) {
    const Job& job = *row.job;
    const fs::path rowRoot = base / std::to_string(index);
    const fs::path tmp = rowRoot / "tmp";
    const fs::path scratch = rowRoot / "judge";
    fs::create_directories(tmp);
    fs::create_directories(scratch);
    // Qt makes a runtime folder in $TMPDIR unless it is given one that only this user can enter.
    fs::create_directories(rowRoot / "run");
    fs::permissions(rowRoot / "run", fs::perms::owner_all);
    fs::create_directories(rowRoot / "at");
    const fs::path at = rowRoot / "at";
    const std::string extension = fs::path(job.fixture).extension().string();
    const std::string name = row.name + extension;
    const size_t sourceLength = row.depth == Depth::shallow ? at.string().size() + 1 + name.size()
                                : row.depth == Depth::nearLimit ? kPathMax
                                                                : kPathMax + 100;
    std::string folderPath;
    const UniqueFd folder = deepFolder(at, sourceLength - name.size() - 1, folderPath);
    if (!folder) return "could not make the folder";
    if (!writeAt(folder.get(), name, testing::readFile(fixtures.folder / job.fixture))) return "could not place the source";
    const std::string source = folderPath + "/" + name;

    std::vector<std::string> arguments = job.arguments;
    arguments.push_back(source);
    const ProcessRunner runner({"TMPDIR=" + tmp.string(), "XDG_RUNTIME_DIR=" + (rowRoot / "run").string(),
                                "XDG_CONFIG_HOME=" + (rowRoot / "run").string()});
    const auto drive = [&] { return runner.run(KOLVEX_DRIVE, arguments, std::chrono::seconds(120), nullptr, nullptr); };

    std::map<std::string, struct stat> first;
    if (row.twice) {
        drive();
        for (const auto& entry : entries(folder.get())) {
            struct stat info {};
            ::fstatat(folder.get(), entry.c_str(), &info, AT_SYMLINK_NOFOLLOW);
            first[entry] = info;
        }
    }
    const auto before = entries(folder.get());
    const ProcessResult result = drive();
    const std::string out = result.standardOutputData;
    std::vector<std::string> made;
    for (const auto& entry : entries(folder.get()))
        if (!before.contains(entry)) made.push_back(entry);

    std::string fault;
    const auto fail = [&fault](const std::string& why) {
        if (fault.empty()) fault = why;
    };
    for (const auto& [entry, info] : first) {
        struct stat now {};
        if (::fstatat(folder.get(), entry.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_ino != info.st_ino ||
            now.st_size != info.st_size)
            fail("an item that was there before changed: " + entry);
    }
    if (out.starts_with("ok\t")) {
        if (row.depth == Depth::beyondLimit) fail("a source beyond the limit was converted");
        if (made.size() != job.outputs) fail(std::to_string(made.size()) + " new items, not " + std::to_string(job.outputs));
        for (const auto& output : made) {
            if (output.size() > kNameMax) fail("an output name of " + std::to_string(output.size()) + " bytes");
            if (isValidUtf8(row.name) && !isValidUtf8(output)) fail("an output name cut inside a character");
            if (output.front() == '.') fail("a hidden item left: " + output);
            if (!job.extension.empty() && !output.ends_with("." + job.extension)) fail("the extension was lost: " + output);
            if (const std::string unread = readBack(job, folder.get(), output, scratch, fixtures.text); !unread.empty())
                fail(unread);
        }
    } else if (out.starts_with("error\t")) {
        const std::string message = out.substr(0, out.find('\n'));
        if (message.find("longer than the system allows") == std::string::npos) fail("refused without naming the limit");
        if (row.depth == Depth::shallow) fail("refused in a shallow folder");
        if (row.depth == Depth::nearLimit && job.sameLength && !row.twice && row.name.size() >= 100)
            fail("refused, though the output is no longer than the source");
        if (!made.empty()) fail("a refused job left " + made.front());
    } else {
        fail("exit " + std::to_string(result.exitCode) + ": " + result.standardErrorData.substr(0, 300));
    }
    if (const auto left = leftInTemporary(tmp); !left.empty()) fail("left in $TMPDIR: " + left.front());
    if (!fault.empty()) fault += "\n    " + out.substr(0, 400);
    folder_tree::remove(rowRoot);
    return fault;
}

TEST(LongPaths, EveryJobTakesLongNamesAndDeepFoldersOrNamesTheLimit) {
    KOLVEX_REQUIRE_FFMPEG();
    testing::TempDir dir;
    Fixtures fixtures{dir / "fixtures", "a line of text\n"};
    fs::create_directories(fixtures.folder);
    testing::makeMedia(fixtures.folder / "a.png", {"-f", "lavfi", "-i", "color=c=red:size=16x16", "-frames:v", "1"});
    testing::makeMedia(fixtures.folder / "a.wav", {"-f", "lavfi", "-i", "sine=duration=0.5"});
    testing::makeMedia(fixtures.folder / "a.mp4", {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=10:duration=2",
                                                   "-c:v", "libx264", "-g", "5", "-pix_fmt", "yuv420p"});
    dir.write("fixtures/a.txt", fixtures.text);
    std::vector<std::string> pages = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>"};
    for (int page = 0; page < 2; ++page) pages.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>");
    dir.write("fixtures/a.pdf", testing::pdfFromObjects(pages));
    const auto zipped = ProcessRunner().run("/usr/bin/bsdtar", {"--format=zip", "-cf", (fixtures.folder / "a.zip").string(), "-C",
                                                                 fixtures.folder.string(), "a.txt"},
                                            std::chrono::seconds(30), nullptr, nullptr);
    ASSERT_EQ(zipped.exitCode, 0);

    // Every kind of job: in process (pictures, documents, PDFs), through ffmpeg, through bsdtar,
    // through ImageMagick (ICO), with one output, several, or a folder.
    const std::vector<Job> jobs = {
        {"picture", "a.png", {"--to", "jpg"}, "jpg", 1, Reader::picture, true},
        {"icon", "a.png", {"--to", "ico"}, "ico", 1, Reader::picture, true},
        {"document", "a.txt", {"--to", "pdf"}, "pdf", 1, Reader::pdf, true},
        {"document, longer extension", "a.txt", {"--to", "docx"}, "docx", 1, Reader::docx, false},
        {"sound", "a.wav", {"--to", "mp3"}, "mp3", 1, Reader::media, true},
        {"video split", "a.mp4", {"--tool", "split", "--set", "splitPoints=1"}, "mp4", 2, Reader::media, false},
        {"archive", "a.zip", {"--to", "tar"}, "tar", 1, Reader::tar, true},
        {"extraction", "a.zip", {"--tool", "extract"}, "", 1, Reader::folder, false},
        {"PDF split", "a.pdf", {"--tool", "split"}, "pdf", 2, Reader::pdf, false},
        {"PDF pages", "a.pdf", {"--to", "png"}, "png", 2, Reader::picture, false},
    };
    std::vector<std::string> names = {"s"};
    for (const size_t bytes : {200, 251}) {
        for (auto& stem : stems(bytes)) names.push_back(stem);
    }
    std::vector<Row> rows;
    for (const auto& job : jobs) {
        for (const auto& name : names) {
            for (const Depth depth : {Depth::shallow, Depth::nearLimit, Depth::beyondLimit}) {
                rows.push_back({&job, name, depth, false});
                if (depth != Depth::beyondLimit) rows.push_back({&job, name, depth, true});
            }
        }
    }

    // Three rows at a time: each is a child process of its own.
    std::vector<std::string> faults(rows.size());
    std::vector<std::future<void>> workers;
    for (size_t worker = 0; worker < 3; ++worker) {
        workers.push_back(std::async(std::launch::async, [&, worker] {
            for (size_t i = worker; i < rows.size(); i += 3) faults[i] = judge(rows[i], fixtures, dir.path(), static_cast<int>(i));
        }));
    }
    for (auto& worker : workers) worker.get();
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_TRUE(faults[i].empty()) << rows[i].label() << ": " << faults[i];
}

}  // namespace
}  // namespace kolvex
