// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <set>
#include <string>
#include <vector>

#include "app/PortalConnection.h"
#include "core/format/FormatRegistry.h"

namespace kolvex::testing {

// Records every call the shell makes on the Portal, as readable lines.
class FakePortal final : public PortalConnection {
public:
    std::vector<std::string> calls;
    std::vector<std::string> failures;  // the reasons of failParameters
    std::vector<std::filesystem::path> failedFiles;  // the files they were for
    std::vector<Conversion> running;
    std::function<std::optional<QRect>()> collapseTarget;
    std::shared_ptr<const FormatRegistry> provider;
    std::optional<ConversionOptions> applied;
    std::set<std::filesystem::path> skipping;  // files a walk skips without their sheet
    bool* destroyed = nullptr;

    ~FakePortal() override {
        if (destroyed) *destroyed = true;
    }
    void start() override { calls.push_back("start"); }
    void stop() override { calls.push_back("stop"); }
    void updateTrigger(TriggerModifier trigger) override { calls.push_back("trigger " + std::string(toString(trigger))); }
    void present(const std::vector<std::filesystem::path>& files) override {
        calls.push_back("present " + std::to_string(files.size()));
    }
    void setPortalVisible(bool visible) override { calls.push_back(visible ? "show" : "hide"); }
    void setDiagnosticsEnabled(bool enabled) override { calls.push_back(enabled ? "diagnostics on" : "diagnostics off"); }
    void setCollapseTarget(std::function<std::optional<QRect>()> target) override { collapseTarget = std::move(target); }
    int activeConversionCount() const override { return static_cast<int>(running.size()); }
    std::vector<Conversion> activeConversions() const override { return running; }
    void cancelConversion(const Uuid&) override { calls.push_back("cancel one"); }
    void cancelAllConversions() override { calls.push_back("cancel all"); }
    void replaceProvider(std::shared_ptr<const FormatRegistry> registry, std::shared_ptr<ConversionCoordinator>) override {
        provider = std::move(registry);
        calls.push_back("replace provider");
    }
    void applyParameters(const ConversionOptions& options) override {
        applied = options;
        calls.push_back("apply");
    }
    void applyParameters(const ConversionOptions& options, const std::vector<std::filesystem::path>&) override {
        applied = options;
        calls.push_back("apply ordered");
    }
    void applyParametersToOne(const ConversionOptions& options, const std::filesystem::path&) override {
        applied = options;
        calls.push_back("apply one");
    }
    void finishParameterRun(const std::vector<PendingFile>& pending) override {
        calls.push_back("finish " + std::to_string(pending.size()));
    }
    bool skipsInWalk(const ConversionOptions&, const std::filesystem::path& file) override {
        if (!skipping.contains(file)) return false;
        calls.push_back("skip " + file.filename().string());
        return true;
    }
    void discardParameters() override { calls.push_back("discard"); }
    void failParameters(const std::string& reason, const std::filesystem::path& file) override {
        calls.push_back("fail");
        failures.push_back(reason);
        failedFiles.push_back(file);
    }
    QWidget* makeTuningView() override { return nullptr; }
};

}  // namespace kolvex::testing
