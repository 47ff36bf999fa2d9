// SPDX-License-Identifier: GPL-3.0-or-later
// The contract every engine keeps with the coordinator and with the user's folders, run against
// each engine this build has: garbage ends in a ConversionError, a cancel leaves nothing, a file
// already at an output's name is never touched, and outputs come back complete and in order,
// with nothing else left beside them.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RealEngines.h"
#include "TestPdfFiles.h"
#include "core/services/Cancellation.h"
#include "core/services/ProcessRunner.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#ifdef KOLVEX_HAVE_DOCUMENT
#include "support/qt/QtEnvironments.h"
#endif

namespace kolvex::testing {
namespace {

namespace fs = std::filesystem;

#ifdef KOLVEX_HAVE_DOCUMENT
[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new GuiEnvironment("test-engine-contract"));
#endif

// The engines, assembled once.
const RealEngines& real() {
    static const RealEngines engines = RealEngines::assemble();
    return engines;
}

void writeText(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
}

// One engine's part in the contract: a good source, the job that converts it and the names its
// outputs take, in order. Each case converts a source named "<stem>.<from>" into `dir`.
struct ImageCase {
    static inline const EngineID engine = engine_ids::image;
    static constexpr const char* from = "png";
    static constexpr const char* to = "jpg";
    static std::optional<std::string> tool() { return std::nullopt; }
    static ConversionOptions options() { return ConversionOptions::defaults(); }
    static void makeSource(const fs::path& file) { makeClip(file, {.audio = false, .codecArguments = {"-frames:v", "1"}}); }
    static std::vector<std::string> outputs() { return {"out.jpg"}; }
};

struct PdfPagesCase {
    static inline const EngineID engine = engine_ids::pdf;
    static constexpr const char* from = "pdf";
    static constexpr const char* to = "png";
    static std::optional<std::string> tool() { return std::nullopt; }
    static ConversionOptions options() { return ConversionOptions::defaults(); }
    static void makeSource(const fs::path& file) { writeTestPdf(file, numberedPages(3)); }
    static std::vector<std::string> outputs() { return {"out-1.png", "out-2.png", "out-3.png"}; }
};

struct DocumentCase {
    static inline const EngineID engine = engine_ids::document;
    static constexpr const char* from = "md";
    static constexpr const char* to = "docx";
    static std::optional<std::string> tool() { return std::nullopt; }
    static ConversionOptions options() { return ConversionOptions::defaults(); }
    static void makeSource(const fs::path& file) { writeText(file, "# Title\n\nSome *styled* text.\n"); }
    static std::vector<std::string> outputs() { return {"out.docx"}; }
};

struct ArchiveCase {
    static inline const EngineID engine = engine_ids::archive;
    static constexpr const char* from = "zip";
    static constexpr const char* to = "zip";
    static std::optional<std::string> tool() { return "extract"; }
    static ConversionOptions options() { return ConversionOptions::defaults(); }
    static void makeSource(const fs::path& file) {
        TempDir contents;
        contents.write("a.txt", "first");
        contents.write("inner/b.txt", "second");
        const auto result = ProcessRunner().run("/usr/bin/bsdtar", {"--format=zip", "-cf", file.string(), "-C",
                                                                    contents.path().string(), "a.txt", "inner"},
                                                std::chrono::seconds(30), nullptr, nullptr);
        ASSERT_TRUE(result.succeeded()) << result.standardError();
    }
    // Extraction names the folder after the archive.
    static std::vector<std::string> outputs() { return {"source"}; }
};

struct AudioCase {
    static inline const EngineID engine = engine_ids::audio;
    static constexpr const char* from = "wav";
    static constexpr const char* to = "aiff";
    static std::optional<std::string> tool() { return std::nullopt; }
    static ConversionOptions options() { return ConversionOptions::defaults(); }
    static void makeSource(const fs::path& file) { makeClip(file, {.seconds = 2, .video = false}); }
    static std::vector<std::string> outputs() { return {"out.aiff"}; }
};

struct FFmpegSplitCase {
    static inline const EngineID engine = engine_ids::ffmpeg;
    static constexpr const char* from = "mp4";
    static constexpr const char* to = "mp4";
    static std::optional<std::string> tool() { return "split"; }
    static ConversionOptions options() {
        ConversionOptions options = ConversionOptions::defaults();
        options.splitPoints = {1.0, 2.0};
        return options;
    }
    static void makeSource(const fs::path& file) {
        makeClip(file, {.seconds = 3, .codecArguments = {"-c:v", "libx264", "-g", "5", "-c:a", "aac"}});
    }
    static std::vector<std::string> outputs() { return {"out part 1.mp4", "out part 2.mp4", "out part 3.mp4"}; }
};

template <class Case>
class EngineContract : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveFFmpeg()) GTEST_SKIP() << "ffmpeg is not installed: the sources are made with it";
        for (const auto& engine : real().engines) {
            if (engine->id() == Case::engine) m_engine = engine.get();
        }
        if (!m_engine) GTEST_SKIP() << "no " << Case::engine.rawValue << " engine in this build";
        m_source = m_dir / (std::string("source.") + Case::from);
    }

    ConversionJob job() const {
        const auto from = real().registry.format(FormatID(Case::from));
        const auto to = real().registry.format(FormatID(Case::to));
        EXPECT_TRUE(from && to);
        ConversionOptions options = Case::options();
        options.tool = Case::tool();
        const ConversionCapability capability{from->id, to->id, Case::engine, ConversionCost::inProcess, false};
        ConversionJob made(m_source, {}, m_dir / (std::string("out.") + Case::to), *from, *to, capability, options);
        EXPECT_TRUE(m_engine->canHandle(made)) << "the case's job is not one the engine takes";
        return made;
    }

    std::set<std::string> folder() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_dir.path())) names.insert(entry.path().filename().string());
        return names;
    }

    std::set<std::string> sourceOnly() const { return {m_source.filename().string()}; }

    TempDir m_dir;
    fs::path m_source;
    const ConversionEngine* m_engine = nullptr;
};

