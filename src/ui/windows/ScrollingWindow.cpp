// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/windows/ScrollingWindow.h"

#include <algorithm>

#include <QFrame>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>

namespace kolvex::scrolling {

QScrollArea* wrap(QWidget* content) {
    auto* area = new QScrollArea;
    area->setFrameShape(QFrame::NoFrame);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    area->setWidgetResizable(true);
    area->setWidget(content);
    // Wide enough for the content with the bar beside it, so nothing is cut sideways.
    const int bar = area->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, area);
    area->setMinimumWidth(content->minimumSizeHint().expandedTo(content->minimumSize()).width() + bar);
    area->setMinimumHeight(std::min(content->sizeHint().height(), 160));
    return area;
}

void fit(QWidget* window, const QRect& available) {
    window->adjustSize();
    QSize size = window->sizeHint();
    if (auto* area = window->findChild<QScrollArea*>(); area && area->widget()) {
        // The scroll area's own size hint stops at a couple of dozen lines, and the geometry of a
        // window not shown yet is not laid out: ask the content how tall it is at its width (its
        // wrapped lines make it taller when narrower), and the window what it adds around the area.
        QWidget* content = area->widget();
        const int width = std::max({content->minimumWidth(), content->sizeHint().width(), 1});
        const int height = content->hasHeightForWidth() ? content->heightForWidth(width) : content->sizeHint().height();
        const int around = std::max(window->sizeHint().height() - area->sizeHint().height(), 0);
        size.setHeight(std::max(size.height(), height + around));
        size.setWidth(std::max(size.width(), area->minimumWidth()));
    }
    const int tallest = std::max(available.height() - kFrameAllowance, window->minimumHeight());
    window->resize(std::min(size.width(), std::max(available.width(), window->minimumWidth())),
                   std::min(size.height(), tallest));
}

}  // namespace kolvex::scrolling
