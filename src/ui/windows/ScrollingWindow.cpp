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
        const QSize wanted = area->widget()->sizeHint();
        size.setHeight(std::max(size.height(), wanted.height() + window->height() - area->height()));
        size.setWidth(std::max(size.width(), area->minimumWidth()));
    }
    const int tallest = std::max(available.height() - kFrameAllowance, window->minimumHeight());
    window->resize(std::min(size.width(), std::max(available.width(), window->minimumWidth())),
                   std::min(size.height(), tallest));
}

}  // namespace kolvex::scrolling
