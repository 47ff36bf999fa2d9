// SPDX-License-Identifier: GPL-3.0-or-later
#include "PortalModelTestSupport.h"

#include <cmath>
#include <numbers>

namespace kolvex::testing {

QApplication& testApplication() { return sharedApplication("test-ui-portal"); }

void PortalModelTest::SetUp() {
    testApplication();
    provider->rings[PortalMode::convert] = {formatTarget("png", "PNG"), formatTarget("jpg", "JPEG"),
                                            formatTarget("webp", "WebP"), formatTarget("tiff", "TIFF")};
    provider->rings[PortalMode::tools] = {toolTarget("resize", "Resize"), toolTarget("strip-metadata", "Strip"),
                                          toolTarget("extract", "Extract"), toolTarget("crop", "Crop"),
                                          toolTarget("rotate", "Rotate")};
    provider->oneCategory = FormatCategory::image;
    model = makeModel();
}

PortalModel::Environment PortalModelTest::modelEnvironment() {
    PortalModel::Environment env;
    env.scheduler = scheduler;
    env.reduceMotion = [this] { return reduce; };
    env.screenScale = [] { return 1.0; };
    env.thumbnail = [](const std::filesystem::path&, QSizeF, double) { return QImage(); };
    env.icon = [](const std::filesystem::path&, QSizeF, double) {
        QImage image(4, 4, QImage::Format_ARGB32);
        image.fill(Qt::red);
        return image;
    };
    env.simulatedWork = std::make_shared<FakePortalWork>([](std::chrono::milliseconds, std::stop_token) {},
                                                         [] { return 0; });
    return env;
}

std::unique_ptr<PortalModel> PortalModelTest::makeModel(bool withService) {
    auto m = std::make_unique<PortalModel>(provider, withService ? std::shared_ptr<PortalConversionService>(service)
                                                                 : std::shared_ptr<PortalConversionService>(),
                                           modelEnvironment());
    m->preferencesProvider = [] { return Preferences{}; };
    m->onFinished = [this] { ++finished; };
    m->onCollapse = [this] { ++collapses; };
    m->onCompleted = [this](const RunReport& report) { completed.push_back(report); };
    m->onNeedsParameters = [this](const RingTarget& t, const DragPayload& p) { needs.emplace_back(t, p); };
    m->onProgressChanged = [this](std::optional<double> p, std::optional<std::string> l) { reports.emplace_back(p, l); };
    return m;
}

void PortalModelTest::pointAt(int index) {
    const auto& layout = model->layout();
    const double a = layout.angle(index);
    model->updateCursor({150 * std::cos(a), 150 * std::sin(a)});
}

void PortalModelTest::browse(std::vector<std::filesystem::path> files, std::optional<int> index, PortalMode mode) {
    model->beginGesture(DragPayload(std::move(files)), mode);
    if (index) pointAt(*index);
}

}  // namespace kolvex::testing
