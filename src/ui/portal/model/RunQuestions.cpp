// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/model/RunQuestions.h"

#include <variant>

#include "core/services/Log.h"
#include "ui/async/AsyncTask.h"

namespace kolvex {

namespace fs = std::filesystem;

RunQuestions::RunQuestions(std::shared_ptr<PortalScheduler> scheduler, QObject* owner)
    : m_scheduler(std::move(scheduler)), m_owner(owner) {}

bool RunQuestions::asks(const Preferences& preferences, const ChooseFolder& chooseFolder,
                        const AskAboutNames& askAboutNames) const {
    return (preferences.outputLocation == Preferences::OutputLocation::ask && chooseFolder) ||
           (preferences.conflictBehaviour == Preferences::ConflictBehaviour::ask && askAboutNames);
}

void RunQuestions::ask(const Preferences& preferences, Asking asking) {
    auto shared = std::make_shared<const Asking>(std::move(asking));
    const bool asksNames = preferences.conflictBehaviour == Preferences::ConflictBehaviour::ask && shared->askAboutNames;
    auto next = [this, shared, asksNames](RunAnswers answers) {
        if (!asksNames) {
            shared->answered(answers);
            return;
        }
        askAboutNames(std::move(answers), shared);
    };
    if (preferences.outputLocation != Preferences::OutputLocation::ask || !shared->chooseFolder) {
        next({});
        return;
    }
    if (shared->aboutToAsk) shared->aboutToAsk();
    shared->chooseFolder([shared, next](std::optional<fs::path> folder) {
        if (shared->task.isCancelled()) return;
        if (!folder) {
            Log::conversion().info("No output folder chosen; nothing converted");
            shared->answered(std::nullopt);
            return;
        }
        next({std::move(folder), std::nullopt});
    });
}

void RunQuestions::askAboutNames(RunAnswers answers, std::shared_ptr<const Asking> asking) {
    if (!asking->service) {
        asking->answered(answers);
        return;
    }
    const PortalRequest planned = asking->request(answers);
    auto service = asking->service;
    AsyncTask::start<std::vector<fs::path>>(
        m_scheduler->tasks(), m_owner,
        [service, planned](std::stop_token) -> std::vector<fs::path> {
            if (const auto* intent = std::get_if<ConversionIntent>(&planned.what)) return service->takenNames(*intent);
            if (const auto* intent = std::get_if<ToolIntent>(&planned.what)) return service->takenNames(*intent);
            return {};
        },
        [asking, answers](std::vector<fs::path> names) {
            if (asking->task.isCancelled()) return;
            if (names.empty()) {
                asking->answered(answers);
                return;
            }
            if (asking->aboutToAsk) asking->aboutToAsk();
            asking->askAboutNames(names, [asking, answers](bool keepBoth) mutable {
                if (asking->task.isCancelled()) return;
                answers.keepBoth = keepBoth;
                asking->answered(answers);
            });
        },
        [asking, answers](const std::string& reason) {
            // Names that cannot be looked up are numbered as usual; the run says what else failed.
            Log::conversion().warn("Could not look up the taken names: {}", reason);
            if (!asking->task.isCancelled()) asking->answered(answers);
        });
}

}  // namespace kolvex
