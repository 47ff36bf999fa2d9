// SPDX-License-Identifier: GPL-3.0-or-later
// The Portal's drawing: its geometry, its texts, and that every phase paints.

#include <cmath>
#include <fstream>
#include <numbers>

#include <set>

#include <QAccessible>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>

#include "PortalModelTestSupport.h"
#include "support/BinaryFixtures.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "ui/portal/Branding.h"
#include "ui/portal/FileNodeView.h"
#include "ui/portal/PortalStyle.h"
#include "ui/portal/PortalView.h"
#include "ui/portal/RingTargetView.h"
#include "ui/portal/model/Thumbnailer.h"

namespace kolvex::testing {
namespace {

using Kind = PortalPhase::Kind;
constexpr double kPi = std::numbers::pi;

TEST(PortalViewGeometry, CollapseTurnsTheWholeViewUnlessMotionIsReduced) {
    const auto open = PortalView::wholeTransform(1, 0, false);
    EXPECT_EQ(open.scale, 1);
    EXPECT_EQ(open.opacity, 1);
    EXPECT_EQ(open.rotationDegrees, 0);
    EXPECT_GT(PortalView::wholeTransform(1, 1, false).rotationDegrees, 0);
    EXPECT_EQ(PortalView::wholeTransform(1, 1, true).rotationDegrees, 0);
    EXPECT_LT(PortalView::wholeTransform(1, 1, true).scale, 0.5);
    // Reduced motion trades every spring for a short curve.
    const PortalMotion reduced = PortalMotion().withReduceMotion(true);
    for (const Animation& a : {reduced.reveal(), reduced.ringChip(5), reduced.hover(), reduced.dismiss()})
        EXPECT_TRUE(a.kind == Animation::Kind::timingCurve && a.duration <= 0.15) << a.duration;
}

TEST(PortalViewGeometry, ChipsGoClockwiseFromTheTop) {
    const RingLayout four(std::vector<std::string>{"A", "B", "C", "D"});
    const double r = four.radius;
    const std::vector<QPointF> expected{{0, -r}, {r, 0}, {0, r}, {-r, 0}};
    for (int i = 0; i < 4; ++i) {
        const QPointF at = PortalView::chipOffset(four, i);
        EXPECT_NEAR(at.x(), expected[i].x(), 1e-9) << i;
        EXPECT_NEAR(at.y(), expected[i].y(), 1e-9) << i;
    }
    const RingLayout one(std::vector<std::string>{"A"});
    EXPECT_NEAR(PortalView::chipOffset(one, 0).y(), -one.radius, 1e-9);
    EXPECT_NEAR(PortalView::needleAngle(1, 4), kPi / 2, 1e-12);
    EXPECT_EQ(PortalView::needleAngle(0, 0), 0);
}

TEST(PortalViewGeometry, BubbleStandsOppositeTheCommittedChip) {
    const QPointF fromTop = PortalView::bubbleOffset(kPi / 2, false);  // chip at the top: bubble below
    EXPECT_NEAR(fromTop.x(), 0, 1e-9);
    EXPECT_NEAR(fromTop.y(), 108, 1e-9);
    const QPointF fromRight = PortalView::bubbleOffset(0, false);
    EXPECT_NEAR(fromRight.x(), -108, 1e-9);
    EXPECT_EQ(PortalView::bubbleOffset(1.0, true), QPointF(0, 0));
}

TEST(PortalViewGeometry, PercentTruncates) {
    EXPECT_EQ(PortalView::percentText(0), "0%");
    EXPECT_EQ(PortalView::percentText(0.427), "42%");
    EXPECT_EQ(PortalView::percentText(0.999), "99%");
    EXPECT_EQ(PortalView::percentText(1), "100%");
}

TEST(FileNodeGeometry, LeanFollowsThePointerUpToItsCap) {
    PortalMotion motion;
    EXPECT_EQ(FileNodeView::leanOffset({0, 0}, motion), QPointF(0, 0));
    const QPointF far = FileNodeView::leanOffset({500, 0}, motion);
    EXPECT_NEAR(far.x(), 30, 1e-9);
    const QPointF near = FileNodeView::leanOffset({0, 100}, motion);  // up on screen
    EXPECT_NEAR(near.x(), 0, 1e-9);
    EXPECT_NEAR(near.y(), -22, 1e-9);
    EXPECT_EQ(FileNodeView::leanOffset({500, 0}, motion.withReduceMotion(true)), QPointF(0, 0));
    EXPECT_FALSE(FileNodeView::showsBadge(1));
    EXPECT_TRUE(FileNodeView::showsBadge(2));
}

TEST(RingChipGeometry, SelectedChipIsLargerAndLongLabelsAreWide) {
    testApplication();
    const RingTarget shortOne{"format.png", "PNG"};
    const RingTarget longOne{"format.x", "A very long label for a chip"};
    EXPECT_GT(RingTargetView::size(shortOne, 1).width(), RingTargetView::size(shortOne, 0).width());
    EXPECT_DOUBLE_EQ(RingTargetView::scale(1), 1.14);
    EXPECT_GT(RingTargetView::size(longOne, 0).width(), 3 * RingTargetView::size(shortOne, 0).width());
}

class PortalViewTest : public PortalModelTest {
protected:
    void SetUp() override {
        PortalModelTest::SetUp();
        view = std::make_unique<PortalView>(*model, nullptr, clock, [this] { return reduce; });
        view->resize(480, 480);
    }
    void TearDown() override { view.reset(); }

