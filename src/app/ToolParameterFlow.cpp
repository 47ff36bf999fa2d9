// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ToolParameterFlow.h"

#include <cmath>

#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/TrayWiring.h"
#include "core/format/ToolSettings.h"
#include "core/services/Log.h"
#include "ui/sheets/PreparingView.h"
#include "ui/windows/EditingMenu.h"
#include "ui/windows/WindowPlacement.h"

namespace kolvex {

namespace {

// The first control of `view` that takes the focus by Tab (its first field), else its default
// button, else the view itself.
void focusFirstField(QWidget* view) {
    for (QWidget* w = view->nextInFocusChain(); w && w != view; w = w->nextInFocusChain()) {
        if (!view->isAncestorOf(w)) continue;
        if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && w->isVisibleTo(view)) {
            w->setFocus(Qt::TabFocusReason);
            return;
        }
    }
    for (auto* button : view->findChildren<QPushButton*>()) {
        if (button->isDefault() && button->isVisibleTo(view)) {
            button->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
    view->setFocus(Qt::OtherFocusReason);
}

// The sheet's window: closing it with the title-bar button counts as the sheet's Cancel, so
// the Portal never waits for parameters that will not come.
class ParameterWindow : public QWidget {
public:
    explicit ParameterWindow(std::function<void()> onClose) : m_onClose(std::move(onClose)) {
        setAttribute(Qt::WA_DeleteOnClose);
        // A sheet: titled and closable, never minimised or maximised.
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                       Qt::WindowStaysOnTopHint);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSizeConstraint(QLayout::SetFixedSize);
        EditingMenu::install(this, false);  // Escape is the sheet's Cancel
    }

    // Shows `view` in place of the sheet before it (which goes once its own handlers are done).
    // The new sheet takes the keyboard: its keys (Return, Escape) are bound to the sheet and
    // answer only while something inside it has the focus, and hiding the sheet before took
    // the focus with it.
    void setContent(QWidget* view) {
        if (m_content) {
            m_content->hide();
            layout()->removeWidget(m_content);
            m_content->deleteLater();
        }
        m_content = view;
        layout()->addWidget(view);
        view->show();
        focusFirstField(view);
    }
    QWidget* content() const { return m_content; }

    void closeQuietly() {
        m_onClose = nullptr;
        close();
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        auto onClose = std::move(m_onClose);
        m_onClose = nullptr;
        QWidget::closeEvent(event);
        if (onClose) onClose();
    }

private:
    std::function<void()> m_onClose;
    QPointer<QWidget> m_content;
};

}  // namespace

ToolParameterFlow::ToolParameterFlow(PortalConnection* portal, QObject* parent) : QObject(parent) {
    setPortal(portal);
}

ToolParameterFlow::~ToolParameterFlow() {
    const QPointer<QWidget> window = m_window;
    setPortal(nullptr);
    delete window.data();  // closed already; not left for an event loop that may not run again
}

void ToolParameterFlow::setPortal(PortalConnection* portal) {
    if (portal == m_portal && portal) return;
    if (m_portal) m_portal->onParametersWithdrawn = nullptr;
    // A request of another Portal has nobody left to answer.
    end();
    m_portal = portal;
    if (m_portal) m_portal->onParametersWithdrawn = [this] { withdraw(); };
}

void ToolParameterFlow::setFFmpeg(const std::optional<BundledFFmpeg>& tools) {
    m_sources.media = tools ? TrayWiring::mediaFacts() : nullptr;
}

ConversionOptions ToolParameterFlow::baseOptions() {
    return ConversionOptions{};
}

void ToolParameterFlow::collectParameters(const RingTarget& target, const DragPayload& payload) {
    end();
    const auto primary = payload.primary();
    if (!primary || !target.toolID) {
        discard();
        return;
    }
    begin(target, payload, *primary);
}

void ToolParameterFlow::begin(const RingTarget& target, const DragPayload& payload, const std::filesystem::path& file) {
    SheetSources sources = m_sources;
    if (!sources.tasks) sources.tasks = QtTaskRunner::shared();
    auto request = std::make_shared<SheetRequest>(*this, target, payload, file, sources);
    if (m_request) m_request->stop();
    m_request = request;

    const ToolSheetPresenter* presenter = m_sheets ? m_sheets->presenter(request->tool()) : nullptr;
    if (!presenter) {
        if (toolSettings(request->tool()) == ToolSettings::defaults) request->runWithDefaults();
        else request->fail("No settings sheet for " + request->target().label);
        return;
    }
    presenter->present(request);
    if (!isCurrent(*request) || request->m_shown) return;
    std::weak_ptr<SheetRequest> weak = request;
    QTimer::singleShot(m_placeholderDelay, this, [this, weak] {
        auto pending = weak.lock();
        if (pending && isCurrent(*pending) && !pending->m_shown) showPlaceholder(pending);
    });
}

void ToolParameterFlow::showPlaceholder(const std::shared_ptr<SheetRequest>& request) {
    auto* view = new PreparingView(request->fileName(), [request] { request->cancel(); });
    show(*request, request->target().label + " " + request->fileName(), view);
}

void ToolParameterFlow::show(SheetRequest& request, const std::string& title, QWidget* view) {
    if (!isCurrent(request)) {
        delete view;
        return;
    }
    auto* window = static_cast<ParameterWindow*>(m_window.data());
    if (!window) {
        if (m_portal) m_portal->setPortalVisible(false);
        window = new ParameterWindow([this] {
            // Closed by the user: the same as the sheet's Cancel.
            m_window.clear();
            auto keep = m_request;
            end();
            discard();
        });
        m_window = window;
    }
    window->setWindowTitle(QString::fromStdString(title));
    window->setContent(view);
    window->adjustSize();
    placement::centerOnActiveScreen(window);
    window->show();
    window->raise();
    window->activateWindow();
}

void ToolParameterFlow::tellReady(const std::string& title) {
    // After the layout requests that the last changes posted, so the size is the one shown.
    QTimer::singleShot(0, this, [this, title] {
        QWidget* window = m_window.data();
        if (!window || window->windowTitle().toStdString() != title) return;
        if (window->layout()) window->layout()->activate();
        const double ratio = window->devicePixelRatioF();
        Log::app().info("Sheet ready: {} ({}x{})", title, std::lround(window->width() * ratio),
                        std::lround(window->height() * ratio));
    });
}

BatchPrompt ToolParameterFlow::prompt(const SheetRequest& request, const std::string& finish) const {
    BatchPrompt p;
    if (m_walk) {
        p.count = static_cast<int>(m_walk->urls().size());
        p.position = m_walk->position();
        p.advanceLabel = m_walk->advanceLabel(finish);
        p.startsImmediately = m_walk->startsImmediately();
        return p;
    }
    const auto settings = toolSettings(request.tool());
    p.count = static_cast<int>(request.payload().count());
    if (settings == ToolSettings::sheetPerFile && p.count >= 2) p.position = "File 1 of " + std::to_string(p.count);
    p.offersIndividual = settings == ToolSettings::sheetOrEachFile;
    p.advanceLabel = p.position ? "Next" : finish;
    return p;
}

void ToolParameterFlow::accept(SheetRequest& request, const ConversionOptions& options,
                               std::optional<BatchChoice> choice) {
    auto keep = m_request;
    if (m_walk) {
        advance(options, choice ? choice->startsImmediately : m_walk->startsImmediately());
        return;
    }
    const auto settings = toolSettings(request.tool());
    const bool eachFile = settings == ToolSettings::sheetPerFile ||
                          (settings == ToolSettings::sheetOrEachFile && choice && choice->setEachIndividually);
    if (eachFile && request.payload().count() >= 2) {
        m_walk.emplace(request.payload().urls, choice ? choice->startsImmediately : true);
        m_walkTarget = request.target();
        m_walkPayload = request.payload();
        advance(options, m_walk->startsImmediately());
        return;
    }
    end();
    if (!m_portal) return;
    m_portal->setPortalVisible(true);
    m_portal->applyParameters(options);
}

void ToolParameterFlow::acceptOrdered(SheetRequest&, const std::vector<std::filesystem::path>& ordering) {
    auto keep = m_request;
    end();
    if (!m_portal) return;
    m_portal->setPortalVisible(true);
    m_portal->applyParameters(baseOptions(), ordering);
}

void ToolParameterFlow::advance(const ConversionOptions& options, bool startNow) {
    // Whether this file starts now is decided here, with it, whatever later sheets choose.
    m_walk->setStartsImmediately(startNow);
    if (auto started = m_walk->accept(options); started && m_portal)
        m_portal->applyParametersToOne(started->second, started->first);
    // A file that the answer given for this drop skips gets no sheet (the Portal tells it as
    // skipped), judged by the names that the settings just chosen would write for it.
    while (m_portal && m_walk->current() && m_portal->skipsInWalk(options, *m_walk->current())) m_walk->skip();
    if (auto next = m_walk->current()) {
        // The sheet before stays up until the next one (or its placeholder) replaces it.
        begin(*m_walkTarget, *m_walkPayload, *next);
        return;
    }
    const auto pending = m_walk->pending();
    end();
    if (!m_portal) return;
    m_portal->setPortalVisible(true);
    m_portal->finishParameterRun(pending);
}

void ToolParameterFlow::fail(SheetRequest& request, const std::string& reason) {
    auto keep = m_request;
    Log::app().error("Could not open the {} settings for {}: {}", request.tool(), request.fileName(), reason);
    endWithoutJob();
    // The user is told why, in the Portal and in a notification.
    if (m_portal) {
        m_portal->setPortalVisible(true);
        m_portal->failParameters(reason, request.file());
    }
}

void ToolParameterFlow::cancel(SheetRequest&, bool showPortal) {
    auto keep = m_request;
    endWithoutJob();
    if (showPortal && m_portal) m_portal->setPortalVisible(true);
    discard();
}

void ToolParameterFlow::withdraw() {
    endWithoutJob();
}

void ToolParameterFlow::runEnded() {
    if (!m_request && m_sources.media) m_sources.media->letGo();
}

void ToolParameterFlow::endWithoutJob() {
    end();
    // After the reads were stopped: a file kept open for the job is closed now, not when the
    // next sheet or job comes (an open file keeps a removable disk busy, a deleted one's space
    // taken).
    if (m_sources.media) m_sources.media->letGo();
}

void ToolParameterFlow::end() {
    if (m_request) m_request->stop();
    m_request.reset();
    m_walk.reset();
    m_walkTarget.reset();
    m_walkPayload.reset();
    closeWindow();
}

void ToolParameterFlow::closeWindow() {
    if (!m_window) return;
    auto* window = static_cast<ParameterWindow*>(m_window.data());
    m_window.clear();
    window->closeQuietly();
}

void ToolParameterFlow::discard() {
    if (m_portal) m_portal->discardParameters();
}

}  // namespace kolvex
