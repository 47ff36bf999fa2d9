// SPDX-License-Identifier: GPL-3.0-or-later
// The tray's own wiring without a display: the engines behind their module proxies, the
// coordinator and the media facts as TrayWiring builds them for the program, the tool sheets
// behind the parameter flow, and the notifier. Every tool the manifest offers runs over every
// kind of file it offers it for; what the sheet said is held against what the engine did and
// what the notification then says.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <tuple>
#include <sstream>

#include <QApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QTest>

#include "app/ConversionNotifier.h"
#include "app/FakePortal.h"
#include "app/ToolParameterFlow.h"
#include "app/ToolSheetFactory.h"
#include "app/TrayWiring.h"
#include "core/services/Preferences.h"
#include "core/services/UserDefaults.h"
#include "support/ExternalTool.h"
#include "support/MediaFixtures.h"
#include "support/RingTargets.h"
#include "support/TempDir.h"
#include "support/qt/QtEnvironments.h"
#include "ui/async/TaskRunner.h"
#include "ui/portal/model/PortalPhase.h"
#include "ui/portal/model/PortalRequest.h"
#include "ui/sheets/ExtractAudioView.h"
#include "ui/sheets/PreparingView.h"
#include "ui/sheets/SplitView.h"
#include "ui/sheets/TrimView.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

// Says yes to notifications and keeps what it would have shown.
class RecordingSender final : public NotificationSender {
public:
    explicit RecordingSender(std::vector<Notification>& posted) : m_posted(posted) {}
    void requestAuthorisation(std::function<void(std::optional<bool>)> done) override { done(true); }
    void post(const Notification& notification) override { m_posted.push_back(notification); }

private:
    std::vector<Notification>& m_posted;
};

