// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/model/PortalScheduler.h"

#include <QTimer>

namespace kolvex {

QtPortalScheduler::QtPortalScheduler(std::shared_ptr<TaskRunner> runner) : m_runner(std::move(runner)) {}

void QtPortalScheduler::after(Duration delay, std::function<void()> fn) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(delay);
    QTimer::singleShot(std::max<std::chrono::milliseconds>(ms, std::chrono::milliseconds(0)), Qt::PreciseTimer,
                       &m_context, std::move(fn));
}

}  // namespace kolvex
