// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

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
// ("Ask what to do"). The taken names are looked up on a worker (planning may read the files);
// the questions themselves are put on the GUI thread and answered through continuations, so
// nothing waits for the user. GUI thread only.
class RunQuestions {
public:
    // Opens the folder chooser; answers with the folder, or none when the user cancelled.
    using ChooseFolder = std::function<void(std::function<void(std::optional<std::filesystem::path>)>)>;
    // Asks about the plain names already taken; answers true to keep both, false to skip.
    using AskAboutNames = std::function<void(const std::vector<std::filesystem::path>&, std::function<void(bool)>)>;
    // Builds the request whose outputs are asked about, for the answers so far.
    using RequestFor = std::function<PortalRequest(const RunAnswers&)>;

    RunQuestions(std::shared_ptr<PortalScheduler> scheduler, QObject* owner);

    // True when these settings ask anything (with the questions set).
    bool asks(const Preferences& preferences, const ChooseFolder& chooseFolder, const AskAboutNames& askAboutNames) const;

    struct Asking {
        PortalTask task;                          // cancelled: nothing more is asked or answered
        std::shared_ptr<PortalConversionService> service;
        RequestFor request;
        ChooseFolder chooseFolder;
        AskAboutNames askAboutNames;
        std::function<void()> aboutToAsk;         // called before each question is put up
        std::function<void(std::optional<RunAnswers>)> answered;  // none: no folder was chosen
    };

    // Asks what `preferences` leave open and calls `answered` with the answers, or with none
    // when the user declined to choose a folder. No names taken: nothing is asked about them.
    void ask(const Preferences& preferences, Asking asking);

private:
    void askAboutNames(RunAnswers answers, std::shared_ptr<const Asking> asking);

    std::shared_ptr<PortalScheduler> m_scheduler;
    QObject* m_owner;
};

}  // namespace kolvex
