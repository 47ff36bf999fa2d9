// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/PortalDropView.h"

#include <filesystem>
#include <string_view>
#include <vector>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>

#include "core/services/Log.h"
#include "interaction/DragData.h"
#include "interaction/x11/DragSourceProcess.h"
#include "ui/portal/model/PortalModel.h"

namespace kolvex {

namespace {

// The files a drop carries, as the bytes its source sent: a name that is not UTF-8 keeps its
// bytes (Qt's own URL list would decode them as UTF-8 and lose them).
std::vector<std::filesystem::path> localFiles(const QMimeData* data) {
    if (!data) return {};
    for (const std::string_view type :
         {drag_data::kUriList, drag_data::kMozUrl, drag_data::kNetscapeUrl, drag_data::kPlainText}) {
        const QString name = QString::fromLatin1(type.data(), static_cast<qsizetype>(type.size()));
        if (!data->hasFormat(name)) continue;
        const QByteArray bytes = data->data(name);
        auto files = drag_data::filesFrom(type, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
        if (!files.empty()) return files;
    }
    // Data Qt made up from another type (a browser's URL list) comes only as URLs.
    std::vector<std::filesystem::path> files;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) files.emplace_back(url.toLocalFile().toStdString());
    }
    return files;
}

// The files a drop names. A drag out of one of our own windows names none here: the drag
// observer has read its files already, and asking Qt for them would wait on this very thread,
// which is the one to answer.
std::vector<std::filesystem::path> filesOf(const QDropEvent* event) {
    if (!event->source() && dragSourceIsThisProcess()) return {};
    return localFiles(event->mimeData());
}

std::string selectedLabel(const PortalModel& model) {
    const auto target = model.selectedTarget();
    return target ? target->label : std::string("none");
}

}  // namespace

PortalDropView::PortalDropView(PortalModel& model, QWidget* parent) : QWidget(parent), m_model(model) {
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
}

void PortalDropView::dragEnterEvent(QDragEnterEvent* event) {
    // Sources that would not name their files to the observer name them to their drop target.
    m_model.completePendingPayload(filesOf(event));
    m_model.setCursorInside(true);
    m_entered = true;
    Log::interaction().info("DROP-ENTER selection={}", selectedLabel(m_model));
    if (event->possibleActions() & Qt::CopyAction) event->setDropAction(Qt::CopyAction);
    event->accept();
}

void PortalDropView::dragMoveEvent(QDragMoveEvent* event) {
    m_entered = true;
    if (event->possibleActions() & Qt::CopyAction) event->setDropAction(Qt::CopyAction);
    event->accept();
}

void PortalDropView::dragLeaveEvent(QDragLeaveEvent* event) {
    m_model.setCursorInside(false);
    event->accept();
}

void PortalDropView::dropEvent(QDropEvent* event) {
    // A Portal that has gone (the trigger was let go) never takes a drop: it belongs to the
    // window under the pointer.
    const bool mayTake = m_gate ? m_gate() : m_model.isRevealed();
    if (!mayTake) {
        if (!m_gate) Log::interaction().info("DROP on a hidden Portal refused");
        event->ignore();
        return;
    }
    const auto files = filesOf(event);
    m_model.completePendingPayload(files);
    if (m_beforeDrop) m_beforeDrop();
    const std::string label = selectedLabel(m_model);
    const bool committed = m_model.commitDrop(files);
    Log::interaction().info("DROP target={} committed={}", label, committed);
    // Only a copy is ever reported as taken: a source told "moved" would delete the user's
    // files. When it offers no copy we convert all the same and report the drop as refused.
    if (committed && (event->possibleActions() & Qt::CopyAction)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

bool PortalDropView::commitUndeliveredDrop() {
    const std::string label = selectedLabel(m_model);
    const bool committed = m_model.commitDrop({});
    Log::interaction().info("DROP target={} committed={} (the drag's own files; its source sent no drop)", label,
                            committed);
    return committed;
}

void PortalDropView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_model.isShowingFormatList()) {
            m_model.commitFromList();
        } else {
            m_model.commit();
        }
        return;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        m_model.cycleMode();
        return;
    case Qt::Key_Escape:
        m_model.dismissByKeyboard();
        return;
    case Qt::Key_Backspace:
        if (m_model.isShowingFormatList()) {
            m_model.deleteSearchCharacter();
            return;
        }
        break;
    case Qt::Key_Left:
    case Qt::Key_Up:
        m_model.moveSelection(-1);
        return;
    case Qt::Key_Right:
    case Qt::Key_Down:
        m_model.moveSelection(1);
        return;
    default:
        break;
    }
    const QString text = event->text();
    if (m_model.takesSearchText(text.toStdString())) {
        m_model.beginFormatSearch(text.toStdString());
        return;
    }
    QWidget::keyPressEvent(event);  // passes it on
}

}  // namespace kolvex
