// SPDX-License-Identifier: GPL-3.0-or-later
// A failure told in the Portal's centre: inside the disc at every font size, the reason before
// a long name, and "Show details" only when the details say more than the centre.

#include <cmath>
#include <string>
#include <vector>

#include <QFontMetricsF>

#include "PortalModelTestSupport.h"
#include "ui/portal/FailureText.h"
#include "ui/portal/PortalStyle.h"
#include "ui/portal/PortalView.h"

namespace kolvex::testing {
namespace {

using Kind = PortalPhase::Kind;

const QString kLongName = QStringLiteral("holiday-photos-from-the-summer-of-two-thousand-and-nineteen-at-the-lake-best.png");

QFont scaled(double points, QFont::Weight weight, double factor) { return PortalStyle::font(points * factor, weight); }

TEST(PortalFailureText, StaysInsideTheDiscAtEveryFontSize) {
    testApplication();
    const std::vector<QString> messages{
        "Conversion failed",
        "Couldn't convert",
        "Can't convert PNG to JPEG XL",
        "a.png appears to be damaged",
        "No permission to write to Documents",
        "Needs 1.51 GB, only 4.2 MB free",
        kLongName + " appears to be damaged",
        "Couldn't find a free name near " + kLongName,
        "Kolvex can't read the prores_ks_with_a_rather_long_profile codec",
        "2 of 3 converted",
    };
    for (const double factor : {1.0, 1.25}) {
        const QFont font = scaled(10.5, QFont::Medium, factor);
        const QFont button = scaled(9.5, QFont::Medium, factor);
        const QFontMetricsF metrics(font);
        const double buttonWidth = QFontMetricsF(button).horizontalAdvance("Show details") + 8;
        for (const QString& message : messages) {
            for (const QString& detail : {QString(), message + "\n\nmore"}) {
                const FailureText t = FailureText::layout(message, detail, {"a.png", kLongName}, font, button);
                const std::string what = message.toStdString() + " at " + std::to_string(factor);
                ASSERT_FALSE(t.lines.isEmpty()) << what;
                // The x mark, every line and the button, each within the disc across its width.
                EXPECT_GE(FailureText::widthAt(t.symbolTop, t.symbolTop + FailureText::kSymbol), FailureText::kSymbol) << what;
                for (int i = 0; i < t.lines.size(); ++i) {
                    const double top = t.firstLine + i * t.lineHeight;
                    EXPECT_LE(metrics.horizontalAdvance(t.lines[i]), FailureText::widthAt(top, top + t.lineHeight) + 0.5)
                        << what << ": [" << t.lines[i].toStdString() << "]";
                }
                if (t.offersDetails) {
                    EXPECT_LE(buttonWidth, FailureText::widthAt(t.buttonTop, t.buttonTop + QFontMetricsF(button).height() + 2))
                        << what;
                }
                EXPECT_LE(FailureText::kRadius + 4, 64) << "inside the aperture's disc";
                if (t.complete) {
                    EXPECT_EQ(t.lines.join(' ').simplified(), message.simplified()) << what;
                }
            }
        }
    }
}

TEST(PortalFailureText, ALongNameComesAfterTheReason) {
    testApplication();
    const QFont font = PortalStyle::font(10.5, QFont::Medium);
    const QFont button = PortalStyle::font(9.5, QFont::Medium);
    const QString message = kLongName + " appears to be damaged";
    const FailureText t = FailureText::layout(message, message, {kLongName}, font, button);
    ASSERT_GE(t.lines.size(), 2);
    EXPECT_EQ(t.lines.mid(0, t.lines.size() - 1).join(' '), "Appears to be damaged");
    EXPECT_TRUE(t.lines.back().startsWith("holiday")) << t.lines.back().toStdString();
    EXPECT_TRUE(t.lines.back().endsWith("best.png")) << t.lines.back().toStdString();
    EXPECT_TRUE(t.lines.back().contains(QChar(0x2026)));
    EXPECT_FALSE(t.complete);
    EXPECT_TRUE(t.offersDetails) << "the whole name is in the details";
    // A short name fits and keeps the sentence as it is, with nothing more to show.
    const FailureText shortOne = FailureText::layout("b.png appears to be damaged", "b.png appears to be damaged",
                                                     {"b.png"}, font, button);
    EXPECT_EQ(shortOne.lines.join(' '), "b.png appears to be damaged");
    EXPECT_FALSE(shortOne.offersDetails);
}

TEST(PortalFailureText, DetailsAreOfferedOnlyWhenTheySayMore) {
    struct Case {
        QString message, detail;
        bool offered;
    };
    const std::vector<Case> cases{
        {"b.png appears to be damaged", "b.png appears to be damaged", false},
        {"b.png appears to be damaged", "  b.png appears\nto be damaged\n", false},
        {"b.png appears to be damaged", "", false},
        {"Conversion failed", "Conversion failed\n\nvips: bad header", true},
        {"2 of 3 converted", "c.png: Can't read c.png", true},
    };
    testApplication();
    for (const Case& c : cases) {
        EXPECT_EQ(FailureText::saysMore(c.detail, c.message), c.offered) << c.detail.toStdString();
        EXPECT_EQ(FailureText::layout(c.message, c.detail, {}, PortalStyle::font(10.5, QFont::Medium),
                                      PortalStyle::font(9.5, QFont::Medium))
                      .offersDetails,
                  c.offered)
            << c.detail.toStdString();
    }
}

class PortalFailureView : public PortalModelTest {
protected:
    void SetUp() override {
        PortalModelTest::SetUp();
        view = std::make_unique<PortalView>(*model, nullptr, clock, [this] { return reduce; });
        view->resize(480, 480);
    }
    void TearDown() override { view.reset(); }
    void failWith(const std::filesystem::path& file, const ConversionError& error) {
        service->scriptedResults.push_back({failure(file, error)});
        browse({file}, 0);
        model->setRevealed(true);
        ASSERT_TRUE(model->commit());
        scheduler->runBackground();
        scheduler->advance(0.7);
        ASSERT_TRUE(model->phase().is(Kind::failed));
        clock->advance(2);
        QImage image(480, 480, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        view->render(&image);
    }
    std::shared_ptr<ManualAnimationClock> clock = std::make_shared<ManualAnimationClock>();
    std::unique_ptr<PortalView> view;
};

TEST_F(PortalFailureView, ADamagedFileSaysSoOnceWithoutShowDetails) {
    failWith("/tmp/b.png", ConversionError::corruptedInput("/tmp/b.png"));
    EXPECT_EQ(model->phase().message, "b.png appears to be damaged");
    EXPECT_TRUE(view->detailsButtonRect().isEmpty()) << "the details would only repeat the headline";
    model->resetToBrowsing();
    // With a name too long for the centre the details hold the whole sentence.
    const std::filesystem::path longOne = "/tmp/" + kLongName.toStdString();
    failWith(longOne, ConversionError::corruptedInput(longOne));
    EXPECT_FALSE(view->detailsButtonRect().isEmpty());
    model->resetToBrowsing();
}

}  // namespace
}  // namespace kolvex::testing
