// SPDX-License-Identifier: GPL-3.0-or-later
#include "ToolSheetsTestSupport.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::toolTarget;


TEST_F(ToolSheetsTest, CropWalksEveryFileAndMergeHandsBackTheOrder) {
    const auto files = images(2);
    flow.collectParameters(toolTarget("crop"), DragPayload(files));
    auto* first = waitForSheet<CropView>();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->confirmButton()->text(), "Next");
    EXPECT_EQ(first->batchOptions()->positionLabel()->text(), "File 1 of 2");
    first->confirmButton()->click();
    auto* second = waitForSheet<CropView>(first);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->confirmButton()->text(), "Crop");
    second->confirmButton()->click();
    EXPECT_EQ(portal.calls, (std::vector<std::string>{"hide", "apply one", "apply one", "show", "finish 0"}));
    ASSERT_TRUE(portal.applied && portal.applied->cropRect);

    flow.collectParameters(toolTarget("merge"), DragPayload(files));
    auto* merge = waitForSheet<MergeOrderView>();
    ASSERT_NE(merge, nullptr);
    EXPECT_EQ(flow.parameterWindow()->windowTitle(), "Merge 2 files");
    merge->mergeButton()->click();
    EXPECT_EQ(portal.calls.back(), "apply ordered");
}

// Every sheet of a walk answers Return and Escape the moment it shows, as a key pressed on the
// keyboard reaches it: through the window to whatever has the focus.
TEST_F(ToolSheetsTest, EverySheetOfAWalkAnswersTheKeyboard) {
    const auto files = images(3);
    auto press = [this](Qt::Key key) {
        QWidget* window = flow.parameterWindow();
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window->windowHandle(), key);
    };
    auto step = [&](auto* sheet, Qt::Key key) {
        ASSERT_NE(sheet, nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return sheet->confirmButton()->isEnabled(); }, 10000));
        QWidget* focus = QApplication::focusWidget();
        EXPECT_TRUE(focus && (focus == sheet || sheet->isAncestorOf(focus))) << "the sheet has no focus";
        press(key);
    };

    flow.collectParameters(toolTarget("crop"), DragPayload(files));
    auto* first = waitForSheet<CropView>();
    step(first, Qt::Key_Return);
    auto* second = waitForSheet<CropView>(first);
    step(second, Qt::Key_Return);
    auto* third = waitForSheet<CropView>(second);
    step(third, Qt::Key_Escape);
    EXPECT_EQ(portal.calls, (std::vector<std::string>{"hide", "apply one", "apply one", "discard"}));
    EXPECT_FALSE(flow.walk());

    // Compress walks when asked to set each file, and its later sheets answer too.
    portal.calls.clear();
    flow.collectParameters(toolTarget("compress"), DragPayload({files[0], files[1]}));
    auto* compress = waitForSheet<CompressView>();
    ASSERT_NE(compress, nullptr);
    ASSERT_NE(compress->batchOptions(), nullptr);
    compress->batchOptions()->individuallyBox()->setChecked(true);
    step(compress, Qt::Key_Return);
    auto* last = waitForSheet<CompressView>(compress);
    step(last, Qt::Key_Return);
    EXPECT_EQ(portal.calls, (std::vector<std::string>{"hide", "apply one", "apply one", "show", "finish 0"}));
}

