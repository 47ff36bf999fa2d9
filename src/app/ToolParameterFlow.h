#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <QPointer>
#include <QWidget>

#include "app/PortalConnection.h"
#include "app/ToolSheetPresenter.h"
#include "core/format/ConversionOptions.h"
#include "core/format/RingTarget.h"
#include "interaction/DragPayload.h"

namespace kolvex {

class FormatRegistry;

// Routes a Portal tool that needs settings to its sheet, hosts the sheet in one window while
// the Portal is hidden, and hands the chosen options back to the Portal — or discards the
// pending tool on Cancel, on closing the window, or when there is no sheet for the tool.
// GUI thread only.
class ToolParameterFlow : public QObject {
    Q_OBJECT

public:
    // `portal` may be null (every Portal call is then skipped); both must outlive the flow.
    explicit ToolParameterFlow(PortalConnection* portal, QObject* parent = nullptr);
    ~ToolParameterFlow() override;

    void setPortal(PortalConnection* portal) { m_portal = portal; }
    void setRegistry(std::shared_ptr<const FormatRegistry> registry) { m_registry = std::move(registry); }
    // The sheets; none until they are built, and every tool that needs one is then discarded.
    void setPresenter(std::shared_ptr<ToolSheetPresenter> presenter) { m_presenter = std::move(presenter); }

    // The Portal's request for parameters.
    void collectParameters(const RingTarget& target, const DragPayload& payload, bool continuing = false);

    // Shows `view` in the parameter window (titled, closable, centred on the active screen),
    // replacing an earlier sheet; the Portal panel leaves the screen meanwhile. Takes `view`.
    void presentParameters(const std::string& title, QWidget* view);
    // One set of options for every dropped file: closes the sheet, shows the Portal, runs.
    void handBack(const ConversionOptions& options);
    // Cancel of a sheet: closes it and discards the pending tool.
    void cancelSheet();
    // Closes the sheet without a word to the Portal (the end of a per-file walk).
    void closeSheet() { closeWindow(); }

    // The options every sheet starts from.
    static ConversionOptions baseOptions();

    QWidget* parameterWindow() const { return m_window; }
    // The Portal the sheets hand their options to (per-file walks call it directly); may be null.
    PortalConnection* portal() const { return m_portal; }
    const std::shared_ptr<const FormatRegistry>& registry() const { return m_registry; }

private:
    void closeWindow();
    void discard();

    PortalConnection* m_portal;
    std::shared_ptr<const FormatRegistry> m_registry;
    std::shared_ptr<ToolSheetPresenter> m_presenter;
    QPointer<QWidget> m_window;
};

}  // namespace kolvex
