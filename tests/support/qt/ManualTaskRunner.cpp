// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/qt/ManualTaskRunner.h"

namespace kolvex::testing {

void ManualTaskRunner::background(std::function<void(std::stop_token)> work) {
    std::lock_guard lock(m_mutex);
    m_work.push_back(std::move(work));
}

void ManualTaskRunner::post(std::function<void()> fn) {
    std::lock_guard lock(m_mutex);
    m_posted.push_back(std::move(fn));
}

void ManualTaskRunner::runPosted() {
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard lock(m_mutex);
            if (m_posted.empty()) return;
            fn = std::move(m_posted.front());
            m_posted.pop_front();
        }
        fn();
    }
}

bool ManualTaskRunner::runOne() {
    std::function<void(std::stop_token)> work;
    {
        std::lock_guard lock(m_mutex);
        if (m_work.empty()) return false;
        work = std::move(m_work.front());
        m_work.pop_front();
    }
    work(m_stop.get_token());
    runPosted();
    return true;
}

void ManualTaskRunner::runAll() {
    runPosted();
    while (runOne()) {
    }
}

size_t ManualTaskRunner::pending() const {
    std::lock_guard lock(m_mutex);
    return m_work.size();
}

}  // namespace kolvex::testing
