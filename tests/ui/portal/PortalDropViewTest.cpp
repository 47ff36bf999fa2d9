// SPDX-License-Identifier: GPL-3.0-or-later
// The Portal's drop view and its controller, headless, on the hand-moved clock.

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>

#include "PortalPanelTestSupport.h"
#include "ui/portal/PortalController.h"
#include "ui/portal/PortalDropView.h"
#include "ui/portal/PortalPanel.h"
#include "core/services/UserDefaults.h"

namespace kolvex::testing {
namespace {

using Kind = PortalPhase::Kind;

// --- Drop view ---

class DropViewTest : public PortalPanelTest {
protected:
    bool drop(Qt::DropActions offered) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.png"))});
        QDragEnterEvent enter(QPoint(240, 240), offered, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(panel->dropView(), &enter);
        QDropEvent event(QPointF(240, 240), offered, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(panel->dropView(), &event);
        EXPECT_TRUE(event.isAccepted() == false || event.dropAction() == Qt::CopyAction);
        return event.isAccepted();
    }
    void key(int code, const QString& text = {}) {
        QKeyEvent event(QEvent::KeyPress, code, Qt::NoModifier, text);
        QCoreApplication::sendEvent(panel->dropView(), &event);
    }
};

TEST_F(DropViewTest, EntryIsAlwaysAcceptedAsCopyWhenOffered) {
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    LogCapture log;
    QMimeData data;
    for (Qt::DropActions offered : {Qt::DropActions(Qt::CopyAction | Qt::MoveAction), Qt::DropActions(Qt::MoveAction)}) {
        QDragEnterEvent enter(QPoint(240, 240), offered, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(panel->dropView(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        if (offered & Qt::CopyAction) {
            EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
        }
    }
    EXPECT_TRUE(model->isCursorInside());
    EXPECT_TRUE(log.contains("interaction", "DROP-ENTER selection=none"));
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(panel->dropView(), &leave);
    EXPECT_FALSE(model->isCursorInside());
}

TEST_F(DropViewTest, DropCommitsAndIsTakenOnlyAsCopy) {
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    EXPECT_FALSE(drop(Qt::CopyAction));  // nothing selected: refused, nothing started
    EXPECT_EQ(model->activeCount(), 0);
    panel->track({960 + 150, 540}, PortalMode::convert);
    LogCapture log;
    EXPECT_TRUE(drop(Qt::CopyAction | Qt::MoveAction));
    EXPECT_TRUE(log.contains("interaction", "DROP target=JPEG committed=true"));
    EXPECT_EQ(model->activeCount(), 1);
    EXPECT_FALSE(drop(Qt::CopyAction)) << "a second drop while converting starts nothing";
    EXPECT_EQ(model->activeCount(), 1);
    // A source that offers only a move: converted, but the drop is reported as not taken.
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    panel->track({960 + 150, 540}, PortalMode::convert);
    EXPECT_FALSE(drop(Qt::MoveAction));
    EXPECT_EQ(model->activeCount(), 2);
    // A Portal that has gone takes no drop: it belongs to the window under the pointer.
    panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540});
    panel->track({960 + 150, 540}, PortalMode::convert);
    panel->dismiss(false);
    scheduler->advance(0.01);
    ASSERT_FALSE(model->isRevealed());
    EXPECT_FALSE(drop(Qt::CopyAction));
    EXPECT_EQ(model->activeCount(), 2);
}

// The last poll can trail a quick hand: the drop takes the chip the pointer is on when it
// lands, wherever the Portal was pushed to on screen, and a keyboard Portal keeps its own.
TEST_F(DropViewTest, DropTakesTheChipUnderThePointerAtTheDrop) {
    struct Case {
        const char* name;
        Point revealAt;  // y upwards, as the observer hands it over
    };
    for (const Case c : {Case{"centre", {960, 540}}, Case{"top edge", {960, 1070}}, Case{"corner", {10, 50}}}) {
        SCOPED_TRACE(c.name);
        panel->reveal(DragPayload({"/tmp/a.png"}), PortalMode::convert, c.revealAt);
        const Point centre{panel->anchor().x + 240, panel->anchor().y + 240};
        panel->track({centre.x + 150, centre.y}, PortalMode::convert);  // the poll saw the right-hand chip
        const auto polled = model->selectedIndex();
        ASSERT_TRUE(polled);
        pointer = Point{centre.x, rootHeight - (centre.y + 150)};  // the hand is on the top chip
        LogCapture log;
        EXPECT_TRUE(drop(Qt::CopyAction));
        ASSERT_TRUE(model->selectedIndex());
        EXPECT_NE(*model->selectedIndex(), *polled);
        const std::string label = model->targets().at(static_cast<size_t>(*model->selectedIndex())).label;
        EXPECT_TRUE(log.contains("interaction", "DROP target=" + label + " committed=true"));
        pointer.reset();
    }
    panel->present(DragPayload({"/tmp/a.png"}), PortalMode::convert);
    key(Qt::Key_Right);
    const auto chosen = model->selectedIndex();
    pointer = Point{0, 0};
    EXPECT_TRUE(drop(Qt::CopyAction));
    EXPECT_EQ(model->selectedIndex(), chosen);
}

TEST_F(DropViewTest, PendingPayloadIsCompletedFromTheDrop) {
    panel->reveal(DragPayload::pendingFiles(), PortalMode::convert, {960, 540});
    EXPECT_TRUE(model->targets().empty());
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/dropped.png"))});
    QDragEnterEvent enter(QPoint(240, 240), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(panel->dropView(), &enter);
    ASSERT_TRUE(model->payload());
    EXPECT_FALSE(model->payload()->pending);
    EXPECT_EQ(model->payload()->urls, std::vector<std::filesystem::path>{"/tmp/dropped.png"});
    EXPECT_EQ(model->targets().size(), 4u);
}

// The files a drop names are the bytes its source escaped, in every type a source may send them
// as: a name that is not UTF-8 (nor any text) is the same file the drag observer read.
TEST_F(DropViewTest, ADropNamesItsFilesByTheBytesTheSourceSent) {
    const std::string odd = std::string("/tmp/caf\xe9 \xff\n%41#.png");
    const std::string escaped = "file:///tmp/caf%E9%20%FF%0A%2541%23.png";
    const std::vector<std::pair<QString, QByteArray>> types{
        {QStringLiteral("text/uri-list"), QByteArray::fromStdString("# a comment\r\n" + escaped + "\r\n")},
        {QStringLiteral("_NETSCAPE_URL"), QByteArray::fromStdString(escaped + "\ncafe")},
        {QStringLiteral("text/plain"), QByteArray::fromStdString(escaped + "\n")},
    };
    for (const auto& [type, bytes] : types) {
        SCOPED_TRACE(type.toStdString());
        QMimeData data;
        data.setData(type, bytes);
        // A source that would not name its files to the drag observer names them at its entry.
        panel->reveal(DragPayload::pendingFiles(), PortalMode::convert, {960, 540});
        QDragEnterEvent enter(QPoint(240, 240), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(panel->dropView(), &enter);
        ASSERT_TRUE(model->payload());
        EXPECT_EQ(model->payload()->urls, std::vector<std::filesystem::path>{odd});
        // One that did: its drop names the same files, and converts them.
        panel->reveal(DragPayload({odd}), PortalMode::convert, {960, 540});
        panel->track({960 + 150, 540}, PortalMode::convert);
        LogCapture log;
        QDropEvent event(QPointF(240, 240), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(panel->dropView(), &event);
        EXPECT_FALSE(log.contains("interaction", "DROP carries other files than the drag"));
        EXPECT_TRUE(log.contains("interaction", "committed=true"));
    }
}

TEST_F(DropViewTest, KeysDriveTheKeyboardPath) {
    panel->present(DragPayload({"/tmp/a.png"}), PortalMode::convert);
    key(Qt::Key_Right);
    EXPECT_EQ(model->selectedIndex(), 1);
    key(Qt::Key_Up);
    EXPECT_EQ(model->selectedIndex(), 0);
    key(Qt::Key_Tab);
    EXPECT_EQ(model->mode(), PortalMode::tools);
    key(Qt::Key_A, QStringLiteral("a"));
    EXPECT_TRUE(model->isShowingFormatList());
    EXPECT_EQ(model->formatQuery(), "a");
    key(Qt::Key_Escape);
    EXPECT_FALSE(model->isShowingFormatList());
    QKeyEvent hyphen(QEvent::KeyPress, Qt::Key_Minus, Qt::NoModifier, QStringLiteral("-"));
    QCoreApplication::sendEvent(panel->dropView(), &hyphen);
    EXPECT_FALSE(model->isShowingFormatList());
    EXPECT_FALSE(hyphen.isAccepted());  // passed on
    key(Qt::Key_P, QStringLiteral("P"));
    ASSERT_TRUE(model->isShowingFormatList());
    key(Qt::Key_Return);  // "Strip" is the first tool row with a p
    EXPECT_FALSE(model->isShowingFormatList());
    EXPECT_TRUE(model->phase().is(Kind::converting));
}

// --- Controller ---

class NoInput final : public DragInputSource {
public:
    bool open(std::function<void(Wake)>) override { return false; }
    void close() override {}
    std::optional<Drag> currentDrag() override { return std::nullopt; }
    bool lastDragCancelled() const override { return false; }
    Sample sample() override { return {}; }
};

class PortalControllerTest : public PortalPanelTest {
protected:
    void SetUp() override {
        PortalPanelTest::SetUp();
        panel.reset();
        controller = std::make_unique<PortalController>(TriggerModifier::shift, std::make_unique<NoInput>(), provider,
                                                        service, modelEnvironment(), panelEnvironment(), &defaults);
    }
    void TearDown() override { controller.reset(); }

    InMemoryUserDefaults defaults;
    std::unique_ptr<PortalController> controller;
};

TEST_F(PortalControllerTest, SignalsReachWindowAndModel) {
    auto& c = *controller;
    c.start();
    EXPECT_FALSE(c.panel().isVisible());
    c.observer().onSignal(DragObserver::Reveal{DragPayload({"/tmp/a.png"}), PortalMode::convert, {960, 540}});
    EXPECT_TRUE(c.panel().isVisible());
    EXPECT_TRUE(c.model().isRevealed());
    c.observer().onSignal(DragObserver::Track{{960 + 150, 540}, PortalMode::convert});
    EXPECT_EQ(c.model().selectedIndex(), 1);
    c.observer().onSignal(DragObserver::Dismiss{false});
    scheduler->advance(0.5);
    EXPECT_FALSE(c.panel().isVisible());
    QCoreApplication::processEvents();  // the deferred end of the reveal interval
}

TEST_F(PortalControllerTest, FinishedConversionClosesTheWindow) {
    auto& c = *controller;
    std::vector<std::filesystem::path> outputs;
    c.setOnCompleted([&](const RunReport& report) { outputs = report.outputs; });
    c.present({"/tmp/a.png"}, PortalMode::convert);
    c.model().commit();
    EXPECT_EQ(c.activeConversionCount(), 1);
    scheduler->runBackground();
    scheduler->advance(3);
    EXPECT_EQ(outputs.size(), 1u);
    EXPECT_FALSE(c.panel().isVisible());
    EXPECT_TRUE(c.model().phase().is(Kind::browsing));
}

TEST_F(PortalControllerTest, CollapseAsksForTheTrayRectangle) {
    auto& c = *controller;
    int asked = 0;
    c.collapseTarget = [&]() -> std::optional<Rect> {
        ++asked;
        return std::nullopt;
    };
    c.present({"/tmp/a.png"}, PortalMode::convert);
    c.model().commit();
    scheduler->advance(7.1);
    EXPECT_EQ(asked, 1);
    scheduler->advance(0.21);
    EXPECT_FALSE(c.panel().isVisible());  // no rectangle: it only hides
    c.setPortalVisible(true);              // converting: shown again
    EXPECT_TRUE(c.panel().isVisible());
}

TEST_F(PortalControllerTest, PresentNeedsFilesAndAHiddenPortalStaysHidden) {
    auto& c = *controller;
    c.setPortalVisible(true);
    EXPECT_FALSE(c.panel().isVisible());
    c.present({}, PortalMode::convert);
    EXPECT_FALSE(c.panel().isVisible()) << "nothing to present without files";
    c.present({"/tmp/a.png"}, PortalMode::convert);
    EXPECT_TRUE(c.panel().isVisible());
    EXPECT_TRUE(c.panel().isKeyboardDriven());
    c.setPortalVisible(false);
    EXPECT_FALSE(c.panel().isVisible());
    c.setPortalVisible(true);
    EXPECT_TRUE(c.panel().isVisible());
    c.stop();
    EXPECT_FALSE(c.panel().isVisible());
}

}  // namespace
}  // namespace kolvex::testing
