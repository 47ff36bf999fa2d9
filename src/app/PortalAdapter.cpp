// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/PortalAdapter.h"

#include "app/ParameterWait.h"

#include "core/conversion/ConversionCoordinator.h"
#include "core/format/FormatRegistry.h"
#include "ui/portal/PortalController.h"
#include "ui/windows/TuningView.h"

namespace kolvex {

namespace {

// The Portal controller behind the shell's interface.
class PortalControllerConnection final : public PortalConnection {
public:
    PortalControllerConnection(TriggerModifier trigger, std::shared_ptr<const FormatRegistry> registry,
                               std::shared_ptr<ConversionCoordinator> coordinator)
        : m_controller(trigger, std::move(registry), std::move(coordinator)),
          m_wait(m_controller.model(), [this] {
              if (onParametersWithdrawn) onParametersWithdrawn();
          }) {
        PortalModel& model = m_controller.model();
        model.onCompleted = [this](const RunReport& report) {
            if (onCompleted) onCompleted(report);
        };
        model.onNeedsParameters = [this](const RingTarget& target, const DragPayload& payload) {
            if (onNeedsParameters) onNeedsParameters(target, payload);
        };
        model.onProgressChanged = [this](std::optional<double> progress, std::optional<std::string> description) {
            if (onProgressChanged) onProgressChanged(progress, std::move(description));
        };
        model.onChooseOutputFolder = [this](std::uint64_t window,
                                            std::function<void(std::optional<std::filesystem::path>)> answer) {
            if (onChooseOutputFolder) onChooseOutputFolder(window, std::move(answer));
            else answer(std::nullopt);
        };
        model.onNamesTaken = [this](const std::vector<std::filesystem::path>& names, std::function<void(bool)> answer) {
            if (onNamesTaken) onNamesTaken(names, std::move(answer));
            else answer(true);
        };
        model.onWithdrawQuestion = [this] {
            if (onWithdrawQuestion) onWithdrawQuestion();
        };
    }

    void start() override { m_controller.start(); }
    void stop() override { m_controller.stop(); }
    void updateTrigger(TriggerModifier trigger) override { m_controller.updateTrigger(trigger); }
    void present(const std::vector<std::filesystem::path>& files) override {
        m_controller.present(files, PortalMode::convert);
    }
    void setPortalVisible(bool visible) override { m_controller.setPortalVisible(visible); }
    void setDiagnosticsEnabled(bool enabled) override { m_controller.diagnosticsEnabled = enabled; }
    void setCollapseTarget(std::function<std::optional<QRect>()> target) override {
        // The tray reports its frame with y downwards; the Portal works with y upwards.
        m_controller.collapseTarget = [this, target = std::move(target)]() -> std::optional<Rect> {
            const auto frame = target ? target() : std::nullopt;
            if (!frame) return std::nullopt;
            return m_controller.panel().upwardRect(*frame);
        };
    }
    int activeConversionCount() const override { return m_controller.activeConversionCount(); }
    std::vector<Conversion> activeConversions() const override {
        std::vector<Conversion> rows;
        for (const auto& running : m_controller.activeConversions())
            rows.push_back({running.id, running.label, running.progress, running.isForeground});
        return rows;
    }
    void cancelConversion(const Uuid& id) override { m_controller.cancelConversion(id); }
    void cancelAllConversions() override { m_controller.cancelAllConversions(); }
    void replaceProvider(std::shared_ptr<const FormatRegistry> registry,
                         std::shared_ptr<ConversionCoordinator> coordinator) override {
        m_controller.replaceEngines(std::move(registry), std::move(coordinator));
    }
    void applyParameters(const ConversionOptions& options) override {
        m_wait.answering([&] { m_controller.model().applyParameters(options); });
    }
    void applyParameters(const ConversionOptions& options, const std::vector<std::filesystem::path>& ordering) override {
        m_wait.answering([&] { m_controller.model().applyParameters(options, ordering); });
    }
    void applyParametersToOne(const ConversionOptions& options, const std::filesystem::path& url) override {
        m_wait.answering([&] { m_controller.model().applyParameters(options, url); });
    }
    void finishParameterRun(const std::vector<PendingFile>& pending) override {
        std::vector<PortalModel::PendingFile> files;
        for (const auto& [url, options] : pending) files.push_back({url, options});
        m_wait.answering([&] { m_controller.model().finishParameterRun(files); });
    }
    bool skipsInWalk(const ConversionOptions& options, const std::filesystem::path& file) override {
        return m_controller.model().skipsInWalk(options, file);
    }
    void discardParameters() override {
        m_wait.answering([&] { m_controller.model().discardParameters(); });
    }
    void failParameters(const std::string& reason, const std::filesystem::path& file) override {
        m_wait.answering([&] { m_controller.model().failParameters(reason, file); });
    }
    QWidget* makeTuningView() override { return new TuningView(m_controller.model()); }

private:
    PortalController m_controller;
    ParameterWait m_wait;
};

}  // namespace

PortalFactory portalFactory() {
    return [](TriggerModifier trigger, std::shared_ptr<const FormatRegistry> registry,
              std::shared_ptr<ConversionCoordinator> coordinator) -> std::unique_ptr<PortalConnection> {
        return std::make_unique<PortalControllerConnection>(trigger, std::move(registry), std::move(coordinator));
    };
}

}  // namespace kolvex
