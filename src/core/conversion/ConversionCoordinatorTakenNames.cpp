// SPDX-License-Identifier: GPL-3.0-or-later
// The coordinator's answers about names already on disk: which outputs of a request would take
// the plain name of a file that exists, and the jobs a run skips when the user keeps those.
#include "core/conversion/ConversionCoordinator.h"

#include <system_error>

#include "core/services/PathUtils.h"

namespace kolvex {

namespace fs = std::filesystem;

std::optional<fs::path> ConversionCoordinator::takenPlainName(const ConversionJob& job,
                                                              const std::optional<fs::path>& outputDirectory) const {
    const fs::path plain = m_files->destination(job.source, job.to.canonicalExtension(), outputDirectory,
                                                Preferences::ConflictBehaviour::replace);
    // A number given because another file of this request has the stem is no conflict.
    if (nameKey(plain) == nameKey(job.destination) || !m_files->itemExists(plain)) return std::nullopt;
    // The file's own source: an output never replaces it, so there is nothing to ask about.
    if (nameKey(plain) == nameKey(job.source)) return std::nullopt;
    std::error_code error;
    if (fs::equivalent(plain, job.source, error)) return std::nullopt;
    return plain;
}

template <typename Intent>
std::vector<fs::path> ConversionCoordinator::takenNamesOf(const Intent& intent) const {
    std::vector<ConversionJob> jobs;
    try {
        jobs = plan(intent);
    } catch (const std::exception&) {
        return {};
    }
    std::vector<fs::path> names;
    for (const auto& job : jobs) {
        if (auto plain = takenPlainName(job, intent.outputDirectory)) names.push_back(std::move(*plain));
    }
    return names;
}

std::vector<fs::path> ConversionCoordinator::takenNames(const ConversionIntent& intent) const {
    return takenNamesOf(intent);
}

std::vector<fs::path> ConversionCoordinator::takenNames(const ToolIntent& intent) const { return takenNamesOf(intent); }

std::vector<ConversionResult> ConversionCoordinator::skipTakenNames(std::vector<ConversionJob>& jobs, const RunRules& rules,
                                                                    const std::optional<fs::path>& outputDirectory) {
    if (!rules.keepBothWhenTaken) return {};
    std::vector<fs::path> plainNames;
    std::vector<bool> taken(jobs.size(), false);
    for (size_t i = 0; i < jobs.size(); ++i) {
        auto plain = takenPlainName(jobs[i], outputDirectory);
        if (!plain) continue;
        taken[i] = true;
        plainNames.push_back(std::move(*plain));
    }
    // Asked without the planning lock held: the user may take a while, and the names are
    // already reserved.
    if (plainNames.empty() || rules.keepBothWhenTaken(plainNames)) return {};

    std::vector<ConversionResult> skipped;
    std::vector<ConversionJob> kept;
    size_t next = 0;
    for (size_t i = 0; i < jobs.size(); ++i) {
        if (!taken[i]) {
            kept.push_back(std::move(jobs[i]));
            continue;
        }
        release(jobs[i].destination);
        ConversionResult result;
        result.id = jobs[i].id;
        result.source = jobs[i].source;
        result.skipped = true;
        result.note = paths::lastComponent(plainNames[next++]) + " already exists";
        skipped.push_back(std::move(result));
    }
    jobs = std::move(kept);
    return skipped;
}

}  // namespace kolvex