using Cases = ::testing::Types<ImageCase, PdfPagesCase, DocumentCase, ArchiveCase, AudioCase, FFmpegSplitCase>;

class CaseNames {
public:
    template <class T>
    static std::string GetName(int) {
        if (std::is_same_v<T, ImageCase>) return "image";
        if (std::is_same_v<T, PdfPagesCase>) return "pdfPages";
        if (std::is_same_v<T, DocumentCase>) return "document";
        if (std::is_same_v<T, ArchiveCase>) return "archiveExtract";
        if (std::is_same_v<T, AudioCase>) return "audio";
        return "ffmpegSplit";
    }
};

TYPED_TEST_SUITE(EngineContract, Cases, CaseNames);

TYPED_TEST(EngineContract, OutputsComeBackCompleteAndInOrder) {
    TypeParam::makeSource(this->m_source);
    const auto outputs = this->m_engine->convert(this->job(), [](double) {}, {});

    std::vector<fs::path> expected;
    for (const auto& name : TypeParam::outputs()) expected.push_back(this->m_dir / name);
    EXPECT_EQ(outputs, expected);
    for (const auto& output : outputs) {
        std::error_code ec;
        const bool filled = fs::is_directory(output, ec) ? !fs::is_empty(output, ec) : fs::file_size(output, ec) > 0;
        EXPECT_TRUE(filled && !ec) << output;
    }
    // Nothing else beside them: no hidden staging file, no placeholder.
    std::set<std::string> present = this->sourceOnly();
    for (const auto& name : TypeParam::outputs()) present.insert(name);
    EXPECT_EQ(this->folder(), present);
}

TYPED_TEST(EngineContract, GarbageEndsInAConversionErrorAndLeavesNothing) {
    writeText(this->m_source, std::string("this is not a ") + TypeParam::from + " file\n" + std::string(4096, '\x9c'));
    try {
        this->m_engine->convert(this->job(), [](double) {}, {});
        FAIL() << "garbage converted";
    } catch (const ConversionError&) {
    }
    EXPECT_EQ(this->folder(), this->sourceOnly());
}

TYPED_TEST(EngineContract, ACancelLeavesNothing) {
    TypeParam::makeSource(this->m_source);
    // Cancelled at the first progress report, as a user's click lands while the work is under way.
    std::stop_source stop;
    bool threw = false;
    try {
        this->m_engine->convert(this->job(), [&](double) { stop.request_stop(); }, stop.get_token());
    } catch (const OperationCancelled&) {
        threw = true;
    } catch (const ConversionError& error) {
        EXPECT_EQ(error, ConversionError::cancelled());
        threw = true;
    }
    EXPECT_TRUE(threw) << "the engine finished although it was cancelled";
    EXPECT_EQ(this->folder(), this->sourceOnly());
}

TYPED_TEST(EngineContract, AnExistingFileIsNeverTouched) {
    TypeParam::makeSource(this->m_source);
    // Someone else's file at the last output's name, taken after the job was planned.
    const fs::path taken = this->m_dir / TypeParam::outputs().back();
    writeText(taken, "someone else's");
    try {
        const auto outputs = this->m_engine->convert(this->job(), [](double) {}, {});
        // An engine that names its own outputs may move on to a free name.
        EXPECT_EQ(std::count(outputs.begin(), outputs.end(), taken), 0);
        for (const auto& output : outputs) fs::remove_all(output);
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::outputNameUnavailable) << error.shortDescription();
    }
    std::ifstream in(taken, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "someone else's");
    std::set<std::string> present = this->sourceOnly();
    present.insert(taken.filename().string());
    EXPECT_EQ(this->folder(), present) << "the job left something beside the files that were there";
}

// Planning hands each conversion of the shipped manifest to the engine it names: that engine
// must take the job, or the user is offered a target that can only fail.
TEST(ShippedConversions, EachIsOneItsEngineTakes) {
    const FormatRegistry& registry = real().registry;
    ASSERT_FALSE(registry.manifest().conversions.empty());
    for (const ConversionCapability& c : registry.manifest().conversions) {
        const std::string row = c.from.rawValue + "\u2192" + c.to.rawValue + " (" + c.engine.rawValue + ")";
        const auto engine = std::find_if(real().engines.begin(), real().engines.end(),
                                         [&](const auto& e) { return e->id() == c.engine; });
        if (engine == real().engines.end()) continue;  // not in this build
        const auto from = registry.format(c.from);
        const auto to = registry.format(c.to);
        ASSERT_TRUE(from && to) << row;
        const ConversionJob job("/in/source." + from->canonicalExtension(), {}, "/out/out." + to->canonicalExtension(),
                                *from, *to, c, ConversionOptions::defaults());
        EXPECT_TRUE((*engine)->canHandle(job)) << row;
    }
}

}  // namespace
}  // namespace kolvex::testing
