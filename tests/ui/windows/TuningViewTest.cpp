// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include "core/format/FormatRegistry.h"
#include "ui/portal/model/PortalModel.h"
#include "ui/windows/TuningView.h"

namespace kolvex {
namespace {

int rowIndex(const std::string& label) {
    const auto& rows = TuningView::rows();
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].label == label) return static_cast<int>(i);
    ADD_FAILURE() << "no row " << label;
    return 0;
}

struct Fixture {
    PortalModel model{std::make_shared<const FormatRegistry>(FormatRegistry::loadBundled()),
                      std::shared_ptr<ConversionCoordinator>()};
    TuningView view{model, [] { return false; }};
};

TEST(TuningView, SnippetIsStampedAndReadsAsCode) {
    // 2026-01-02T03:04:05Z
    const auto moment = std::chrono::system_clock::time_point(std::chrono::seconds(1767323045));
    const std::string snippet = TuningView::snippet(RingMetrics{}, PortalMotion{}, moment);
    EXPECT_EQ(snippet.rfind("// Tuned 2026-01-02T03:04:05Z\nvar metrics = RingMetrics()\nmetrics.deadZone = 54\n", 0), 0u)
        << snippet;
    EXPECT_NE(snippet.find("\n\nvar motion = PortalMotion()\nmotion.revealResponse = 0.260\n"), std::string::npos);
    EXPECT_EQ(snippet.substr(snippet.rfind('\n') + 1), "motion.swirlPeriod = 9.0");
}

TEST(TuningView, RowsShowTheirValuesWithUnits) {
    Fixture f;
    ASSERT_EQ(TuningView::rows().size(), 16u);
    EXPECT_EQ(f.view.valueLabel(rowIndex("Dead zone"))->text().toStdString(), "54 pt");
    EXPECT_EQ(f.view.valueLabel(rowIndex("Switch ceiling"))->text().toStdString(), "0.300 ×sector");
    EXPECT_EQ(f.view.valueLabel(rowIndex("Ring stagger"))->text().toStdString(), "0.016 s/chip");
    EXPECT_EQ(f.view.valueLabel(rowIndex("Reveal damping"))->text().toStdString(), "0.780");
    EXPECT_EQ(f.view.valueLabel(rowIndex("Min. progress shown"))->text().toStdString(), "0.60 s");
    EXPECT_EQ(f.view.reduceMotionNote(), nullptr);
    const TuningView reduced(f.model, [] { return true; });
    ASSERT_NE(reduced.reduceMotionNote(), nullptr);
    EXPECT_EQ(reduced.reduceMotionNote()->text().toStdString(), "Reduce Motion is on — motion values are overridden.");
}

TEST(TuningView, SlidersEditTheLiveModelExactlyAtTheEnds) {
    Fixture f;
    QSlider* stagger = f.view.slider(rowIndex("Ring stagger"));
    stagger->setValue(stagger->minimum());
    EXPECT_EQ(f.model.motion().ringStagger, 0.0);
    EXPECT_EQ(f.view.valueLabel(rowIndex("Ring stagger"))->text().toStdString(), "0.000 s/chip");
    QSlider* failure = f.view.slider(rowIndex("Failure linger"));
    failure->setValue(failure->maximum());
    EXPECT_EQ(f.model.motion().failureLinger, 4.0);
    QSlider* gap = f.view.slider(rowIndex("Chip gap"));
    gap->setValue(gap->maximum());
    EXPECT_EQ(f.model.metrics().chipGap, 32.0);
}

TEST(TuningView, CurrentRingFollowsTheBaseRadius) {
    Fixture f;
    EXPECT_EQ(f.view.currentRing()->text().toStdString(), "Current ring: 0 targets at r=118");
    QSlider* radius = f.view.slider(rowIndex("Base radius"));
    radius->setValue(radius->maximum());
    EXPECT_EQ(f.view.currentRing()->text().toStdString(), "Current ring: 0 targets at r=190");
    EXPECT_EQ(TuningView::currentRingLine(8, 163.97), "Current ring: 8 targets at r=163");
}

TEST(TuningView, ResetRestoresEveryValue) {
    Fixture f;
    PortalMotion motion = f.model.motion();
    motion.reduceMotion = true;
    motion.commitDamping = 0.1;
    f.model.setMotion(motion);
    for (int i = 0; i < static_cast<int>(TuningView::rows().size()); ++i) f.view.slider(i)->setValue(0);
    f.view.resetToDefaults();
    EXPECT_EQ(f.model.metrics(), RingMetrics{});
    EXPECT_EQ(f.model.motion(), PortalMotion{});
    EXPECT_EQ(f.view.valueLabel(rowIndex("Dead zone"))->text().toStdString(), "54 pt");
}

TEST(TuningView, CopyValuesPutsTheSnippetOnTheClipboard) {
    Fixture f;
    QGuiApplication::clipboard()->setText("something else");
    f.view.copyButton()->click();
    const std::string copied = QGuiApplication::clipboard()->text().toStdString();
    EXPECT_EQ(copied.rfind("// Tuned ", 0), 0u);
    EXPECT_NE(copied.find("\nmetrics.deadZone = 54\n"), std::string::npos);
    EXPECT_EQ(f.view.copyButton()->text().toStdString(), "Copied ✓");
}

}  // namespace
}  // namespace kolvex
