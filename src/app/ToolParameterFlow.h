// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <QPointer>
#include <QWidget>

#include "app/PortalConnection.h"
#include "app/SheetRequest.h"
#include "app/ToolSheetFactory.h"
#include "core/ffmpeg/BundledFFmpeg.h"
#include "core/format/ConversionOptions.h"
#include "core/format/RingTarget.h"
#include "interaction/DragPayload.h"
#include "ui/sheets/BatchRun.h"

namespace kolvex {

// Routes a Portal tool that needs settings to its sheet (chosen by tool id), hosts the sheet in
// one window while the Portal is hidden, walks several files one sheet at a time where the tool
// or the user asks for that, and hands the chosen options back to the Portal — or discards the
// pending tool on Cancel, on closing the window, or when the sheet cannot be prepared.
// Only the latest request is answered: a newer one, or the Portal giving up (Escape, Cancel),
// ends the one before, with its preparation and its sheet. GUI thread only.
class ToolParameterFlow : public QObject {
    Q_OBJECT

public:
    // `portal` may be null (every Portal call is then skipped); it must outlive the flow.
    explicit ToolParameterFlow(PortalConnection* portal, QObject* parent = nullptr);
    ~ToolParameterFlow() override;

    void setPortal(PortalConnection* portal);
    void setRegistry(std::shared_ptr<const FormatRegistry> registry) { m_sources.registry = std::move(registry); }
    // The FFmpeg pair the application attached; the media sheets read their facts through it.
    void setFFmpeg(const std::optional<BundledFFmpeg>& tools);
    void setMediaFacts(std::shared_ptr<const MediaFacts> media) { m_sources.media = std::move(media); }
    void setTaskRunner(std::shared_ptr<TaskRunner> tasks) { m_sources.tasks = std::move(tasks); }
    void setPreferences(std::function<Preferences()> preferences) { m_sources.preferences = std::move(preferences); }
    // The sheets; none until they are built, and every tool that needs one is then discarded.
    void setSheets(std::shared_ptr<const ToolSheetFactory> sheets) { m_sheets = std::move(sheets); }

    // The Portal's request for parameters; ends any request before it.
    void collectParameters(const RingTarget& target, const DragPayload& payload);
    // The Portal stopped waiting: stops the preparation, closes the sheet, drops the walk.
    void withdraw();
    // A run has ended: unless a sheet is up (the next of a walk, say), nothing read for a job
    // stays open — that job has run, or never will.
    void runEnded();

    // The options every sheet starts from.
    static ConversionOptions baseOptions();
    // How long a sheet may take to prepare before the window opens with a placeholder.
    void setPlaceholderDelay(int milliseconds) { m_placeholderDelay = milliseconds; }

    QWidget* parameterWindow() const { return m_window; }
    const std::optional<BatchParameterRun>& walk() const { return m_walk; }
    const std::shared_ptr<SheetRequest>& request() const { return m_request; }

private:
    friend class SheetRequest;
    bool isCurrent(const SheetRequest& request) const { return m_request.get() == &request; }
    // Starts the sheet of `file`; a failure of a later walk step ends the walk.
    void begin(const RingTarget& target, const DragPayload& payload, const std::filesystem::path& file);
    void show(SheetRequest& request, const std::string& title, QWidget* view);
    // Says in the log that the sheet titled `title` is ready for an answer, with its window's
    // size in pixels once its layout has settled.
    void tellReady(const std::string& title);
    void showPlaceholder(const std::shared_ptr<SheetRequest>& request);
    // No choice: the walk's last one (a file that runs with defaults).
    void accept(SheetRequest& request, const ConversionOptions& options, std::optional<BatchChoice> choice);
    void acceptOrdered(SheetRequest& request, const std::vector<std::filesystem::path>& ordering);
    void advance(const ConversionOptions& options, bool startNow);
    void fail(SheetRequest& request, const std::string& reason);
    void cancel(SheetRequest& request, bool showPortal);
    BatchPrompt prompt(const SheetRequest& request, const std::string& finish) const;
    // Ends the current request and the walk; closes the window. Says nothing to the Portal.
    void end();
    // The same for a sheet no job follows: also lets go of what was read for that job.
    void endWithoutJob();
    void closeWindow();
    void discard();

    PortalConnection* m_portal = nullptr;
    SheetSources m_sources;
    std::shared_ptr<const ToolSheetFactory> m_sheets;
    std::shared_ptr<SheetRequest> m_request;
    std::optional<BatchParameterRun> m_walk;
    std::optional<RingTarget> m_walkTarget;
    std::optional<DragPayload> m_walkPayload;
    QPointer<QWidget> m_window;
    int m_placeholderDelay = 150;
};

}  // namespace kolvex
