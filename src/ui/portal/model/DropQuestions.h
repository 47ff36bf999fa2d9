// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>

#include "core/format/ConversionOptions.h"
#include "core/format/RingTarget.h"
#include "core/services/Preferences.h"
#include "interaction/DragPayload.h"
#include "ui/portal/model/PortalConversionService.h"
#include "ui/portal/model/PortalPhase.h"
#include "ui/portal/model/RunQuestions.h"

namespace kolvex {

// The questions of one drop, from the run flow's side: which are asked when (the folder, and
// the names of a target without a sheet, at the commit; the names a sheet's choice writes,
// once it chose), the Portal stepping aside while one is up and coming back after, and the
// word said when an ask ends without its answer. The questions themselves are RunQuestions'.
// GUI thread only.
class DropQuestions {
public:
    // Files that one set of a sheet's options applies to.
    struct Group {
        std::vector<std::filesystem::path> urls;
        ConversionOptions options;
    };

    // What it needs from around it; every callback is called on the GUI thread and may be unset.
    struct Surroundings {
        std::shared_ptr<PortalScheduler> scheduler;
        QObject* owner = nullptr;  // outlives it
        std::function<std::shared_ptr<PortalConversionService>()> service;  // null: nothing is asked
        std::function<std::shared_ptr<const RingTargetProviding>()> provider;
        std::function<Preferences()> preferences;
        std::function<RunQuestions::ChooseFolderBeside()> chooseFolder;
        std::function<RunQuestions::AskAboutNames()> askAboutNames;
        RunQuestions::Withdraw withdrawQuestion;
        std::function<void(bool)> asking;                  // the Portal steps aside (true) or comes back
        std::function<void(const RunReport&)> completed;   // a drop that was not converted, told
        std::function<bool()> sheetPending;                // a sheet still has the Portal's place
    };

    explicit DropQuestions(Surroundings surroundings);
    ~DropQuestions();
    DropQuestions(const DropQuestions&) = delete;
    DropQuestions& operator=(const DropQuestions&) = delete;

    // At a commit: asks what the settings leave open before anything runs (and before the
    // sheet, when `hasSheet`; its names wait for its choice). False when nothing is asked; else
    // `asking` is called before any question goes up, and `answered` gets the answers, or none
    // when no folder was chosen.
    bool askAtCommit(const RingTarget& target, const DragPayload& payload, bool hasSheet,
                     const std::function<void()>& asking, std::function<void(std::optional<RunAnswers>)> answered);
    // The questions asked at the commit are still open.
    bool askingAtCommit() const { return m_asked && m_asked->atCommit; }

    // After a sheet: runs `go` once the names that `groups` will write have been asked about,
    // when the settings ask and `known` holds no answer yet; at once otherwise. A call while the
    // names are asked waits for that answer. `answered` gets the answer before anything waiting runs.
    void afterNames(const RingTarget& target, std::vector<Group> groups, const RunAnswers& known,
                    std::function<void(const RunAnswers&)> answered, std::function<void()> go);

    // Ends what is asked without an answer: the question goes, what waited for it is dropped,
    // and, given `why`, the drop's files are told as not converted for that reason.
    void stop(const std::optional<std::string>& why);

    // The Portal comes back if it stepped aside.
    void comeBack();

private:
    struct Asked {
        RingTarget target;
        std::vector<std::filesystem::path> urls;
        bool atCommit = false;
    };
    void stepAside();

    Surroundings m_env;
    RunQuestions m_questions;
    std::optional<Asked> m_asked;                     // a question of this drop is being asked
    std::vector<std::function<void()>> m_afterNames;  // what waits for the names' answer
    std::function<void(const RunAnswers&)> m_namesAnswered;
    bool m_stepsAside = false;  // a question was put up: the Portal is away until it comes back
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace kolvex
