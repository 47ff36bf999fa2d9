// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <QFile>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include "core/format/FormatRegistry.h"
#include "core/services/UserDefaults.h"
#include "support/qt/QtEnvironments.h"
#include "ui/portal/model/PortalModel.h"
#include "ui/sheets/CompressView.h"
#include "ui/sheets/CropView.h"
#include "ui/sheets/ExtractAudioView.h"
#include "ui/sheets/MergeOrderView.h"
#include "ui/sheets/PreparingView.h"
#include "ui/sheets/ResizeView.h"
#include "ui/sheets/RotateView.h"
#include "ui/sheets/SplitView.h"
#include "ui/sheets/TrimView.h"
#include "ui/windows/AboutView.h"
#include "ui/windows/SettingsStore.h"
#include "ui/windows/SettingsView.h"
#include "ui/windows/ScrollingWindow.h"
#include "ui/windows/TuningView.h"
#include "ui/windows/WelcomeView.h"

namespace kolvex {
namespace {

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new testing::WidgetEnvironment("test-ui-layout", true));

// The width a text needs in a widget's font, every line of it.
int textWidth(const QWidget* widget, const QString& text) {
    return widget->fontMetrics().size(Qt::TextShowMnemonic, text).width();
}

// The height a text needs in a widget's font, every line of it.
int textHeight(const QWidget* widget, const QString& text) {
    return widget->fontMetrics().size(Qt::TextShowMnemonic, text).height();
}

// Names every visible label, button and check box under `root` that is narrower or shorter
// than its text needs.
std::vector<std::string> clippedTexts(const QWidget* root) {
    std::vector<std::string> found;
    auto report = [&](const QWidget* widget, const QString& text, int has, int needs) {
        found.push_back(std::string(widget->metaObject()->className()) + " \"" + text.toStdString() + "\" has " +
                        std::to_string(has) + " px, needs " + std::to_string(needs));
    };
    for (const QWidget* widget : root->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(root)) continue;
        if (const auto* label = qobject_cast<const QLabel*>(widget)) {
            const QString text = label->text();
            if (text.isEmpty()) continue;
            const int frame = 2 * (label->margin() + label->frameWidth());
            if (label->wordWrap()) {
                const int needs = label->heightForWidth(label->width());
                if (label->height() < needs) report(label, text, label->height(), needs);
            } else if (Qt::mightBeRichText(text) || label->textFormat() == Qt::RichText) {
                const int needs = label->sizeHint().width();
                if (label->width() < needs) report(label, text, label->width(), needs);
            } else {
                const int needs = textWidth(label, text) + frame + std::max(label->indent(), 0);
                if (label->contentsRect().width() + 2 * label->frameWidth() < needs)
                    report(label, text, label->width(), needs);
                // Descenders: a line cut at the bottom reads as another word ("g" as "a").
                const int tall = textHeight(label, text) + frame;
                if (label->contentsRect().height() + 2 * label->frameWidth() < tall)
                    report(label, text + "\" (height)", label->height(), tall);
            }
        } else if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
            const QString text = button->text();
            if (text.isEmpty()) continue;
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = text;
            const bool check = button->inherits("QCheckBox") || button->inherits("QRadioButton");
            const auto element = check ? (button->inherits("QCheckBox") ? QStyle::SE_CheckBoxContents
                                                                         : QStyle::SE_RadioButtonContents)
                                       : QStyle::SE_PushButtonContents;
            const int room = button->style()->subElementRect(element, &option, button).width();
            int needs = textWidth(button, text);
            if (!button->icon().isNull()) needs += button->iconSize().width() + 4;
            if (room < needs) report(button, text, room, needs);
            if (button->height() < textHeight(button, text))
                report(button, text + "\" (height)", button->height(), textHeight(button, text));
        }
    }
    return found;
}

// A sheet or window as the application hosts it: a window sized to what its content asks.
struct Hosted {
    std::string name;
    std::unique_ptr<QWidget> window;
};

Hosted host(std::string name, QWidget* content, bool fixed = true) {
    auto window = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
    if (fixed) layout->setSizeConstraint(QLayout::SetFixedSize);
    window->show();
    QApplication::processEvents();
    return {std::move(name), std::move(window)};
}

QImage picture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return image;
}

