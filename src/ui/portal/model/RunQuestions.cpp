// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/model/RunQuestions.h"

#include <variant>

#include "core/services/Log.h"
#include "ui/async/AsyncTask.h"

namespace kolvex {

namespace fs = std::filesystem;

struct RunQuestions::Current {
    Asking asking;
    bool questionUp = false;  // a question window waits for its answer
};

RunQuestions::RunQuestions(std::shared_ptr<PortalScheduler> scheduler, QObject* owner)
    : m_scheduler(std::move(scheduler)), m_owner(owner) {}

RunQuestions::~RunQuestions() { withdraw(); }

bool RunQuestions::asksFolder(const Preferences& preferences, const ChooseFolder& chooseFolder) {
    return preferences.outputLocation == Preferences::OutputLocation::ask && chooseFolder;
}

bool RunQuestions::asksNames(const Preferences& preferences, const AskAboutNames& askAboutNames) {
    return preferences.conflictBehaviour == Preferences::ConflictBehaviour::ask && askAboutNames;
}

bool RunQuestions::withdraw() {
    if (!m_current) return false;
    const auto current = std::move(m_current);
    m_current.reset();
    if (current->questionUp) {
        current->questionUp = false;
        Log::conversion().info("A question was taken down unanswered: its drop was replaced or cancelled");
        if (current->asking.withdraw) current->asking.withdraw();
    }
    return true;
}

void RunQuestions::ask(Asking asking) {
    withdraw();
    auto current = std::make_shared<Current>();
    current->asking = std::move(asking);
    m_current = current;
    if (current->asking.chooseFolder) chooseFolder(current);
    else askAboutNames(current);
}

void RunQuestions::answer(const std::shared_ptr<Current>& current, std::optional<RunAnswers> answers) {
    if (!isCurrent(current)) return;
    m_current.reset();
    current->asking.answered(std::move(answers));
}

void RunQuestions::chooseFolder(std::shared_ptr<Current> current) {
    if (current->asking.aboutToAsk) current->asking.aboutToAsk();
    if (!isCurrent(current)) return;
    current->questionUp = true;
    current->asking.chooseFolder([this, life = std::weak_ptr<bool>(m_life), current](std::optional<fs::path> folder) {
        if (life.expired() || !isCurrent(current)) {
            // Taken down before it was answered: the drop it belonged to was told already.
            Log::conversion().info("An answer came for a question already withdrawn; it is ignored");
            return;
        }
        current->questionUp = false;
        if (!folder) {
            Log::conversion().info("No output folder chosen; nothing converted");
            answer(current, std::nullopt);
            return;
        }
        current->asking.answers.outputDirectory = std::move(folder);
        askAboutNames(current);
    });
}

void RunQuestions::askAboutNames(std::shared_ptr<Current> current) {
    const Asking& asking = current->asking;
    if (!asking.askAboutNames || !asking.service || asking.answers.keepBoth) {
        answer(current, asking.answers);
        return;
    }
    const std::vector<PortalRequest> planned = asking.requests ? asking.requests(asking.answers)
                                                               : std::vector<PortalRequest>{};
    auto service = asking.service;
    AsyncTask::start<std::vector<fs::path>>(
        m_scheduler->tasks(), m_owner,
        [service, planned](std::stop_token) -> std::vector<fs::path> {
            std::vector<fs::path> names;
            for (const PortalRequest& request : planned) {
                std::vector<fs::path> taken;
                if (const auto* intent = std::get_if<ConversionIntent>(&request.what)) taken = service->takenNames(*intent);
                if (const auto* intent = std::get_if<ToolIntent>(&request.what)) taken = service->takenNames(*intent);
                names.insert(names.end(), taken.begin(), taken.end());
            }
            return names;
        },
        [this, current](std::vector<fs::path> names) {
            if (!isCurrent(current)) return;
            if (names.empty()) {
                answer(current, current->asking.answers);
                return;
            }
            if (current->asking.aboutToAsk) current->asking.aboutToAsk();
            if (!isCurrent(current)) return;
            current->questionUp = true;
            current->asking.askAboutNames(names, [this, life = std::weak_ptr<bool>(m_life), current](bool keepBoth) {
                if (life.expired() || !isCurrent(current)) {
                    Log::conversion().info("An answer came for a question already withdrawn; it is ignored");
                    return;
                }
                current->questionUp = false;
                RunAnswers answers = current->asking.answers;
                answers.keepBoth = keepBoth;
                answer(current, answers);
            });
        },
        [this, current](const std::string& reason) {
            // Names that cannot be looked up are numbered as usual; the run says what else failed.
            Log::conversion().warn("Could not look up the taken names: {}", reason);
            if (isCurrent(current)) answer(current, current->asking.answers);
        });
}

}  // namespace kolvex
