// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QRect>

#include "core/format/ConversionOptions.h"
#include "core/format/RingTarget.h"
#include "core/services/TriggerModifier.h"
#include "core/services/Uuid.h"
#include "interaction/DragPayload.h"
#include "ui/portal/model/PortalPhase.h"

class QWidget;

namespace kolvex {

class ConversionCoordinator;
class FormatRegistry;

// What the application shell uses of the Portal: its controller (start, stop, trigger key,
// keyboard-driven opening, visibility) and its model (running conversions, tool parameters,
// the callbacks the shell fills). The real one wraps the Portal controller; tests use a fake.
// GUI thread only.
class PortalConnection {
public:
    // One running conversion as the tray menu lists it.
    struct Conversion {
        Uuid id;
        std::string label;
        double progress = 0;
        bool isForeground = false;
        bool operator==(const Conversion&) const = default;
    };
    using PendingFile = std::pair<std::filesystem::path, ConversionOptions>;

    virtual ~PortalConnection() = default;

    virtual void start() = 0;
    virtual void stop() = 0;
    virtual void updateTrigger(TriggerModifier trigger) = 0;
    // Opens the keyboard-driven Portal for the files in convert mode; nothing for no files.
    virtual void present(const std::vector<std::filesystem::path>& files) = 0;
    virtual void setPortalVisible(bool visible) = 0;
    virtual void setDiagnosticsEnabled(bool enabled) = 0;
    // Where a long conversion collapses to (the tray icon), when known.
    virtual void setCollapseTarget(std::function<std::optional<QRect>()> target) = 0;

    virtual int activeConversionCount() const = 0;
    virtual std::vector<Conversion> activeConversions() const = 0;
    virtual void cancelConversion(const Uuid& id) = 0;
    virtual void cancelAllConversions() = 0;
    // Taken only while the Portal is hidden and idle.
    virtual void replaceProvider(std::shared_ptr<const FormatRegistry> registry,
                                 std::shared_ptr<ConversionCoordinator> coordinator) = 0;

    // Tool parameters, while the Portal waits for them.
    virtual void applyParameters(const ConversionOptions& options) = 0;
    virtual void applyParameters(const ConversionOptions& options, const std::vector<std::filesystem::path>& ordering) = 0;
    virtual void applyParametersToOne(const ConversionOptions& options, const std::filesystem::path& url) = 0;
    virtual void finishParameterRun(const std::vector<PendingFile>& pending) = 0;
    // Before a walk shows the sheet of `file`: true when the answer already given for this drop
    // skips it (what `options` write for it would take a name that is taken, and the user chose
    // to skip such files). It is then told as skipped with the walk's other files, and gets no
    // sheet.
    virtual bool skipsInWalk(const ConversionOptions& options, const std::filesystem::path& file) = 0;
    virtual void discardParameters() = 0;
    // The sheet for `file` could not be prepared, for `reason` (one line).
    virtual void failParameters(const std::string& reason, const std::filesystem::path& file) = 0;

    // The tuning window's content over the live model; null when the Portal has none.
    virtual QWidget* makeTuningView() = 0;

    // Set by the shell at launch; called on the GUI thread.
    // A run (or a batch) ended: what it made and what failed.
    std::function<void(const RunReport&)> onCompleted;
    std::function<void(const RingTarget&, const DragPayload&)> onNeedsParameters;
    // The Portal stopped waiting for the parameters it asked for (Escape, its Cancel, the
    // tray's Cancel); not called for the shell's own answers (applyParameters…, discard).
    std::function<void()> onParametersWithdrawn;
    std::function<void(std::optional<double>, std::optional<std::string>)> onProgressChanged;
    // Asked before a drop runs (and before a tool's first sheet), with the Portal out of the
    // way. "Ask each time": where the outputs go, answered through the continuation (none:
    // cancelled). "Ask what to do": keep both (true) or skip the files whose names are taken.
    std::function<void(std::uint64_t, std::function<void(std::optional<std::filesystem::path>)>)> onChooseOutputFolder;
    std::function<void(const std::vector<std::filesystem::path>&, std::function<void(bool)>)> onNamesTaken;
    // The question put up last is taken down unanswered: its drop was replaced or cancelled.
    std::function<void()> onWithdrawQuestion;
};

// Builds the Portal over a trigger key, the registry and the launch coordinator.
using PortalFactory = std::function<std::unique_ptr<PortalConnection>(
    TriggerModifier trigger, std::shared_ptr<const FormatRegistry> registry,
    std::shared_ptr<ConversionCoordinator> coordinator)>;

}  // namespace kolvex
