// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

#include "PortalFakes.h"
#include "core/services/Log.h"
#include "support/qt/QtEnvironments.h"

namespace kolvex::testing {

// One QApplication for the whole program (the offscreen platform).
QApplication& testApplication();

// A model over a fake provider, a fake service (or none) and a hand-moved clock, with every
// callback recorded.
class PortalModelTest : public ::testing::Test {
protected:
    void SetUp() override;
    std::unique_ptr<PortalModel> makeModel(bool withService = true);
    // What the model runs on: the hand-moved scheduler, the test's reduce-motion switch, no pictures.
    PortalModel::Environment modelEnvironment();

    // Begins a gesture with the files and points at chip `index` of the ring.
    void browse(std::vector<std::filesystem::path> files, std::optional<int> index = 0,
                PortalMode mode = PortalMode::convert);
    void pointAt(int index);

    std::shared_ptr<FakeScheduler> scheduler = std::make_shared<FakeScheduler>();
    std::shared_ptr<FakeProvider> provider = std::make_shared<FakeProvider>();
    std::shared_ptr<FakeService> service = std::make_shared<FakeService>();
    std::unique_ptr<PortalModel> model;
    bool reduce = false;

    int finished = 0;
    int collapses = 0;
    std::vector<RunReport> completed;
    std::vector<std::pair<RingTarget, DragPayload>> needs;
    std::vector<std::pair<std::optional<double>, std::optional<std::string>>> reports;
};

// The same, for tests of runs: drops and lets them finish.
class PortalRunFixture : public PortalModelTest {
protected:
    // Drops the files on chip `index` of the mode's ring.
    void drop(std::vector<std::filesystem::path> files, int index = 0, PortalMode mode = PortalMode::convert) {
        browse(std::move(files), index, mode);
        ASSERT_TRUE(model->commit());
    }
    // Lets the pending runs return and the display fill, stopping before any linger ends.
    void finishRuns() {
        scheduler->runBackground();
        scheduler->advance(0.7);
    }
};

}  // namespace kolvex::testing
