#include "app/ToolParameterFlow.h"

#include <set>

#include <QEvent>
#include <QVBoxLayout>

#include "core/format/FormatRegistry.h"
#include "core/services/Log.h"
#include "core/services/PathUtils.h"
#include "ui/windows/EditingMenu.h"
#include "ui/windows/WindowPlacement.h"

namespace kolvex {

namespace {

// The sheet's window: closing it with the title-bar button counts as the sheet's Cancel, so
// the Portal never waits for parameters that will not come.
class ParameterWindow : public QWidget {
public:
    explicit ParameterWindow(std::function<void()> onClose) : m_onClose(std::move(onClose)) {}
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
};

}  // namespace

ToolParameterFlow::ToolParameterFlow(PortalConnection* portal, QObject* parent) : QObject(parent), m_portal(portal) {}

ToolParameterFlow::~ToolParameterFlow() {
    if (m_window) {
        static_cast<ParameterWindow*>(m_window.data())->closeQuietly();
        delete m_window.data();
    }
}

ConversionOptions ToolParameterFlow::baseOptions() {
    return ConversionOptions{};
}

void ToolParameterFlow::collectParameters(const RingTarget& target, const DragPayload& payload, bool /*continuing*/) {
    const auto primary = payload.primary();
    if (!primary || !target.toolID) {
        discard();
        return;
    }
    const std::string& tool = *target.toolID;
    if (m_presenter && m_presenter->present(*this, target, payload, *primary)) return;

    // No sheet to offer. Extract-audio then runs at once with its defaults, and so does split
    // for a file that is neither video nor audio; every other tool cannot run without settings.
    std::optional<FormatCategory> category;
    if (m_registry) {
        if (auto format = m_registry->formatFor(*primary)) category = format->category;
    }
    const bool isMedia = category == FormatCategory::video || category == FormatCategory::audio;
    if (tool == "extract-audio" || (tool == "split" && !isMedia)) {
        if (m_portal) m_portal->applyParameters(baseOptions());
        return;
    }
    static const std::set<std::string> kKnownTools{"crop", "rotate", "flip", "resize", "compress",
                                                   "trim", "split", "merge"};
    if (kKnownTools.contains(tool))
        Log::app().error("Could not open the {} settings for {}", tool, paths::lastComponent(*primary));
    discard();
}

void ToolParameterFlow::presentParameters(const std::string& title, QWidget* view) {
    closeWindow();
    if (m_portal) m_portal->setPortalVisible(false);
    auto* window = new ParameterWindow([this] {
        // Closed by the user: the same as the sheet's Cancel.
        m_window.clear();
        discard();
    });
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QString::fromStdString(title));
    window->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint |
                           Qt::MSWindowsFixedSizeDialogHint);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    EditingMenu::install(window);
    placement::centerOnActiveScreen(window);
    window->show();
    window->raise();
    window->activateWindow();
    m_window = window;
}

void ToolParameterFlow::handBack(const ConversionOptions& options) {
    closeWindow();
    if (!m_portal) return;
    m_portal->setPortalVisible(true);
    m_portal->applyParameters(options);
}

void ToolParameterFlow::cancelSheet() {
    closeWindow();
    discard();
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
