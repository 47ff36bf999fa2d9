// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include <QImage>
#include <QPainter>

#include "interaction/PortalPlacement.h"
#include "ui/portal/model/PortalMotion.h"

namespace kolvex {

// The picture of the dragged files at the Portal's centre: the first file's thumbnail, a
// count badge for several files, an optional caption, all leaning toward the pointer. No
// state of its own. GUI thread.
struct FileNodeView {
    // How far the node leans toward the pointer (view coordinates, y down): at most
    // `nodeLeanCap` points, none under Reduce Motion or at the centre.
    static QPointF leanOffset(PortalPlacement::CursorVector cursor, const PortalMotion& motion);
    // Paints the node centred on `centre` (the lean already applied by the caller).
    static void paint(QPainter& painter, QPointF centre, const QImage& thumbnail, int fileCount,
                      const std::optional<std::string>& targetLabel);
    // Whether a count badge is drawn.
    static bool showsBadge(int fileCount) { return fileCount >= 2; }
};

}  // namespace kolvex