std::vector<Hosted> everySheet() {
    const BatchPrompt walk{2, std::string("File 1 of 2"), false, "Next"};
    const BatchPrompt batch{2, std::nullopt, true, "Resize"};
    const std::string name = "Holiday video from the family reunion 2024.mp4";
    std::vector<Hosted> sheets;
    sheets.push_back(host("compress", new CompressView(name, 123456789, false,
                                                       [](double, std::stop_token) { return std::optional<int64_t>(98765432); },
                                                       batch, nullptr, nullptr)));
    sheets.push_back(host("resize", new ResizeView(QSizeF(1200, 1600), picture(120, 160), false, 2400000, true, nullptr,
                                                   batch, nullptr, nullptr)));
    sheets.push_back(host("crop", new CropView(picture(320, 200), walk, nullptr, nullptr)));
    sheets.push_back(host("rotate", new RotateView(picture(1200, 1600), false, nullptr, nullptr)));
    sheets.push_back(host("flip", new RotateView(picture(1200, 1600), true, nullptr, nullptr)));
    const KeyframeIndex keyframes({0, 2, 4, 6, 8});
    const std::vector<float> waveform(500, 0.5f);
    sheets.push_back(host("trim", new TrimView(3 * 3600 + 59 * 60, keyframes, name, nullptr, waveform, walk, nullptr, nullptr)));
    auto* split = new SplitView(3 * 3600 + 59 * 60, keyframes, name, nullptr, waveform, walk, nullptr, nullptr);
    sheets.push_back(host("split at a point", split));
    auto* parts = new SplitView(3 * 3600 + 59 * 60, keyframes, name, nullptr, waveform, walk, nullptr, nullptr);
    parts->setMethod(SplitModel::Method::equalParts);
    parts->setParts(12);
    sheets.push_back(host("split in equal parts", parts));
    MediaProbe probe;
    probe.durationSeconds = 3 * 3600;
    probe.audioBitrate = 128000;
    auto* extract = new ExtractAudioView(
        name,
        {{FormatID("mp3"), "MP3 \u2014 keep the original track", "MP3 \u00b7 44.1 kHz \u00b7 stereo \u00b7 128 kbps", true, false},
         {FormatID("m4a"), "M4A", "Smaller than MP3 at the same quality", false, true},
         {FormatID("flac"), "FLAC", "Compressed, and still lossless", false, false}},
        probe.durationSeconds,
        [probe](const ExtractAudioOption& o, std::optional<int64_t> b) { return ExtractAudioModel::estimateAudioSize(o, b, probe); },
        nullptr, nullptr);
    sheets.push_back(host("extract audio", extract));
    sheets.push_back(host("merge order", new MergeOrderView({"/m/" + name, "/m/b.mp4", "/m/c.mp4"}, "Merge", nullptr, nullptr)));
    sheets.push_back(host("preparing", new PreparingView(name, nullptr)));
    sheets.push_back(host("preparing a long name", new PreparingView(std::string(120, 'x') + ".mp4", nullptr)));
    return sheets;
}

// The area a window may take on a 1280 × 800 screen with a 32-pixel panel, in logical pixels
// at a display scale.
QRect screen(double scale) {
    return QRect(0, 0, static_cast<int>(1280 / scale), static_cast<int>(800 / scale) - 32);
}

// The welcome window as the application makes it: resizable, its guide scrolling above its
// buttons.
Hosted welcome(const QRect& available) {
    auto window = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new WelcomeView(TriggerModifier::shift, [] {}, true, [](bool) {}, [] {}));
    window->show();
    QApplication::processEvents();
    scrolling::fit(window.get(), available);
    QApplication::processEvents();
    return {"welcome", std::move(window)};
}

struct Windows {
    InMemoryUserDefaults defaults;
    SettingsStore settings{defaults};
    std::shared_ptr<const FormatRegistry> registry = std::make_shared<const FormatRegistry>(FormatRegistry::loadBundled());
    PortalModel model{registry, std::shared_ptr<PortalConversionService>{}, PortalModel::Environment{}};
    std::vector<Hosted> hosted;

    explicit Windows(const QRect& available = screen(1.0)) {
        hosted.push_back(host("settings", new SettingsView(settings)));
        hosted.push_back(welcome(available));
        hosted.push_back(host("about", new AboutView([] {})));
        hosted.push_back(host("tuning", new TuningView(model), false));
    }
};

class LayoutTest : public ::testing::TestWithParam<double> {
protected:
    void SetUp() override {
        m_font = QApplication::font();
        QFont scaled = m_font;
        scaled.setPointSizeF(m_font.pointSizeF() * GetParam());
        QApplication::setFont(scaled);
    }
    void TearDown() override { QApplication::setFont(m_font); }

