// SPDX-License-Identifier: GPL-3.0-or-later
#include "HostileCorpus.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "TestPdfFiles.h"
#include "core/services/ProcessRunner.h"
#include "support/BinaryFixtures.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"

namespace kolvex::testing {

namespace fs = std::filesystem;

namespace {

void writeBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("could not write " + file.string());
}

void runTool(const fs::path& program, const std::vector<std::string>& arguments) {
    const auto result = ProcessRunner().run(program, arguments, std::chrono::seconds(60), nullptr, nullptr);
    if (!result.succeeded()) throw std::runtime_error(program.string() + " failed: " + result.standardError());
}

void makePicture(const fs::path& destination) {
    makeMedia(destination, {"-f", "lavfi", "-i", "testsrc2=size=64x48", "-frames:v", "1"});
}

std::string pngChunk(const std::string& type, const std::string& data) {
    return bigEndian32(static_cast<uint32_t>(data.size())) + type + data + bigEndian32(crc32(type + data));
}

// The target each kind of source is converted to, and the engine that needs to be present.
struct Kind {
    std::string extension;
    std::string target;
    bool needsFFmpeg;
    bool needsDocuments;
};

const std::vector<Kind>& kinds() {
    static const std::vector<Kind> all = {
        {"png", "webp", false, false}, {"jpg", "png", false, false}, {"mp4", "mkv", true, false},
        {"wav", "m4a", false, false},  {"mp3", "wav", false, false}, {"pdf", "png", false, false},
        {"txt", "pdf", false, true},   {"zip", "tar", false, false},
    };
    return all;
}

}  // namespace

std::string pixelBombPng(uint32_t width, uint32_t height) {
    std::string header = bigEndian32(width) + bigEndian32(height);
    header += std::string{8, 2, 0, 0, 0};  // 8-bit RGB, no interlace
    // A deflate stream of a few empty rows: the body is tiny, only the header is enormous.
    const std::string body = {0x78, 0x01, 0x63, 0x60, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01};
    return std::string("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", body) + pngChunk("IEND", "");
}

std::map<std::string, fs::path> makeSeeds(const fs::path& folder, bool withFFmpeg) {
    fs::create_directories(folder);
    std::map<std::string, fs::path> seeds;
    seeds["png"] = folder / "seed.png";
    makePicture(seeds["png"]);
    seeds["jpg"] = folder / "seed.jpg";
    makePicture(seeds["jpg"]);
    if (withFFmpeg) {
        seeds["mp4"] = makeClip(folder / "seed.mp4", ClipSpec{.seconds = 0.4,
                                                              .codecArguments = {"-c:v", "libx264", "-pix_fmt", "yuv420p",
                                                                                 "-c:a", "aac"}});
    }
    seeds["wav"] = makeClip(folder / "seed.wav", ClipSpec{.seconds = 0.3, .video = false});
    seeds["mp3"] = makeClip(folder / "seed.mp3", ClipSpec{.seconds = 0.3, .video = false, .codecArguments = {"-c:a", "libmp3lame"}});
    seeds["pdf"] = folder / "seed.pdf";
    writeTestPdf(seeds["pdf"], {TestPage{.text = "Hostile page"}});
    seeds["txt"] = folder / "seed.txt";
    writeBytes(seeds["txt"], "A short note.\n\nIt has two paragraphs, and \xC3\xBCnicode.\n");
    seeds["zip"] = folder / "seed.zip";
    runTool("/usr/bin/bsdtar", {"--format=zip", "-cf", seeds["zip"].string(), "-C", folder.string(), "seed.txt"});
    return seeds;
}

