#pragma once

#include <QWidget>

namespace kolvex {

class PortalModel;

// The Portal window's content: the drop target for the dragged files and the Portal's keys.
// It accepts every drag that enters (a refused entry loses the drag for good on X11) and
// decides at the drop. GUI thread.
class PortalDropView : public QWidget {
    Q_OBJECT

public:
    PortalDropView(PortalModel& model, QWidget* parent = nullptr);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Tab switches the ring; it never moves the focus away.
    bool focusNextPrevChild(bool) override { return false; }

private:
    PortalModel& m_model;
};

}  // namespace kolvex