// A prober that takes as long as a three-hour file: it returns only once it is told to stop.
class SlowFacts final : public MediaFacts {
public:
    mutable std::atomic<int> started{0};
    mutable std::atomic<int> stopped{0};
    MediaProbe probe(const fs::path&, std::stop_token stop) const override {
        ++started;
        for (int i = 0; i < 1000 && !stop.stop_requested(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (stop.stop_requested()) ++stopped;
        throwIfStopRequested(stop);
        MediaProbe probe;
        probe.durationSeconds = 3 * 3600;
        return probe;
    }
    KeyframeIndex keyframes(const fs::path&, std::stop_token) const override { return KeyframeIndex{}; }
    StreamCopyCuts copyCuts(const fs::path&, std::stop_token) const override { return StreamCopyCuts(); }
    std::optional<std::vector<float>> waveform(const fs::path&, std::stop_token) const override { return {}; }
    mutable std::atomic<int> letGoes{0};
    void letGo() const override { ++letGoes; }
};

TEST_F(ToolSheetsTest, RotateOnAPdfShowsItsPageAndOnlyQuarterTurns) {
    const fs::path pdf = dir.path() / "two pages.pdf";
    {
        QPdfWriter writer(QString::fromStdString(pdf.string()));
        writer.setPageSize(QPageSize(QPageSize::A5));
        QPainter painter(&writer);
        painter.fillRect(QRect(0, 0, 400, 200), Qt::black);
        writer.newPage();
        painter.drawText(QPoint(100, 100), "second");
    }
    flow.collectParameters(toolTarget("rotate"), DragPayload({pdf}));
    auto* view = waitForSheet<RotateView>();
    ASSERT_NE(view, nullptr) << "the sheet opens for a PDF";
    EXPECT_TRUE(portal.calls.empty() || portal.calls.back() != "fail");
    // The page as the PDF renderer draws it: A5 is portrait, and it is not blank.
    EXPECT_GT(view->model().imageHeight, view->model().imageWidth);
    EXPECT_FALSE(view->offersFineAngles()) << "pages turn by quarters only";
    EXPECT_FALSE(view->offersFlips()) << "pages are never mirrored";
    EXPECT_EQ(view->model().angle, 90);
    view->turnRightButton()->click();
    view->applyButton()->click();
    ASSERT_TRUE(portal.applied.has_value());
    EXPECT_EQ(portal.applied->rotation, 180);
    EXPECT_FALSE(portal.applied->flipHorizontal);

    // A file that cannot be read says why, in the Portal.
    const fs::path broken = dir.write("broken.pdf", "%PDF-1.4 nothing more");
    portal.calls.clear();
    flow.collectParameters(toolTarget("rotate"), DragPayload({broken}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !portal.calls.empty() && portal.calls.back() == "fail"; }, 10000));
    EXPECT_NE(portal.failures.back().find("broken.pdf"), std::string::npos) << portal.failures.back();
    EXPECT_EQ(flow.parameterWindow(), nullptr);
}

// A photo-like picture: smooth light under fine grain, saved as a camera would (quality 95).
fs::path photo(const fs::path& file, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    std::mt19937 grain(7);
    std::uniform_int_distribution<int> noise(-18, 18);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int r = 90 + 120 * x / width + noise(grain), g = 60 + 140 * y / height + noise(grain);
            const int b = 140 + 60 * (x + y) / (width + height) + noise(grain);
            image.setPixel(x, y, qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255)));
        }
    }
    EXPECT_TRUE(image.save(QString::fromStdString(file.string()), "JPEG", 95));
    return file;
}