std::vector<CorpusFile> makeHostileCorpus(const fs::path& folder, bool withFFmpeg, bool withDocuments) {
    const fs::path seedFolder = folder.parent_path() / (folder.filename().string() + "-seeds");
    const auto seeds = makeSeeds(seedFolder, withFFmpeg);
    fs::create_directories(folder);
    std::vector<CorpusFile> corpus;
    auto add = [&](const std::string& name, const std::string& bytes, const std::string& target, Expectation expectation) {
        writeBytes(folder / name, bytes);
        corpus.push_back({folder / name, target, expectation});
    };

    for (const Kind& kind : kinds()) {
        if ((kind.needsFFmpeg && !withFFmpeg) || (kind.needsDocuments && !withDocuments)) continue;
        const std::string sound = readFile(seeds.at(kind.extension));
        const std::string& ext = kind.extension;
        add("sound." + ext, sound, kind.target, Expectation::succeeds);
        add("truncated." + ext, sound.substr(0, sound.size() / 2), kind.target,
            ext == "txt" ? Expectation::succeeds : Expectation::either);
        std::string corrupt = sound;
        for (size_t i = corrupt.size() / 8; i < corrupt.size(); i += 7) corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5A);
        add("corrupt." + ext, corrupt, kind.target, Expectation::either);
        // An empty text is still a text; an empty picture, clip or archive is nothing.
        add("empty." + ext, "", kind.target, ext == "txt" ? Expectation::either : Expectation::fails);
        if (ext != "txt") {
            std::string text;
            for (int i = 0; i < 40; ++i) text += "This is a plain text file, not what its name says.\n";
            add("text-as." + ext, text, kind.target, Expectation::fails);
        }
    }

    add("bomb.png", pixelBombPng(100'000, 100'000), "webp", Expectation::fails);
    add("wide-bomb.png", pixelBombPng(0x7FFFFFFF, 1), "jpg", Expectation::fails);

    // Sound files whose names a shell or an option parser would take for something else.
    const std::vector<std::pair<std::string, std::string>> awkward = {
        {"-i.", withFFmpeg ? "mp4" : "png"},
        {"a\nb.", withFFmpeg ? "mp4" : "wav"},
        {"it's \"quoted\".", "jpg"},
        {"\xC3\x9Cn\xC3\xAF" "c\xC3\xB8" "d\xC3\xA9 \xE5\x86\x99\xE7\x9C\x9F.", "png"},
        {"$(touch pwned) `id`.", "wav"},
        {" spaced  out .", "mp3"},
        {"--help.", "pdf"},
    };
    for (const auto& [stem, ext] : awkward) {
        for (const Kind& kind : kinds()) {
            if (kind.extension == ext) add(stem + ext, readFile(seeds.at(ext)), kind.target, Expectation::succeeds);
        }
    }
    fs::remove_all(seedFolder);
    return corpus;
}

FolderSnapshot FolderSnapshot::of(const fs::path& folder) {
    FolderSnapshot snapshot;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        Item item;
        const auto status = it->symlink_status();
        item.isDirectory = fs::is_directory(status);
        if (fs::is_regular_file(status)) {
            const std::string bytes = readFile(it->path());
            item.size = bytes.size();
            uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a
            for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
            item.contentHash = hash;
        }
        snapshot.items[it->path()] = item;
    }
    return snapshot;
}

std::optional<std::string> outputProblem(const fs::path& file, const std::string& formatID) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(file, ec))) return "not a file";
    const std::string bytes = readFile(file);
    if (bytes.empty()) return "empty";
    auto at = [&](size_t offset, std::string_view magic) { return bytes.compare(offset, magic.size(), magic) == 0; };
    bool ok = true;
    if (formatID == "png") ok = at(0, "\x89PNG");
    else if (formatID == "webp") ok = at(0, "RIFF") && at(8, "WEBP");
    else if (formatID == "jpg") ok = at(0, "\xFF\xD8\xFF");
    else if (formatID == "mkv" || formatID == "webm") ok = at(0, "\x1A\x45\xDF\xA3");
    else if (formatID == "m4a" || formatID == "mp4" || formatID == "mov") ok = at(4, "ftyp");
    else if (formatID == "wav") ok = at(0, "RIFF") && at(8, "WAVE");
    else if (formatID == "pdf") ok = at(0, "%PDF-") && bytes.find("%%EOF") != std::string::npos;
    else if (formatID == "tar") ok = bytes.size() >= 512 && at(257, "ustar");
    else if (formatID == "zip") ok = at(0, "PK\x03\x04");
    if (!ok) return "does not start like a " + formatID + " file";
    return std::nullopt;
}

}  // namespace kolvex::testing
