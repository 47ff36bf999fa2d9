// SPDX-License-Identifier: GPL-3.0-or-later
// The coordinator's answers about names already on disk: which outputs of a request would take
// the plain name of a file that exists, and the jobs a run skips when the user keeps those.
#include "core/conversion/ConversionCoordinator.h"

#include <iterator>
#include <system_error>

#include "core/format/SplitPoints.h"
#include "core/services/OutputNaming.h"
#include "core/services/PathUtils.h"

namespace kolvex {

namespace fs = std::filesystem;

std::vector<fs::path> ConversionCoordinator::takenPlainNames(const ConversionJob& job,
                                                             const std::optional<fs::path>& outputDirectory) const {
    const auto exists = [&](const fs::path& name) { return m_files->itemExists(name); };
    if (job.options.tool == "split") {
        // A split writes its parts, never its destination: each part's plain name, as one set.
        const auto count = static_cast<int>(SplitPoints::partCount(job.options.splitPoints));
        std::vector<fs::path> taken;
        for (auto& part : OutputNaming::partNames(job.destination, count, [](const fs::path&) { return false; }))
            if (exists(part)) taken.push_back(std::move(part));
        return taken;
    }
    const fs::path plain = m_files->destination(job.source, job.to.extensionFor(job.source), outputDirectory,
                                                Preferences::ConflictBehaviour::replace);
    // A number given because another file of this request has the stem is no conflict.
    if (nameKey(plain) == nameKey(job.destination) || !exists(plain)) return {};
    // The file's own source: an output never replaces it, so there is nothing to ask about.
    if (nameKey(plain) == nameKey(job.source)) return {};
    std::error_code error;
    if (fs::equivalent(plain, job.source, error)) return {};
    return {plain};
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
        auto taken = takenPlainNames(job, intent.outputDirectory);
        names.insert(names.end(), std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end()));
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
    std::vector<std::optional<fs::path>> taken(jobs.size());  // the first taken name of each job
    for (size_t i = 0; i < jobs.size(); ++i) {
        auto names = takenPlainNames(jobs[i], outputDirectory);
        if (names.empty()) continue;
        taken[i] = names.front();
        plainNames.insert(plainNames.end(), names.begin(), names.end());
    }
    // Asked without the planning lock held: the user may take a while, and the names are
    // already reserved.
    if (plainNames.empty() || rules.keepBothWhenTaken(plainNames)) return {};

    std::vector<ConversionResult> skipped;
    std::vector<ConversionJob> kept;
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
        result.note = paths::lastComponent(*taken[i]) + " already exists";
        skipped.push_back(std::move(result));
    }
    jobs = std::move(kept);
    return skipped;
}

}  // namespace kolvex