    QImage render() {
        clock->advance(2);
        QImage image(480, 480, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        view->render(&image);
        return image;
    }
    void click(QRectF at) {
        const QPointF p = at.center();
        QMouseEvent press(QEvent::MouseButtonPress, p, view->mapToGlobal(p), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(view.get(), &press);
    }

    std::shared_ptr<ManualAnimationClock> clock = std::make_shared<ManualAnimationClock>();
    std::unique_ptr<PortalView> view;
};

TEST_F(PortalViewTest, HiddenPortalDrawsNothingAndShownDrawsTheAperture) {
    browse({"/tmp/a.png"}, 0);
    QImage hidden = render();
    EXPECT_EQ(qAlpha(hidden.pixel(240, 240)), 0);
    model->setRevealed(true);
    QImage shown = render();
    EXPECT_GT(qAlpha(shown.pixel(240, 240 + 50)), 100);  // the aperture's disc
    EXPECT_EQ(qAlpha(shown.pixel(2, 2)), 0);              // outside the circle
}

TEST_F(PortalViewTest, EveryPhasePaints) {
    browse({"/tmp/a.png", "/tmp/b.png"}, 1);
    model->setRevealed(true);
    render();
    model->commit();
    render();
    EXPECT_FALSE(view->cancelButtonRect().isEmpty());
    scheduler->runBackground();
    scheduler->advance(0.7);
    ASSERT_TRUE(model->phase().is(Kind::succeeded));
    render();
    model->resetToBrowsing();
    browse({"/tmp/a.png"}, 0, PortalMode::tools);
    model->setRevealed(true);
    model->commit();
    ASSERT_TRUE(model->phase().is(Kind::needsParameters));
    render();
    model->discardParameters();
    model->beginFormatSearch("e");
    render();
    model->beginFormatSearch("zzz");
    render();
}

TEST_F(PortalViewTest, TellsAssistiveTechnologyWhatItShows) {
    browse({"/tmp/a.png"}, 1);
    EXPECT_EQ(view->accessibleName(), "JPEG");
    model->beginFormatSearch("p");
    EXPECT_EQ(view->accessibleName(), "Convert to");
    model->endFormatSearch();
    model->commit();
    scheduler->runBackground();
    scheduler->advance(0.7);
    EXPECT_EQ(view->accessibleName(), "Created a.out");
}

TEST_F(PortalViewTest, CancelButtonCancelsTheShownRun) {
    browse({"/tmp/a.png"}, 0);
    model->setRevealed(true);
    model->commit();
    render();
    click(view->cancelButtonRect());
    EXPECT_TRUE(model->phase().is(Kind::browsing));
    EXPECT_EQ(finished, 1);
}

TEST_F(PortalViewTest, CancelStaysWhileTheEndedJobsFillFinishesAndClosesThePortal) {
    service->scriptedResults.push_back({failure("/tmp/a.png", ConversionError::corruptedInput("/tmp/a.png"))});
    browse({"/tmp/a.png"}, 0);
    model->setRevealed(true);
    model->commit();
    render();
    ASSERT_FALSE(view->cancelButtonRect().isEmpty());
    scheduler->runBackground();  // the job failed while the fill still runs (longer on a loaded machine)
    ASSERT_TRUE(model->phase().is(Kind::converting));
    ASSERT_TRUE(model->phase().ended);
    render();
    const QRectF cancel = view->cancelButtonRect();
    EXPECT_FALSE(cancel.isEmpty()) << "a Cancel is there while the Portal still says Converting";
    click(cancel);
    EXPECT_EQ(finished, 1) << "the Portal closes at once";
    EXPECT_TRUE(model->phase().is(Kind::browsing));
    scheduler->advance(0.7);
    EXPECT_TRUE(model->phase().is(Kind::browsing)) << "the outcome does not come back afterwards";
    EXPECT_EQ(completed.size(), 1u) << "the failure was told all the same";
}

TEST(PortalViewGeometry, FailureTextFitsTheCentre) {
    testApplication();
    const QFont font = PortalStyle::font(10.5, QFont::Medium);
    const QFont button = PortalStyle::font(9.5, QFont::Medium);
    const QFontMetricsF metrics(font);
    const QString shortText = "a.png appears to be damaged";
    EXPECT_EQ(FailureText::layout(shortText, {}, {}, font, button).lines.join(' '), shortText);
    const QString longText = "Couldn't find a free name near " + QString(60, 'x') +
                             " because every name from one to nine hundred and ninety-nine is taken in that folder";
    const FailureText t = FailureText::layout(longText, {}, {}, font, button);
    ASSERT_LE(t.lines.size(), FailureText::kMaxLines);
    for (int i = 0; i < t.lines.size(); ++i) {
        const double top = t.firstLine + i * t.lineHeight;
        EXPECT_LE(metrics.horizontalAdvance(t.lines[i]), FailureText::widthAt(top, top + t.lineHeight) + 0.5);
    }
    EXPECT_TRUE(t.lines.back().endsWith(QChar(0x2026))) << "the rest is in the details";
    EXPECT_TRUE(t.offersDetails);
}

TEST_F(PortalViewTest, FailureDetailsOpenOnRequestWhenThereAreAny) {
    for (const auto& error : {std::optional(ConversionError::backendFailure("image", -1, "boom")),
                              std::optional<ConversionError>()}) {
        service->scriptedResults.push_back({failure("/tmp/a.png", error)});
        browse({"/tmp/a.png"}, 0);
        model->setRevealed(true);
        model->commit();
        scheduler->runBackground();
        scheduler->advance(0.7);
        ASSERT_TRUE(model->phase().is(Kind::failed));
        render();
        if (!error) {
            EXPECT_TRUE(view->detailsButtonRect().isEmpty());
            continue;
        }
        ASSERT_TRUE(model->phase().detail);
        ASSERT_FALSE(view->detailsButtonRect().isEmpty());
        click(view->detailsButtonRect());
        EXPECT_TRUE(model->showingDetails());
        render();
        ASSERT_TRUE(view->detailView());
        EXPECT_FALSE(view->detailView()->isHidden());
        EXPECT_LE(view->detailView()->height(), 96);
        EXPECT_EQ(view->detailView()->toPlainText().toStdString(), *model->phase().detail);
        EXPECT_TRUE(view->detailView()->isReadOnly());
        model->resetToBrowsing();
    }
}

TEST_F(PortalViewTest, EachChipTellsAssistiveTechnologyItsNameAndWhetherItIsChosen) {
    browse({"/tmp/a.png"}, 1);
    QAccessibleInterface* portal = QAccessible::queryAccessibleInterface(view.get());
    ASSERT_TRUE(portal);
    ASSERT_EQ(portal->childCount(), 4);
    const std::vector<QString> names{"PNG", "JPEG", "WebP", "TIFF"};
    for (int i = 0; i < 4; ++i) {
        QAccessibleInterface* chip = portal->child(i);
        ASSERT_TRUE(chip);
        EXPECT_EQ(chip->text(QAccessible::Name), names[static_cast<size_t>(i)]);
        EXPECT_EQ(chip->state().selected, i == 1);
        EXPECT_EQ(portal->indexOfChild(chip), i);
        EXPECT_FALSE(chip->rect().isEmpty());
    }
    EXPECT_EQ(portal->child(3)->text(QAccessible::Description), "Format");
    browse({"/tmp/a.png"}, 0, PortalMode::tools);
    ASSERT_EQ(portal->childCount(), 5);
    EXPECT_EQ(portal->child(4)->text(QAccessible::Name), "Rotate");
    EXPECT_EQ(portal->child(4)->text(QAccessible::Description), "Tool");
    EXPECT_TRUE(portal->child(0)->state().selected);
    EXPECT_FALSE(portal->child(4)->state().selected);
}

TEST_F(PortalViewTest, KeyboardHintNeverCoversAChip) {
    const std::vector<std::string> labels{"PNG", "JPEG 2000", "WebP", "TIFF", "Animated GIF", "HEIC", "AVIF", "ICO"};
    for (size_t n = 1; n <= labels.size(); ++n) {
        std::vector<RingTarget> ring;
        for (size_t i = 0; i < n; ++i) ring.push_back(formatTarget("f" + std::to_string(i), labels[i]));
        provider->rings[PortalMode::convert] = ring;
        browse({"/tmp/a.png"}, std::nullopt);
        model->setKeyboardDriven(true);
        view->resize(480, 480);
        const QRectF hint = PortalView::keyboardHintRect(model->layout(), model->targets());
        for (int i = 0; i < static_cast<int>(n); ++i) {
            model->moveSelection(1);  // every chip at its selected size in turn
            const QRectF chip = view->chipRect(i).translated(-240, -240);
            EXPECT_FALSE(hint.intersects(chip)) << n << " chips, chip " << i;
        }
        for (const QPointF corner : {hint.bottomLeft(), hint.bottomRight()}) {
            EXPECT_LT(std::hypot(corner.x(), corner.y()), 240) << n << " chips: the hint leaves the disc";
        }
    }
}

TEST_F(PortalViewTest, DeadEndsExplainThemselvesInWholeWords) {
    // Mixed kinds: the message is wrapped, never cut; on the keyboard path too.
    provider->rings.clear();
    provider->categories = 2;
    browse({"/tmp/a.png", "/tmp/b.mp4"}, std::nullopt);
    model->setKeyboardDriven(true);
    const auto hint = PortalView::modeHint(*model);
    ASSERT_EQ(hint.kind, PortalView::Hint::Kind::nothingToOffer);
    const QString text = QString::fromStdString(model->nothingDetail());
    for (const double scale : {1.0, 1.25}) {
        QFont font = QApplication::font();
        const QFont original = font;
        font.setPointSizeF(original.pointSizeF() * scale);
        QApplication::setFont(font);
        const QStringList lines = PortalView::nothingDetailLines(hint.detail);
        EXPECT_GE(lines.size(), 2);
        EXPECT_EQ(lines.join(' '), text);
        const QFontMetricsF metrics(PortalStyle::font(9.5, QFont::Medium));
        for (const QString& line : lines) EXPECT_LE(metrics.horizontalAdvance(line), PortalView::kNothingWidth) << line.toStdString();
        QApplication::setFont(original);
    }
    // And while the message shows, nothing moves: no frames are drawn.
    model->setRevealed(true);
    render();
    EXPECT_FALSE(view->needsFrames());
    provider->rings[PortalMode::convert] = {formatTarget("png", "PNG")};
    browse({"/tmp/a.png"}, std::nullopt);
    render();
    EXPECT_TRUE(view->needsFrames()) << "the swirl turns while there is something to choose";
}

TEST_F(PortalViewTest, WithoutACompositorTheDiscIsOpaqueWithAnAntialiasedRim) {
    browse({"/tmp/a.png"}, 0);
    model->setRevealed(true);
    view->setOpaque(true);
    const QImage image = render();
    const QColor fill = PortalView::opaqueDiscColor();
    EXPECT_EQ(qAlpha(image.pixel(240, 8)), 255);
    EXPECT_NE(image.pixel(240, 8) & 0xFFFFFF, 0u) << "not a black disc";
    EXPECT_EQ(QColor(image.pixel(120, 30)).rgb(), fill.rgb()) << "the disc in the Portal's own colour";
    // Across the rim at the top the grey steps through values between fill and rim colour.
    std::set<int> greys;
    for (int y = 0; y < 6; ++y) greys.insert(qGray(image.pixel(240, y)));
    EXPECT_GE(greys.size(), 3u);
    view->setOpaque(false);
    EXPECT_EQ(qAlpha(render().pixel(2, 2)), 0);
}

TEST_F(PortalViewTest, HintsByCase) {
    using HintKind = PortalView::Hint::Kind;
    EXPECT_EQ(PortalView::modeHint(*model).kind, HintKind::none);  // no payload
    provider->rings[PortalMode::advanced] = provider->rings[PortalMode::convert];
    browse({"/tmp/a.png"}, std::nullopt, PortalMode::advanced);
    auto hint = PortalView::modeHint(*model);
    EXPECT_EQ(hint.kind, HintKind::modePrompt);
    EXPECT_EQ(hint.headline, "Convert");
    EXPECT_EQ(hint.detail, "a.png");
    browse({"/tmp/a.png", "/tmp/b.png"}, std::nullopt, PortalMode::tools);
    hint = PortalView::modeHint(*model);
    EXPECT_EQ(hint.headline, "Tools");
    EXPECT_EQ(hint.detail, "2 files");
    pointAt(0);
    EXPECT_EQ(PortalView::modeHint(*model).kind, HintKind::none);
    model->setKeyboardDriven(true);
    hint = PortalView::modeHint(*model);
    EXPECT_EQ(hint.kind, HintKind::keyboard);
    EXPECT_EQ(hint.headline, "← →  choose      ⏎  convert      ⇥  tools");
    EXPECT_EQ(hint.detail, "or type to search");
    model->beginFormatSearch("r");
    EXPECT_NE(PortalView::modeHint(*model).kind, HintKind::keyboard);
    model->setKeyboardDriven(false);
    provider->rings.clear();
    provider->categories = 2;
    browse({"/tmp/a.png", "/tmp/b.mp4"}, std::nullopt);
    hint = PortalView::modeHint(*model);
    EXPECT_EQ(hint.kind, HintKind::nothingToOffer);
    EXPECT_EQ(hint.headline, "Pick one kind of file");
}

// --- Images ---

TEST(Branding, MenuBarIconIsEighteenHighAndMarkLoads) {
    testApplication();
    const auto& icon = Branding::menuBarIcon();
    ASSERT_TRUE(icon) << "the Kolvex_KolvexUI bundle was not found";
    EXPECT_EQ(icon->height(), 18);
    EXPECT_EQ(icon->width(), 22);
    EXPECT_EQ(&Branding::menuBarIcon(), &icon);
    ASSERT_TRUE(Branding::mark());
    EXPECT_FALSE(Branding::mark()->isNull());
    QImage wide(22, 20, QImage::Format_ARGB32);
    EXPECT_EQ(Branding::menuBarForm(wide).size(), QSize(22, 18));
    EXPECT_FALSE(Branding::load("Kolvex_NoSuchBundle", "Mark"));
    EXPECT_FALSE(Branding::load("Kolvex_KolvexUI", "NoSuchImage"));
}

TEST(Thumbnails, PicturesForImagesIconsForTheRest) {
    testApplication();
    TempDir dir;
    const auto png = dir.path() / "-wide picture é.png";
    QImage source(200, 100, QImage::Format_RGB32);
    source.fill(Qt::green);
    ASSERT_TRUE(source.save(QString::fromStdString(png.string())));
    const QImage picture = Thumbnailer::picture(png, QSizeF(56, 56), 2);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.width(), 112);
    EXPECT_EQ(picture.height(), 56);
    EXPECT_EQ(picture.devicePixelRatio(), 2);
    EXPECT_EQ(QColor(picture.pixel(50, 20)).green(), 255);

    const auto text = dir.path() / "notes.txt";
    std::ofstream(text) << "hello";
    EXPECT_TRUE(Thumbnailer::picture(text, QSizeF(56, 56), 1).isNull());
    const QImage icon = Thumbnailer::image(text, QSizeF(56, 56), 1);
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(std::max(icon.width(), icon.height()), 56);
    EXPECT_FALSE(Thumbnailer::image(dir.path() / "missing.png", QSizeF(56, 56), 1).isNull());
}

TEST(Thumbnails, VideosShowAFrame) {
    testApplication();
    KOLVEX_REQUIRE_FFMPEG();
    TempDir dir;
    const auto clip = makeClip(dir.path() / "clip.mp4", ClipSpec{0.3, 64, 48, 10, true, false, {}});
    const QImage picture = Thumbnailer::picture(clip, QSizeF(56, 56), 1);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(std::max(picture.width(), picture.height()), 56);
}

TEST(Thumbnails, PdfsShowTheirFirstPageAsViewersDo) {
    testApplication();
    TempDir dir;
    // A 400 × 100 point page cropped to its left half and turned a quarter clockwise: red on the
    // left of the crop box (the top, once turned), blue only outside it.
    const std::string drawing = "1 0 0 rg 0 0 100 100 re f 0 0 1 rg 200 0 200 100 re f";
    const auto pdf = dir.path() / "report.pdf";
    std::ofstream(pdf, std::ios::binary) << pdfFromObjects({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 400 100] /CropBox [0 0 200 100] /Rotate 90 /Contents 4 0 R >>",
        "<< /Length " + std::to_string(drawing.size()) + " >>\nstream\n" + drawing + "\nendstream",
    });
    const QImage picture = Thumbnailer::picture(pdf, QSizeF(56, 56), 2);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.width(), 56);
    EXPECT_EQ(picture.height(), 112);
    EXPECT_EQ(picture.devicePixelRatio(), 2);
    const QColor top(picture.pixel(28, 20));
    const QColor bottom(picture.pixel(28, 90));
    EXPECT_TRUE(top.red() == 255 && top.green() == 0 && top.blue() == 0) << top.name().toStdString();
    EXPECT_TRUE(bottom.red() == 255 && bottom.green() == 255 && bottom.blue() == 255) << bottom.name().toStdString();

    // A file that only claims to be a PDF gets the icon.
    const auto fake = dir.path() / "fake.pdf";
    std::ofstream(fake) << "%PDF-1.4 and nothing else";
    EXPECT_TRUE(Thumbnailer::picture(fake, QSizeF(56, 56), 1).isNull());
    EXPECT_FALSE(Thumbnailer::image(fake, QSizeF(56, 56), 1).isNull());
}

}  // namespace
}  // namespace kolvex::testing