// The video sources: a keyframe every second, 4 s of 10 pictures a second, and sound.
std::vector<std::string> videoCodecs(const std::string& container) {
    std::vector<std::string> keyEverySecond{"-g", "10", "-keyint_min", "10", "-sc_threshold", "0"};
    std::vector<std::string> codecs;
    if (container == "webm") codecs = {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-c:a", "libopus"};
    else if (container == "avi") codecs = {"-c:v", "mpeg4", "-c:a", "libmp3lame"};
    else codecs = {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac"};
    // .m4v names a raw MPEG-4 picture stream to ffmpeg; ours are MP4 files.
    if (container == "m4v") codecs.insert(codecs.end(), {"-f", "mp4"});
    codecs.insert(codecs.end(), keyEverySecond.begin(), keyEverySecond.end());
    return codecs;
}

std::vector<std::string> audioCodecs(const std::string& format) {
    static const std::map<std::string, std::vector<std::string>> codecs{
        {"mp3", {"-c:a", "libmp3lame"}}, {"m4a", {"-c:a", "aac"}},      {"aac", {"-c:a", "aac", "-f", "adts"}},
        {"wav", {"-c:a", "pcm_s16le"}},  {"aiff", {"-c:a", "pcm_s16be"}}, {"flac", {"-c:a", "flac"}},
        {"opus", {"-c:a", "libopus"}},   {"ogg", {"-c:a", "libvorbis"}},
    };
    const auto found = codecs.find(format);
    if (found == codecs.end()) throw std::runtime_error("no way to make a ." + format + " sound file");
    return found->second;
}

// What a sheet promised about the outputs of its answer.
struct Promise {
    std::optional<bool> copy;  // a stream copy (trim, split, extract audio); none: the sheet says nothing of it
    std::string words;         // the sheet's own words, for the failure message
};

class TrayWiringTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::sharedApplication("test-tray-wiring");
        KOLVEX_REQUIRE_FFMPEG();
        const BundledFFmpeg tools(testing::systemFFmpeg());
        conversions = TrayWiring::withFFmpeg(FormatRegistry::loadBundled(), tools, tools.availableEncoders());
        // The flow as the program sets it up: the sheets read through TrayWiring's media facts.
        flow.setSheets(ToolSheetFactory::standard());
        flow.setRegistry(conversions.registry);
        flow.setTaskRunner(tasks);
        flow.setFFmpeg(tools);
    }
    void TearDown() override { tasks->stop(); }

    // One source of a format, made small.
    // Named with `extension`, one of the format's; its first when none is given.
    fs::path make(const Format& format, const std::string& stem, std::string extension = {}) {
        if (!extension.empty() && extension != format.extensions.front()) {
            // Made under the name ffmpeg knows the container by, then given the one asked for.
            const fs::path made = make(format, stem);
            const fs::path named = dir.path() / (stem + "." + extension);
            fs::rename(made, named);
            return named;
        }
        extension = format.extensions.front();
        const fs::path file = dir.path() / (stem + "." + extension);
        const std::string id = format.id.rawValue;
        switch (format.category) {
        case FormatCategory::video: {
            std::vector<std::string> arguments{"-f", "lavfi", "-i", "testsrc2=size=96x64:rate=10:duration=4",
                                               "-f", "lavfi", "-i", "sine=frequency=440:duration=4", "-shortest"};
            const auto codecs = videoCodecs(id);
            arguments.insert(arguments.end(), codecs.begin(), codecs.end());
            return testing::makeMedia(file, arguments);
        }
        case FormatCategory::audio: {
            std::vector<std::string> arguments{"-f", "lavfi", "-i", "sine=frequency=440:duration=4", "-ac", "2"};
            const auto codecs = audioCodecs(id);
            arguments.insert(arguments.end(), codecs.begin(), codecs.end());
            return testing::makeMedia(file, arguments);
        }
        case FormatCategory::image: {
            QImage image(64, 48, QImage::Format_RGB32);
            image.fill(Qt::darkCyan);
            if (!image.save(QString::fromStdString(file.string()), "PNG")) throw std::runtime_error("no PNG written");
            return file;
        }
        case FormatCategory::pdf: {
            QPdfWriter writer(QString::fromStdString(file.string()));
            QPainter painter(&writer);
            painter.drawText(QPoint(200, 200), "first page");
            writer.newPage();
            painter.drawText(QPoint(200, 200), "second page");
            return file;
        }
        case FormatCategory::document: {
            std::ofstream(file) << "A line of text.\nAnother line.\n";
            return file;
        }
        case FormatCategory::archive: {
            const fs::path inside = dir.path() / (stem + " content");
            fs::create_directories(inside);
            std::ofstream(inside / "note.txt") << "kept in the archive\n";
            if (!testing::programOutput("/usr/bin/bsdtar", {"-a", "-cf", file.string(), "-C", inside.string(), "note.txt"}))
                throw std::runtime_error("bsdtar wrote no archive");
            return file;
        }
        }
        throw std::runtime_error("no way to make a " + id + " file");
    }

    // Opens the tool's sheet for the files as a drop on the tools ring does, answers it as a
    // user who changes nothing but a cut does, and says what it promised. The options handed
    // back are in portal.applied; false when the sheet failed or handed nothing back.
    bool answerSheet(const ToolDefinition& tool, const std::vector<fs::path>& files, bool isVideo, Promise& promise) {
        portal.calls.clear();
        portal.applied.reset();
        flow.collectParameters(testing::toolTarget(tool.id, tool.label), DragPayload(files));
        const auto handedBack = [&] {
            return !portal.calls.empty() && (portal.calls.back().starts_with("apply") || portal.calls.back() == "fail" ||
                                              portal.calls.back() == "discard");
        };
        // Until the sheet itself shows (a placeholder may stand in while the file is read).
        const bool settled = QTest::qWaitFor(
            [&] {
                if (handedBack()) return true;
                QWidget* window = flow.parameterWindow();
                if (!window || !window->isVisible()) return false;
                for (auto* preparing : window->findChildren<PreparingView*>()) {
                    if (preparing->isVisible()) return false;
                }
                return true;
            },
            60000);
        if (!settled) return false;
        if (!handedBack()) {
            if (auto* trim = flow.parameterWindow()->findChild<TrimView*>()) {
                if (!QTest::qWaitFor([&] { return trim->model().question != nullptr; }, 60000)) return false;
                if (isVideo) {
                    // From the keyframe the sheet marks near 1 s to the one near 3 s: a copy of
                    // exactly that span.
                    const KeyframeIndex& marks = trim->model().keyframes;
                    trim->commitStart(marks.nearest(1.0));
                    trim->commitEnd(marks.nearest(3.0));
                }
                promise.copy = trim->model().isStreamCopy();
                promise.words = trim->explanationText().toStdString();
                trim->confirmButton()->click();
            } else if (auto* split = flow.parameterWindow()->findChild<SplitView*>()) {
                if (!QTest::qWaitFor([&] { return split->model().question != nullptr; }, 60000)) return false;
                // The cut where the sheet opens it: the middle, at a keyframe.
                const auto plans = split->model().plans();
                promise.copy = !plans.empty() && std::all_of(plans.begin(), plans.end(), [](const CutPlan& p) { return p.isCopy(); });
                promise.words = split->explanationText().toStdString();
                split->confirmButton()->click();
            } else if (auto* extract = flow.parameterWindow()->findChild<ExtractAudioView*>()) {
                const auto* chosen = extract->model().chosen();
                if (chosen) promise.copy = chosen->isCopy;
                promise.words = chosen ? chosen->title : "";
                extract->extractButton()->click();
            } else {
                // Every other sheet answers Return with its default button once that is ready.
                QPushButton* confirm = nullptr;
                (void)QTest::qWaitFor(
                    [&] {
                        for (auto* button : flow.parameterWindow()->findChildren<QPushButton*>()) {
                            if (button->isDefault() && button->isVisible() && button->isEnabled()) confirm = button;
                        }
                        return confirm != nullptr;
                    },
                    60000);
                if (!confirm) return false;
                confirm->click();
            }
            (void)QTest::qWaitFor(handedBack, 60000);
        }
        return portal.applied.has_value() && portal.calls.back().starts_with("apply");
    }

    std::vector<ConversionResult> run(const ToolDefinition& tool, const std::vector<fs::path>& files) {
        const auto request = PortalRequest::build(testing::toolTarget(tool.id, tool.label), files, Preferences{},
                                                  conversions.registry->category(files), portal.applied, {});
        const auto* intent = std::get_if<ToolIntent>(&request.what);
        if (!intent) return {};
        return conversions.coordinator->submit(*intent);
    }

    Notification announced(const std::vector<ConversionResult>& results) {
        posted.clear();
        notifier.announce(RunReport::of(results, false));
        return posted.empty() ? Notification{} : posted.back();
    }

    testing::TempDir dir;
    testing::FakePortal portal;
    std::shared_ptr<QtTaskRunner> tasks = std::make_shared<QtTaskRunner>();
    ToolParameterFlow flow{&portal};
    TrayWiring::Conversions conversions;
    InMemoryUserDefaults defaults;
    std::vector<Notification> posted;
    ConversionNotifier notifier{std::make_unique<RecordingSender>(posted), defaults};
};

