// SPDX-License-Identifier: GPL-3.0-or-later
// The tool sheets behind a flow that talks to a fake Portal, for the sheet tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <chrono>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QBuffer>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPointer>
#include <QTest>

#include "app/FakePortal.h"
#include "app/ToolParameterFlow.h"
#include "core/conversion/SizeEstimator.h"
#include "core/format/FormatRegistry.h"
#include "core/modules/EngineModules.h"
#include "core/services/Cancellation.h"
#include "support/MediaFixtures.h"
#include "support/TempDir.h"
#include "support/RingTargets.h"
#include "support/qt/QtEnvironments.h"
#include "ui/sheets/CompressView.h"
#include "ui/sheets/CropView.h"
#include "ui/sheets/ExtractAudioView.h"
#include "ui/sheets/MergeOrderView.h"
#include "ui/sheets/PreparingView.h"
#include "ui/sheets/ResizeView.h"
#include "ui/sheets/RotateView.h"
#include "ui/sheets/SplitView.h"
#include "ui/sheets/TrimView.h"

namespace kolvex {

// The application's sheets behind a flow that talks to a fake Portal.
class ToolSheetsTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::sharedApplication("test-tool-sheets");
        flow.setSheets(ToolSheetFactory::standard());
        flow.setRegistry(std::make_shared<const FormatRegistry>(FormatRegistry::loadBundled()));
        flow.setTaskRunner(tasks);
    }
    void TearDown() override { tasks->stop(); }

    template <typename View>
    View* waitForSheet(const QWidget* previous = nullptr, int milliseconds = 10000) {
        View* found = nullptr;
        (void)QTest::qWaitFor(
            [&] {
                auto* window = flow.parameterWindow();
                found = window ? window->findChild<View*>() : nullptr;
                return found && found != previous && found->isVisible();
            },
            milliseconds);
        return found;
    }
    std::vector<std::filesystem::path> images(int count) {
        std::vector<std::filesystem::path> files;
        for (int i = 0; i < count; ++i) {
            QImage image(40, 30, QImage::Format_RGB32);
            image.fill(Qt::darkGreen);
            const std::filesystem::path file = dir.path() / ("-picture " + std::to_string(i) + ".png");
            EXPECT_TRUE(image.save(QString::fromStdString(file.string())));
            files.push_back(file);
        }
        return files;
    }

    testing::TempDir dir;
    testing::FakePortal portal;
    std::shared_ptr<QtTaskRunner> tasks = std::make_shared<QtTaskRunner>();
    ToolParameterFlow flow{&portal};
};

// The media sheets over the installed ffmpeg.
class MediaToolSheetsTest : public ToolSheetsTest {
protected:
    void SetUp() override {
        ToolSheetsTest::SetUp();
        KOLVEX_REQUIRE_FFMPEG();
        flow.setFFmpeg(BundledFFmpeg(testing::systemFFmpeg()));
    }
};

}  // namespace kolvex
