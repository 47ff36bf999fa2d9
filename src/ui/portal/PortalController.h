// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QObject>

#include "core/services/TriggerModifier.h"
#include "interaction/x11/DragObserver.h"
#include "ui/portal/PortalPanel.h"
#include "ui/portal/model/PortalModel.h"

namespace kolvex {

class ConversionCoordinator;
class UserDefaults;

// The one object through which the application drives the Portal. It owns the drag observer,
// the Portal model and the Portal window for the life of the process, routes the observer's
// signals to window and model, closes or shrinks the window when the model asks, and forwards
// the application's calls. GUI thread only.
class PortalController : public QObject {
    Q_OBJECT

public:
    PortalController(TriggerModifier trigger, std::shared_ptr<const RingTargetProviding> provider,
                     std::shared_ptr<ConversionCoordinator> coordinator);
    // Everything injected (tests): the observer's input source, the conversion service (null
    // simulates), the model's and the window's surroundings, and the defaults store for the trigger.
    PortalController(TriggerModifier trigger, std::unique_ptr<DragInputSource> source,
                     std::shared_ptr<const RingTargetProviding> provider,
                     std::shared_ptr<PortalConversionService> service, PortalModel::Environment modelEnvironment,
                     PortalPanel::Environment panelEnvironment, UserDefaults* defaults = nullptr);
    ~PortalController() override;

    DragObserver& observer() { return *m_observer; }
    PortalModel& model() { return *m_model; }
    const PortalModel& model() const { return *m_model; }
    PortalPanel& panel() { return *m_panel; }

    // Asked at collapse time for the rectangle (y upwards) the Portal shrinks toward: the tray
    // icon's frame. None by default.
    std::function<std::optional<Rect>()> collapseTarget;

    // Forwarded to the model's callbacks of the same names.
    void setOnCompleted(decltype(PortalModel::onCompleted) callback) { m_model->onCompleted = std::move(callback); }
    void setOnNeedsParameters(decltype(PortalModel::onNeedsParameters) callback) {
        m_model->onNeedsParameters = std::move(callback);
    }
    void setOnProgressChanged(decltype(PortalModel::onProgressChanged) callback) {
        m_model->onProgressChanged = std::move(callback);
    }

    // Set from the debug-logging preference; kept, nothing depends on it.
    bool diagnosticsEnabled = false;

    int activeConversionCount() const { return m_model->activeCount(); }
    std::vector<PortalModel::ActiveConversion> activeConversions() const { return m_model->activeConversions(); }

    void start();
    void stop();
    void updateTrigger(TriggerModifier trigger);
    // The keyboard-driven Portal for chosen files; nothing for no files.
    void present(const std::vector<std::filesystem::path>& files, PortalMode mode);
    void replaceEngines(std::shared_ptr<const RingTargetProviding> provider,
                        std::shared_ptr<ConversionCoordinator> coordinator);
    // Hides the Portal while a tool sheet is up and shows it again afterwards (only when it
    // still has something to show).
    void setPortalVisible(bool visible);
    void cancelAllConversions() { m_model->cancelAllConversions(); }
    void cancelConversion(const Uuid& id) { m_model->cancelConversion(id); }
    void cancelShownConversion() { m_model->cancelShownConversion(); }

private:
    void wire();
    void handle(const DragObserver::Signal& signal);

    // Destroyed in reverse: the window first, then the model it shows, then the observer.
    std::unique_ptr<DragObserver> m_observer;
    std::unique_ptr<PortalModel> m_model;
    std::unique_ptr<PortalPanel> m_panel;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace kolvex
