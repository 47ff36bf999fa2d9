// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/model/DropQuestions.h"

#include "core/services/Log.h"

namespace kolvex {

DropQuestions::DropQuestions(Surroundings surroundings)
    : m_env(std::move(surroundings)), m_questions(m_env.scheduler, m_env.owner) {}

DropQuestions::~DropQuestions() { stop(std::nullopt); }

void DropQuestions::stepAside() {
    if (m_stepsAside) return;
    m_stepsAside = true;
    if (m_env.asking) m_env.asking(true);
}

void DropQuestions::comeBack() {
    if (!m_stepsAside) return;
    m_stepsAside = false;
    if (m_env.asking) m_env.asking(false);
}

bool DropQuestions::askAtCommit(const RingTarget& target, const DragPayload& payload, bool hasSheet,
                                const std::function<void()>& beforeAsking,
                                std::function<void(std::optional<RunAnswers>)> answered) {
    stop(std::nullopt);
    const auto service = m_env.service ? m_env.service() : nullptr;
    if (!service) return false;  // stand-in work writes nothing: there is nothing to ask about
    const Preferences settings = m_env.preferences ? m_env.preferences() : Preferences{};
    RunQuestions::ChooseFolder chooseFolder;
    if (auto beside = m_env.chooseFolder ? m_env.chooseFolder() : nullptr) {
        chooseFolder = [beside = std::move(beside), window = payload.sourceWindow](auto answer) {
            beside(window, std::move(answer));
        };
    }
    const RunQuestions::AskAboutNames askAboutNames = m_env.askAboutNames ? m_env.askAboutNames() : nullptr;
    const bool asksFolder = RunQuestions::asksFolder(settings, chooseFolder);
    // A tool's sheet decides what its outputs are called: its names are asked about once the
    // sheet has chosen.
    const bool asksNames = !hasSheet && RunQuestions::asksNames(settings, askAboutNames);
    if (!asksFolder && !asksNames) return false;

    m_asked = Asked{target, payload.urls, true};
    std::weak_ptr<bool> alive = m_alive;
    const auto category = m_env.provider()->category(payload.urls);
    RunQuestions::Asking asking;
    asking.service = service;
    asking.requests = [target, urls = payload.urls, settings, category](const RunAnswers& answers) {
        return std::vector<PortalRequest>{PortalRequest::build(target, urls, settings, category, std::nullopt, answers)};
    };
    if (asksFolder) asking.chooseFolder = chooseFolder;
    if (asksNames) asking.askAboutNames = askAboutNames;
    asking.withdraw = m_env.withdrawQuestion;
    asking.aboutToAsk = [this, alive] {
        if (!alive.expired()) stepAside();
    };
    asking.answered = [this, alive, hasSheet, answered = std::move(answered)](std::optional<RunAnswers> answers) {
        if (alive.expired()) return;
        m_asked.reset();
        // A tool's sheet keeps the Portal away; the sheet's end brings it back.
        if (!(answers && hasSheet)) comeBack();
        answered(std::move(answers));
    };
    if (beforeAsking) beforeAsking();
    m_questions.ask(std::move(asking));
    return true;
}

void DropQuestions::afterNames(const RingTarget& target, std::vector<Group> groups, const RunAnswers& known,
                               std::function<void(const RunAnswers&)> answered, std::function<void()> go) {
    if (m_asked && !m_asked->atCommit) {
        // A sheet handed more over while the names of what it handed before are asked about:
        // it goes on once they are answered, with that answer.
        m_afterNames.push_back(std::move(go));
        return;
    }
    const auto service = m_env.service ? m_env.service() : nullptr;
    const Preferences settings = service && m_env.preferences ? m_env.preferences() : Preferences{};
    const RunQuestions::AskAboutNames askAboutNames = m_env.askAboutNames ? m_env.askAboutNames() : nullptr;
    if (groups.empty() || known.keepBoth || !service || !RunQuestions::asksNames(settings, askAboutNames)) {
        go();
        return;
    }
    std::vector<std::filesystem::path> urls;
    for (const auto& group : groups) urls.insert(urls.end(), group.urls.begin(), group.urls.end());
    m_asked = Asked{target, urls, false};
    m_afterNames.push_back(std::move(go));
    // The sheet's end may have brought the Portal back: it goes out of the way at once, before
    // the names are looked up, so that it never shows over the question.
    m_stepsAside = false;
    stepAside();
    m_namesAnswered = std::move(answered);
    std::weak_ptr<bool> alive = m_alive;
    const auto category = m_env.provider()->category(urls);
    RunQuestions::Asking asking;
    asking.service = service;
    asking.answers = known;
    asking.requests = [target, groups = std::move(groups), settings, category](const RunAnswers& answers) {
        std::vector<PortalRequest> requests;
        for (const auto& group : groups)
            requests.push_back(PortalRequest::build(target, group.urls, settings, category, group.options, answers));
        return requests;
    };
    asking.askAboutNames = askAboutNames;
    asking.withdraw = m_env.withdrawQuestion;
    asking.aboutToAsk = [this, alive] {
        if (!alive.expired()) stepAside();
    };
    asking.answered = [this, alive, known](std::optional<RunAnswers> answers) {
        if (alive.expired()) return;
        m_asked.reset();
        auto waiting = std::move(m_afterNames);
        m_afterNames.clear();
        auto told = std::move(m_namesAnswered);
        m_namesAnswered = nullptr;
        if (told) told(answers ? *answers : known);
        for (auto& next : waiting) next();
        // The Portal comes back for a run it shows; while a walk goes on, its next sheet has it.
        if (!(m_env.sheetPending && m_env.sheetPending())) comeBack();
    };
    m_questions.ask(std::move(asking));
}

void DropQuestions::stop(const std::optional<std::string>& why) {
    const auto asked = std::move(m_asked);
    m_asked.reset();
    m_afterNames.clear();
    m_namesAnswered = nullptr;
    const bool wasAsking = m_questions.withdraw();
    m_stepsAside = false;
    if (!wasAsking || !asked || !why) return;
    // The drop is not converted: said, as a failure of each of its files, so it is never lost
    // without a word.
    Log::conversion().info("Not converted, {} file(s) for {}: {}", asked->urls.size(), asked->target.label, *why);
    if (!m_env.completed) return;
    RunReport report;
    for (const auto& url : asked->urls) report.failures.push_back({url, *why});
    m_env.completed(report);
}

}  // namespace kolvex
