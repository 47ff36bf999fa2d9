// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

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

    // Run at a drop before the selected chip is read; the window uses it to catch the
    // selection up with the pointer.
    void setBeforeDrop(std::function<void()> beforeDrop) { m_beforeDrop = std::move(beforeDrop); }
    // Decides whether a drop may convert at all (and says why not in the log); without one, a
    // drop converts only while the Portal shows.
    void setDropGate(std::function<bool()> gate) { m_gate = std::move(gate); }
    // Whether a drag has entered the window since `forgetEntry` (at each reveal): its source took
    // the Portal for its drop target.
    bool sourceEntered() const { return m_entered; }
    void forgetEntry() { m_entered = false; }
    // The drop a source owed and never delivered: on a busy desktop a Qt or GTK source that has
    // not yet heard the Portal accept withdraws at the release instead of dropping. The drag's
    // files go to the selected chip as its drop would have sent them. True when something started.
    bool commitUndeliveredDrop();

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
    std::function<void()> m_beforeDrop;
    std::function<bool()> m_gate;
    bool m_entered = false;
};

}  // namespace kolvex