TEST_F(ToolSheetsTest, ResizeEstimatesAPhotoAsItWillBeWritten) {
    const auto registry = std::make_shared<const FormatRegistry>(FormatRegistry::loadBundled());
    for (const auto& [name, side] : std::vector<std::pair<std::string, int>>{{"wide.jpg", 480}, {"small.jpg", 200}}) {
        SCOPED_TRACE(name);
        const fs::path source = photo(dir.path() / name, 720, 540);
        portal.applied.reset();
        flow.collectParameters(toolTarget("resize"), DragPayload({source}));
        auto* view = waitForSheet<ResizeView>();
        ASSERT_NE(view, nullptr);
        view->setDebounce(0);
        view->setMode(ResizeModel::Mode::longestSide);
        view->setLongestSide(side);
        ASSERT_TRUE(QTest::qWaitFor([&] { return view->estimate().has_value() && !view->measuring(); }, 10000));
        const int64_t estimate = *view->estimate();
        view->confirmButton()->click();
        ASSERT_TRUE(portal.applied.has_value());

        // The real resize, with the options the sheet handed over.
        ConversionOptions options = *portal.applied;
        options.tool = "resize";
        const auto format = *registry->formatFor(source);
        const fs::path output = dir.path() / ("resized " + name);
        const ConversionJob job(source, {}, output, format, format,
                                ConversionCapability{format.id, format.id, engine_ids::image, ConversionCost::inProcess,
                                                     false},
                                options);
        EngineModules::imageEngine()->convert(job, [](double) {}, {});
        const auto written = static_cast<double>(fs::file_size(output));
        EXPECT_NEAR(static_cast<double>(estimate) / written, 1.0, 0.25) << estimate << " estimated, " << written << " written";
    }

    // At the picture's own size nothing changes, and no saving is claimed.
    const fs::path same = photo(dir.path() / "same.jpg", 300, 200);
    flow.collectParameters(toolTarget("resize"), DragPayload({same}));
    auto* view = waitForSheet<ResizeView>();
    ASSERT_NE(view, nullptr);
    view->setDebounce(0);
    view->setMode(ResizeModel::Mode::longestSide);
    view->setLongestSide(150);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->estimate().has_value() && !view->measuring(); }, 10000));
    EXPECT_FALSE(view->savingsText().isEmpty());
    view->setLongestSide(300);
    EXPECT_FALSE(view->confirmButton()->isEnabled());
    EXPECT_TRUE(view->savingsText().isEmpty()) << "nothing is written, so nothing is saved";
    EXPECT_EQ(view->sizeText().toStdString(), SizeEstimator::format(static_cast<int64_t>(fs::file_size(same))));
}

// A picture whose name is not UTF-8 (a Latin-1 "é" and a byte no UTF-8 has) opens every image
// sheet, sized and previewed as any other.
TEST_F(ToolSheetsTest, ImageSheetsOpenForNamesThatAreNotUtf8) {
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray png;
    QBuffer buffer(&png);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG"));
    const fs::path file = dir.path() / "caf\xe9 \xff.png";
    std::ofstream(file, std::ios::binary) << png.toStdString();

    const auto opens = [&](const std::string& tool, auto* typed) {
        SCOPED_TRACE(tool);
        using View = std::remove_pointer_t<decltype(typed)>;
        portal.calls.clear();
        flow.collectParameters(toolTarget(tool), DragPayload({file}));
        View* view = waitForSheet<View>();
        EXPECT_NE(view, nullptr) << "failures: " << (portal.failures.empty() ? "" : portal.failures.back());
        EXPECT_TRUE(portal.failures.empty());
        if constexpr (std::is_same_v<View, ResizeView>) {  // its estimate is measured on the picture itself
            if (view) {
                EXPECT_TRUE(QTest::qWaitFor([&] { return view->estimate().has_value() && !view->measuring(); }, 10000));
            }
        }
        if (flow.parameterWindow()) flow.parameterWindow()->close();
    };
    opens("crop", static_cast<CropView*>(nullptr));
    opens("rotate", static_cast<RotateView*>(nullptr));
    opens("resize", static_cast<ResizeView*>(nullptr));
}

TEST_F(ToolSheetsTest, ASheetOpensAtOnceAndCancelStopsItsPreparation) {
    auto facts = std::make_shared<SlowFacts>();
    flow.setMediaFacts(facts);
    flow.setPlaceholderDelay(0);
    flow.collectParameters(toolTarget("trim"), DragPayload({dir.path() / "long.mp3"}));
    auto* preparing = waitForSheet<PreparingView>(nullptr, 5000);
    ASSERT_NE(preparing, nullptr) << "the window opens while the file is still being read";
    EXPECT_EQ(flow.parameterWindow()->windowTitle(), "trim long.mp3");
    preparing->cancelButton()->click();
    EXPECT_EQ(flow.parameterWindow(), nullptr);
    EXPECT_EQ(portal.calls.back(), "discard");
    ASSERT_TRUE(QTest::qWaitFor([&] { return facts->stopped == 1; }, 5000)) << "the read was told to stop";
    EXPECT_EQ(facts->letGoes, 1) << "no job follows: what was read for one is let go of";

    // Quitting stops a read under way the same way.
    flow.collectParameters(toolTarget("trim"), DragPayload({dir.path() / "long.mp3"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return facts->started == 2; }, 5000));
    tasks->stop();
    EXPECT_EQ(facts->stopped, 2);
    QTest::qWait(50);
    EXPECT_EQ(flow.parameterWindow() ? flow.parameterWindow()->findChild<TrimView*>() : nullptr, nullptr);
}

