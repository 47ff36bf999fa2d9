// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <vector>

#include "ui/windows/FileChooser.h"

namespace kolvex::testing {

// A chooser that shows nothing: it keeps each request until the test answers it.
class FakeFileChooser final : public FileChooser {
public:
    Id show(const Request& request, Answer answer) override {
        const Id id = ++m_lastId;
        m_shown.emplace(id, Entry{request, std::move(answer)});
        requests.push_back(request);
        return id;
    }
    void withdraw(Id id) override {
        if (m_shown.erase(id)) ++withdrawn;
    }
    bool isShown(Id id) const override { return m_shown.count(id) > 0; }

    // How many choosers are up now.
    std::size_t shownCount() const { return m_shown.size(); }
    // The user answers the chooser shown last (nothing: cancelled). False when none is up.
    bool answer(std::vector<std::filesystem::path> chosen) {
        if (m_shown.empty()) return false;
        auto last = std::prev(m_shown.end());
        Answer reply = std::move(last->second.answer);
        m_shown.erase(last);
        if (reply) reply(std::move(chosen));
        return true;
    }

    std::vector<Request> requests;
    int withdrawn = 0;

private:
    struct Entry {
        Request request;
        Answer answer;
    };
    Id m_lastId = 0;
    std::map<Id, Entry> m_shown;
};

}  // namespace kolvex::testing
