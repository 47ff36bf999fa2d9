// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QObject>

#include "core/services/Preferences.h"
#include "ui/portal/model/PortalConversionService.h"
#include "ui/portal/model/PortalRequest.h"
#include "ui/portal/model/PortalScheduler.h"

namespace kolvex {

// The questions a drop's settings leave to the user, asked in front of them before anything
// runs: where the outputs go ("Ask each time"), then what to do about names already taken
// ("Ask what to do"). It owns a question's whole life: it puts it up, takes its one answer,
// and takes it down unanswered when the ask ends some other way (a new drag, a cancel), so no
// question outlives its ask and no stale answer reaches a run. The taken names are looked up
// on a worker (planning may read the files); the questions themselves are put on the GUI
// thread and answered through continuations, so nothing waits for the user. GUI thread only.
class RunQuestions {
public:
    // Opens the folder chooser; answers with the folder, or none when the user cancelled.
    using ChooseFolder = std::function<void(std::function<void(std::optional<std::filesystem::path>)>)>;
    // The same, beside the window the drop's files came from (an X window; 0: none).
    using ChooseFolderBeside =
        std::function<void(std::uint64_t sourceWindow, std::function<void(std::optional<std::filesystem::path>)>)>;
    // Asks about the plain names already taken; answers true to keep both, false to skip.
    using AskAboutNames = std::function<void(const std::vector<std::filesystem::path>&, std::function<void(bool)>)>;
    // Takes the question on screen down without an answer.
    using Withdraw = std::function<void()>;
    // Builds the requests whose outputs are asked about, for the answers so far.
    using RequestsFor = std::function<std::vector<PortalRequest>(const RunAnswers&)>;

    RunQuestions(std::shared_ptr<PortalScheduler> scheduler, QObject* owner);
    ~RunQuestions();
    RunQuestions(const RunQuestions&) = delete;
    RunQuestions& operator=(const RunQuestions&) = delete;

    // True when these settings ask where the outputs go (with the question set).
    static bool asksFolder(const Preferences& preferences, const ChooseFolder& chooseFolder);
    // True when these settings ask about taken names (with the question set).
    static bool asksNames(const Preferences& preferences, const AskAboutNames& askAboutNames);

    struct Asking {
        std::shared_ptr<PortalConversionService> service;
        RequestsFor requests;
        ChooseFolder chooseFolder;                // none: the folder is not asked
        AskAboutNames askAboutNames;              // none: the names are not asked
        Withdraw withdraw;                        // none: a question cannot be taken down
        RunAnswers answers;                       // what was answered before
        std::function<void()> aboutToAsk;         // called before each question is put up
        std::function<void(std::optional<RunAnswers>)> answered;  // none: no folder was chosen
    };

    // Ends the ask before (taking its question down), then asks what `asking` names and calls
    // `answered` once with the answers, or with none when the user declined to choose a folder.
    // No names taken: nothing is asked about them.
    void ask(Asking asking);
    // An ask is under way (a question is up or its names are being looked up).
    bool isAsking() const { return static_cast<bool>(m_current); }
    // Ends the ask without an answer: its question is taken down, and an answer that comes
    // anyway is ignored (and logged). True when there was one.
    bool withdraw();

private:
    struct Current;
    void chooseFolder(std::shared_ptr<Current> current);
    void askAboutNames(std::shared_ptr<Current> current);
    void answer(const std::shared_ptr<Current>& current, std::optional<RunAnswers> answers);
    bool isCurrent(const std::shared_ptr<Current>& current) const { return current && current == m_current; }

    std::shared_ptr<PortalScheduler> m_scheduler;
    QObject* m_owner;
    std::shared_ptr<Current> m_current;
    // A question answered after the questions went finds them gone.
    std::shared_ptr<bool> m_life = std::make_shared<bool>(true);
};

}  // namespace kolvex