// When a run ends, what a sheet read for its job is let go of, unless a sheet is up and may
// still start one.
TEST_F(ToolSheetsTest, AnEndedRunLetsGoOfWhatWasReadUnlessASheetIsUp) {
    auto facts = std::make_shared<SlowFacts>();
    flow.setMediaFacts(facts);
    flow.runEnded();
    EXPECT_EQ(facts->letGoes, 1);
    flow.setPlaceholderDelay(0);
    flow.collectParameters(toolTarget("trim"), DragPayload({dir.path() / "long.mp3"}));
    ASSERT_NE(waitForSheet<PreparingView>(nullptr, 5000), nullptr);
    flow.runEnded();
    EXPECT_EQ(facts->letGoes, 1) << "the sheet's own read is kept for its job";
    flow.withdraw();
    EXPECT_EQ(facts->letGoes, 2);
}

// A FIFO or a link to a device under a picture's or a clip's name: the sheet is refused at once,
// saying why, instead of a reader waiting in open() for a writer that never comes (extract-audio
// hands such a file to the conversion, which says why). Should a reader wait after all, a writer
// that comes and goes frees it, so the test ends either way.
void expectRefusedAtOnce(ToolParameterFlow& flow, testing::FakePortal& portal, const std::vector<std::string>& tools,
                         const std::string& extension) {
    const TempDir dir;
    const fs::path fifo = dir / ("pipe." + extension);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path device = dir / ("zero." + extension);
    fs::create_symlink("/dev/zero", device);
    for (const std::string& tool : tools) {
        const std::string end = tool == "extract-audio" ? "apply" : "fail";
        for (const fs::path& file : {fifo, device}) {
            SCOPED_TRACE(tool + " " + file.filename().string());
            portal.calls.clear();
            const auto started = std::chrono::steady_clock::now();
            flow.collectParameters(toolTarget(tool), DragPayload({file}));
            const auto ended = [&] { return !portal.calls.empty() && portal.calls.back() == end; };
            const bool endedAtOnce = QTest::qWaitFor(ended, 5000);
            if (!endedAtOnce) {
                (void)QTest::qWaitFor(
                    [&] {
                        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                        if (writer >= 0) ::close(writer);
                        return ended();
                    },
                    10000);
            }
            EXPECT_TRUE(endedAtOnce) << "the sheet's preparation waited on the file";
            EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
            EXPECT_EQ(flow.parameterWindow(), nullptr);
            if (end != "fail") continue;
            ASSERT_FALSE(portal.failures.empty());
            EXPECT_EQ(portal.failures.back(), "Can't read " + file.filename().string());
        }
    }
}

TEST_F(ToolSheetsTest, APictureThatIsNoRegularFileIsRefusedAtOnce) {
    expectRefusedAtOnce(flow, portal, {"crop", "rotate", "resize", "compress"}, "png");
}

TEST_F(MediaToolSheetsTest, AClipThatIsNoRegularFileIsRefusedAtOnce) {
    expectRefusedAtOnce(flow, portal, {"trim", "split", "extract-audio", "resize", "compress"}, "mp4");
    expectRefusedAtOnce(flow, portal, {"trim"}, "wav");
}

}  // namespace
}  // namespace kolvex