    static void expectNothingClipped(const std::vector<Hosted>& hosted) {
        for (const auto& [name, window] : hosted) {
            for (const auto& clipped : clippedTexts(window.get())) ADD_FAILURE() << name << ": " << clipped;
            // Every page of a tabbed window, not only the one that opens first.
            for (auto* tabs : window->findChildren<QTabWidget*>()) {
                for (int page = 0; page < tabs->count(); ++page) {
                    tabs->setCurrentIndex(page);
                    QApplication::processEvents();
                    for (const auto& clipped : clippedTexts(window.get()))
                        ADD_FAILURE() << name << ", " << tabs->tabText(page).toStdString() << ": " << clipped;
                }
                tabs->setCurrentIndex(0);
            }
        }
    }

private:
    QFont m_font;
};

TEST_P(LayoutTest, EverySheetFitsItsTexts) {
    expectNothingClipped(everySheet());
}

TEST_P(LayoutTest, EveryWindowFitsItsTexts) {
    Windows windows;
    expectNothingClipped(windows.hosted);
}

// Every window and sheet opens inside an 800-pixel screen, at 1.0 and at 1.25 times (the font
// stands in for the scale: the screen is read as 800 ÷ scale logical pixels high).
TEST_P(LayoutTest, EveryWindowFitsTheScreen) {
    const QRect available = screen(GetParam());
    const int tallest = available.height() - scrolling::kFrameAllowance;
    Windows windows(available);
    auto sheets = everySheet();
    for (auto& sheet : sheets) windows.hosted.push_back(std::move(sheet));
    for (const auto& [name, window] : windows.hosted) {
        EXPECT_LE(window->height(), tallest) << name;
        EXPECT_LE(window->width(), available.width()) << name;
    }
    QWidget* welcomeWindow = nullptr;
    for (const auto& [name, window] : windows.hosted)
        if (name == "welcome") welcomeWindow = window.get();
    ASSERT_NE(welcomeWindow, nullptr);
    EXPECT_LT(welcomeWindow->minimumHeight(), welcomeWindow->maximumHeight()) << "the welcome window can be resized";
    auto* content = welcomeWindow->findChild<WelcomeView*>();
    ASSERT_NE(content, nullptr);
    auto* area = welcomeWindow->findChild<QScrollArea*>();
    ASSERT_NE(area, nullptr);
    QWidget* guide = area->widget();
    ASSERT_NE(guide, nullptr);
    EXPECT_GE(area->viewport()->width(), guide->width()) << "the guide is never cut sideways";
    // Made taller, it shows the whole guide.
    welcomeWindow->resize(welcomeWindow->width(),
                          guide->sizeHint().height() + welcomeWindow->height() - area->height() + 40);
    QApplication::processEvents();
    EXPECT_GE(area->viewport()->height(), guide->heightForWidth(guide->width()));
}

// The welcome window on every screen size and display scale of the table: its buttons and its
// login box are always whole and in view, never in the part that scrolls.
TEST(WelcomeWindowLayout, ButtonsStayInViewOnEveryScreen) {
    struct Screen {
        int width, height;
    };
    const std::vector<Screen> screens{{1280, 800}, {1366, 768}, {1440, 900}, {1920, 1080}, {2560, 1440}};
    const std::vector<double> scales{1.0, 1.25, 1.5, 2.0};
    constexpr int kPanel = 32;  // a desktop's panel along one edge
    for (const Screen& s : screens) {
        for (const double scale : scales) {
            const QRect available(0, 0, static_cast<int>(s.width / scale),
                                  static_cast<int>(s.height / scale) - kPanel);
            const std::string row = std::to_string(s.width) + "x" + std::to_string(s.height) + " at " +
                                    std::to_string(scale);
            Hosted hosted = welcome(available);
            QWidget* window = hosted.window.get();
            EXPECT_LE(window->height(), available.height() - scrolling::kFrameAllowance) << row;
            auto* view = window->findChild<WelcomeView*>();
            ASSERT_NE(view, nullptr) << row;
            for (QWidget* control : std::vector<QWidget*>{view->doneButton(), view->sampleButton(), view->loginCheckBox()}) {
                ASSERT_NE(control, nullptr) << row;
                const QRect at(control->mapTo(window, QPoint(0, 0)), control->size());
                EXPECT_TRUE(window->rect().contains(at)) << row << ": " << control->metaObject()->className() << " "
                                                         << control->property("text").toString().toStdString()
                                                         << " is not wholly in the window";
                for (QWidget* up = control->parentWidget(); up; up = up->parentWidget())
                    EXPECT_EQ(qobject_cast<QScrollArea*>(up), nullptr) << row << ": a control scrolls away";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fonts, LayoutTest, ::testing::Values(1.0, 1.25), [](const auto& info) {
    return info.param == 1.0 ? std::string("DefaultFont") : std::string("LargerFont");
});

}  // namespace
}  // namespace kolvex
