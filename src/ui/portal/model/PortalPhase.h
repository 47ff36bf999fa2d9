// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/format/ConversionJob.h"
#include "core/format/RingTarget.h"

namespace kolvex {

// What the Portal shows in its middle.
struct PortalPhase {
    enum class Kind { converting, succeeded, failed, needsParameters, browsing };

    Kind kind = Kind::browsing;
    double fraction = 0;                  // converting: the shown fraction 0…1
    // converting: the job is over and only the fill finishes; Cancel only closes the Portal.
    bool ended = false;
    std::string name;                     // succeeded: the output's name, or "N files"
    std::optional<std::string> note;      // succeeded
    std::string message;                  // failed
    std::optional<std::string> detail;    // failed
    std::optional<RingTarget> target;     // needsParameters

    static PortalPhase browsing() { return {}; }
    static PortalPhase converting(double fraction, bool ended = false);
    static PortalPhase succeeded(std::string name, std::optional<std::string> note = std::nullopt);
    static PortalPhase failed(std::string message, std::optional<std::string> detail = std::nullopt);
    static PortalPhase needsParameters(RingTarget target);

    // The outcome of finished jobs: one output by name, several as "N files"; when some
    // failed, "K of N converted" with a line per failed file naming its reason and what the
    // error knows beyond it; when all failed, the first error's words. The details hold the
    // reason in full, never a bare path and never the file's name twice.
    static PortalPhase outcome(const std::vector<ConversionResult>& results);

    bool is(Kind k) const { return kind == k; }
    // Equal when the case and that case's payload are equal.
    bool operator==(const PortalPhase& other) const;
};

// What became of the files of one run, or of a whole batch, once it ended: told to the tray's
// recent list and to the notifications.
struct RunReport {
    struct Failure {
        std::filesystem::path source;
        std::string reason;  // one line for the user
        bool operator==(const Failure&) const = default;
    };
    std::vector<std::filesystem::path> outputs;  // of every success, in order
    std::vector<std::filesystem::path> sources;  // the source of each success
    std::vector<Failure> failures;
    // The work went on in the tray (collapsed, or moved off the Portal) rather than in front
    // of the user.
    bool wentToTray = false;
    // Files not converted by design — a taken name the user chose to skip — each with the words
    // saying why.
    std::vector<Failure> skipped;
    // Files the engine left as they were (a picture a resize would not shrink), with the tool and why.
    struct LeftAlone {
        std::filesystem::path source;
        ConversionResult::LeftAsItIs why;
        bool operator==(const LeftAlone&) const = default;
    };
    std::vector<LeftAlone> leftAsTheyWere;

    // Successes, failures and skipped files of finished jobs; cancelled jobs are none of them.
    static RunReport of(const std::vector<ConversionResult>& results, bool wentToTray);
    bool isEmpty() const { return outputs.empty() && failures.empty() && skipped.empty() && leftAsTheyWere.empty(); }
    bool operator==(const RunReport&) const = default;
};

}  // namespace kolvex