// The video packets of a file, one hash per packet in order, as ffmpeg reads them without decoding.
std::vector<std::string> videoPackets(const fs::path& file) {
    const auto listed = testing::programOutput(
        testing::systemFFmpeg(), {"-v", "error", "-i", file.string(), "-map", "0:v:0", "-c", "copy", "-f", "framemd5", "-"});
    std::vector<std::string> hashes;
    std::istringstream lines(listed.value_or(""));
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line.front() == '#') continue;
        hashes.push_back(line.substr(line.rfind(',') + 1));
    }
    return hashes;
}

TEST_F(TrayWiringTest, EveryToolOnEveryKindItIsOfferedForDoesWhatItsSheetSaidAndIsToldSo) {
    const FormatRegistry& registry = *conversions.registry;
    // The rows: each tool of the manifest over each category it is offered for. Video and sound
    // in every format (their containers cut differently), under each of its extensions; the
    // other categories in one.
    const std::map<FormatCategory, std::string> representative{{FormatCategory::image, "png"},
                                                               {FormatCategory::pdf, "pdf"},
                                                               {FormatCategory::document, "txt"},
                                                               {FormatCategory::archive, "zip"}};
    struct Row {
        ToolDefinition tool;
        Format format;
        std::string extension;
    };
    std::vector<Row> rows;
    for (const auto& tool : registry.allTools()) {
        for (const FormatCategory category : tool.categories) {
            const bool everyFormat = category == FormatCategory::video || category == FormatCategory::audio;
            if (!everyFormat) {
                const auto chosen = representative.find(category);
                ASSERT_NE(chosen, representative.end()) << tool.id << " is offered for a category this test cannot make";
                const auto format = registry.format(FormatID(chosen->second));
                ASSERT_TRUE(format && format->category == category) << chosen->second;
                rows.push_back({tool, *format, format->extensions.front()});
                continue;
            }
            for (const auto& format : registry.allFormats()) {
                if (format.category != category) continue;
                for (const auto& extension : format.extensions) rows.push_back({tool, format, extension});
            }
        }
    }
    ASSERT_FALSE(rows.empty());

    std::map<std::string, std::vector<fs::path>> sources;  // by format id: two of each, for a merge
    int checked = 0;
    for (const auto& row : rows) {
        const std::string name = row.tool.id + " on ." + row.extension;
        SCOPED_TRACE(name);
        auto& made = sources[row.extension];
        if (made.empty()) {
            ASSERT_NO_THROW(made.push_back(make(row.format, row.extension + " one", row.extension)));
            ASSERT_NO_THROW(made.push_back(make(row.format, row.extension + " two", row.extension)));
        }
        const std::vector<fs::path> files = row.tool.foldsInputs ? made : std::vector<fs::path>{made.front()};
        const bool isVideo = row.format.category == FormatCategory::video;

        Promise promise;
        ASSERT_TRUE(answerSheet(row.tool, files, isVideo, promise))
            << "the sheet handed nothing back: " << (portal.calls.empty() ? "" : portal.calls.back()) << " "
            << (portal.failures.empty() ? "" : portal.failures.back());
        const auto results = run(row.tool, files);
        ASSERT_FALSE(results.empty());

        std::vector<fs::path> outputs;
        for (const auto& result : results) {
            EXPECT_FALSE(result.error) << result.error->shortDescription() << ": " << result.error->diagnosticDetail().value_or("");
            EXPECT_TRUE(result.succeeded() || result.leftAsItIs) << "neither written nor left as it is";
            outputs.insert(outputs.end(), result.outputs.begin(), result.outputs.end());
            if (promise.copy) {
                EXPECT_EQ(result.usedPassthrough, *promise.copy) << "the sheet said: " << promise.words;
            }
        }
        // A video cut from keyframe to keyframe is a copy, and the sheet says so. (The cuts of
        // an AVI, whose packets carry no times of their own, are not copied yet.)
        if (isVideo && row.format.id.rawValue != "avi" && (row.tool.id == "trim" || row.tool.id == "split")) {
            EXPECT_EQ(promise.copy, std::optional(true)) << "the sheet said: " << promise.words;
        }
        // The parts of an untouched split hold the source's pictures as they were, packet for packet.
        if (isVideo && row.tool.id == "split" && results.size() == 1 && results.front().usedPassthrough) {
            std::vector<std::string> parts;
            for (const auto& part : results.front().outputs) {
                const auto hashes = videoPackets(part);
                parts.insert(parts.end(), hashes.begin(), hashes.end());
            }
            EXPECT_EQ(parts, videoPackets(files.front()));
        }
        // A tool that keeps the format keeps the source's extension, and the file opens as that.
        if (!row.tool.outputFormat && (isVideo || row.format.category == FormatCategory::audio)) {
            for (const auto& output : outputs) {
                EXPECT_EQ(output.extension().string(), "." + row.extension) << output;
                EXPECT_TRUE(testing::programOutput(testing::systemFFmpeg(),
                                                   {"-v", "error", "-xerror", "-i", output.string(), "-f", "null", "-"}))
                    << output << " does not decode";
            }
        }
        // The notification tells what happened: the one output by name, or how many.
        const Notification told = announced(results);
        if (outputs.size() == 1) {
            EXPECT_EQ(told.title, outputs.front().filename().string());
        } else if (!outputs.empty()) {
            EXPECT_EQ(told.title, std::to_string(outputs.size()) + " files converted");
        } else {
            EXPECT_NE(told.title.find("left as it was"), std::string::npos) << told.title;
        }
        for (const auto& output : outputs) {
            std::error_code ignored;
            fs::remove_all(output, ignored);
        }
        ++checked;
    }
    EXPECT_EQ(checked, static_cast<int>(rows.size()));
}

