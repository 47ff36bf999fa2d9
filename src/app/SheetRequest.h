// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include <QPointer>

#include "core/ffmpeg/preview/MediaFacts.h"
#include "core/format/ConversionOptions.h"
#include "core/format/FormatManifest.h"
#include "core/format/RingTarget.h"
#include "core/services/Preferences.h"
#include "interaction/DragPayload.h"
#include "ui/async/AsyncTask.h"
#include "ui/sheets/BatchRun.h"

class QWidget;

namespace kolvex {

class FormatRegistry;
class ToolParameterFlow;

// What the sheets work with: the registry, the media facts over the FFmpeg pair the
// application attached (none until it is), the settings, and where background work runs.
struct SheetSources {
    std::shared_ptr<const FormatRegistry> registry;
    std::shared_ptr<const MediaFacts> media;
    std::function<Preferences()> preferences;
    std::shared_ptr<TaskRunner> tasks;
};

// One request for a tool's settings as a presenter sees it: the target and files it was opened
// for, what it may read, and the ways it can end. A request is over once a newer one is pending,
// the Portal stopped waiting, or the user cancelled: its stop token is triggered, its background
// work hands nothing back and every ending below does nothing. GUI thread only.
class SheetRequest {
public:
    SheetRequest(ToolParameterFlow& flow, RingTarget target, DragPayload payload, std::filesystem::path file,
                 SheetSources sources);
    ~SheetRequest() { stop(); }
    SheetRequest(const SheetRequest&) = delete;
    SheetRequest& operator=(const SheetRequest&) = delete;

    const RingTarget& target() const { return m_target; }
    const std::string& tool() const { return m_tool; }
    // The Portal's files; during a walk still all of them.
    const DragPayload& payload() const { return m_payload; }
    // The file this sheet is for: the payload's first, or the walk's current one.
    const std::filesystem::path& file() const { return m_file; }
    std::string fileName() const;
    std::optional<Format> format() const;
    bool isMedia() const;
    bool isVideo() const;
    // The registry, media facts and settings (where work runs is the request's own business).
    const SheetSources& sources() const { return m_sources; }
    Preferences preferences() const;
    // What the sheet says about the batch: the walk's step during a walk, else the payload's.
    BatchPrompt prompt(const std::string& finish) const;

    bool isCurrent() const;
    std::stop_token stopToken() const { return m_stop.get_token(); }

    // Reads something for the sheet off the GUI thread. `done` runs only while the request is
    // current; a failure of `work` ends the request (fail) unless `failed` handles it. Once the
    // sheet is shown and nothing it reads is still out, the log says "Sheet ready: <title>".
    template <typename T>
    void prepare(std::function<T(std::stop_token)> work, std::function<void(T)> done,
                 AsyncTask::Failed failed = {});

    // Shows `view` (taken) as this request's sheet, replacing whatever the window showed.
    void show(const std::string& title, QWidget* view);
    // The sheet's answer: into the walk, a new walk, or one set of options for every file.
    void apply(const ConversionOptions& options, const BatchChoice& choice = {});
    // The merge sheet's answer: every file, in this order.
    void applyOrdered(const std::vector<std::filesystem::path>& ordering);
    // Nothing to ask for this file: it runs with the options every tool starts from.
    void runWithDefaults();
    // The sheet cannot be prepared: logged with `reason`, the walk dropped, the tool discarded.
    void fail(const std::string& reason);
    // The sheet's Cancel; `showPortal` brings the Portal back before it lets go of the tool.
    void cancel(bool showPortal = false);

private:
    friend class ToolParameterFlow;
    // Ends the request: its work is asked to stop and hands nothing back.
    void stop();
    // One read for the sheet came back (or failed).
    void prepared();
    void tellIfReady();

    QPointer<ToolParameterFlow> m_flow;
    RingTarget m_target;
    std::string m_tool;
    DragPayload m_payload;
    std::filesystem::path m_file;
    SheetSources m_sources;      // without the runner: work waiting in it holds this request
    std::weak_ptr<TaskRunner> m_runner;
    std::stop_source m_stop;
    std::vector<AsyncTask> m_tasks;
    bool m_shown = false;
    std::string m_title;
    int m_preparing = 0;  // reads started and not yet back
    bool m_toldReady = false;
    std::shared_ptr<const bool> m_alive = std::make_shared<const bool>(true);
};

template <typename T>
void SheetRequest::prepare(std::function<T(std::stop_token)> work, std::function<void(T)> done,
                           AsyncTask::Failed failed) {
    const auto runner = m_runner.lock();
    if (!isCurrent() || !runner) return;
    auto token = stopToken();
    auto guarded = [work = std::move(work), token](std::stop_token taskStop) {
        // Either the task or the request stopping ends the work.
        std::stop_source both;
        const std::stop_callback a(taskStop, [&both] { both.request_stop(); });
        const std::stop_callback b(token, [&both] { both.request_stop(); });
        return work(both.get_token());
    };
    if (!failed) failed = [this](const std::string& reason) { fail(reason); };
    ++m_preparing;
    // What `done` or `failed` sets off may end this request: it is counted only while it lives.
    const std::weak_ptr<const bool> alive = m_alive;
    m_tasks.push_back(AsyncTask::start<T>(*runner, m_flow.data(), std::move(guarded),
                                          [this, alive, done = std::move(done)](T value) {
                                              if (isCurrent()) done(std::move(value));
                                              if (alive.lock()) prepared();
                                          },
                                          [this, alive, failed = std::move(failed)](const std::string& reason) {
                                              if (isCurrent()) failed(reason);
                                              if (alive.lock()) prepared();
                                          }));
}

}  // namespace kolvex
