// The Portal on a real X display, with simulated conversions and a one-chip ring, for the
// whole-desktop tests. Prints "ready", then a line for each step a test waits for:
// "revealed", "selected <label>", "converting", "succeeded <name>", "failed <message>", "closed".
// With "--present FILE" it opens the keyboard-driven Portal for that file at once.
#include <cstdio>
#include <memory>
#include <string>

#include <QApplication>

#include "ui/portal/PortalController.h"

namespace {

using namespace kolvex;

class OneChip final : public RingTargetProviding {
public:
    std::vector<RingTarget> targets(const std::vector<std::filesystem::path>& urls, PortalMode) const override {
        if (urls.empty()) return {};
        RingTarget png;
        png.id = "format.png";
        png.label = "PNG";
        png.formatID = FormatID("png");
        png.fileExtension = "png";
        return {png};
    }
    std::optional<FormatCategory> category(const std::vector<std::filesystem::path>&) const override {
        return FormatCategory::image;
    }
    int categoryCount(const std::vector<std::filesystem::path>&) const override { return 1; }
};

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    PortalController controller(TriggerModifier::shift, std::make_shared<OneChip>(), nullptr);
    PortalModel& model = controller.model();
    QObject::connect(&model, &PortalModel::changed, [&](PortalModel::Field field) {
        using F = PortalModel::Field;
        if (field == F::isRevealed && model.isRevealed()) say("revealed");
        if (field == F::selectedIndex && model.selectedTarget()) say("selected " + model.selectedTarget()->label);
        if (field == F::phase) {
            const auto& phase = model.phase();
            if (phase.is(PortalPhase::Kind::converting) && phase.fraction == 0) say("converting");
            if (phase.is(PortalPhase::Kind::succeeded)) say("succeeded " + phase.name);
            if (phase.is(PortalPhase::Kind::failed)) say("failed " + phase.message);
        }
        if (field == F::payload && !model.payload()) say("closed");
        if (field == F::payload && model.payload()) {
            say(model.payload()->pending ? "payload pending" : "payload " + model.payload()->label());
        }
        if (field == F::isCursorInside) say(model.isCursorInside() ? "inside" : "outside");
    });
    controller.start();
    say("ready");
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QStringLiteral("--present")) {
        controller.present({std::filesystem::path(args[2].toStdString())}, PortalMode::convert);
    }
    return app.exec();
}