// A resize to a longest side the smaller pictures already keep: those are left as they were,
// and the notification counts both kinds.
TEST_F(TrayWiringTest, ABatchResizeLeavesWhatIsSmallEnoughAndSaysSo) {
    std::vector<fs::path> files;
    for (const auto& [name, width, height] : std::vector<std::tuple<std::string, int, int>>{
             {"large.png", 1600, 1200}, {"medium.png", 800, 600}, {"small.png", 400, 200}, {"square.png", 300, 300}}) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(Qt::darkMagenta);
        files.push_back(dir.path() / name);
        ASSERT_TRUE(image.save(QString::fromStdString(files.back().string())));
    }
    ConversionOptions options = ConversionOptions::defaults();
    options.maxDimension = 640;
    portal.applied = options;
    const auto results = run(*conversions.registry->tool("resize"), files);
    ASSERT_EQ(results.size(), 4u);
    int resized = 0;
    for (const auto& result : results) {
        SCOPED_TRACE(result.source.filename().string());
        EXPECT_FALSE(result.error) << result.error->shortDescription();
        const bool large = result.source.filename() == "large.png" || result.source.filename() == "medium.png";
        EXPECT_EQ(result.succeeded(), large);
        EXPECT_EQ(result.leftAsItIs.has_value(), !large);
        resized += result.succeeded();
    }
    EXPECT_EQ(resized, 2);
    EXPECT_EQ(announced(results).title, "2 resized, 2 left as they were (already no larger than 640 px)");

    // One clip already within the size: left as it is, and said so.
    const fs::path clip = make(*conversions.registry->format(FormatID("mp4")), "small clip");
    options.maxDimension = 480;
    portal.applied = options;
    const auto clipResults = run(*conversions.registry->tool("resize"), {clip});
    ASSERT_EQ(clipResults.size(), 1u);
    EXPECT_FALSE(clipResults.front().error);
    EXPECT_TRUE(clipResults.front().leftAsItIs);
    EXPECT_EQ(announced(clipResults).title, "small clip.mp4 left as it was (already no larger than 480 px)");
}

}  // namespace
}  // namespace kolvex
