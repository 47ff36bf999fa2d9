// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/pdf/PageFileNaming.h"

#include <algorithm>

#include <fmt/format.h>

#include "core/services/OutputNaming.h"
#include "core/services/PathUtils.h"

namespace kolvex {

namespace {

bool occupied(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found;
}

// The destination's stem, shortened by whole characters so that the longest name made from it
// ("<stem>-<page> 999.<extension>") still fits in a file name.
std::string fittedStem(const std::filesystem::path& destination, const std::string& pageTail) {
    const std::string stem = OutputNaming::stem(destination.filename().string());
    // `filename` shortens a stem for a given tail; a stand-in extension of the tail's length
    // asks it for exactly the room the page tail needs.
    const std::string standIn(pageTail.size() - 1, 'x');
    const std::string fitted = OutputNaming::filename(stem, std::nullopt, standIn);
    return fitted.substr(0, fitted.size() - pageTail.size());
}

}  // namespace

int PageFileNaming::digitCount(int count) {
    int digits = 1;
    for (int value = count; value >= 10; value /= 10) ++digits;
    return digits;
}

std::filesystem::path PageFileNaming::firstFree(const std::filesystem::path& destination, int page, int count,
                                                const std::string& extension,
                                                const std::vector<std::filesystem::path>& existing) {
    const std::filesystem::path folder = destination.parent_path();
    const std::string number = fmt::format("{:0{}d}", page, digitCount(count));
    const std::string dotExtension = extension.empty() ? std::string() : "." + extension;
    const std::string stem =
        fittedStem(destination, fmt::format("-{} {}{}", number, OutputNaming::maxCollisionAttempts, dotExtension));

    auto taken = [&](const std::filesystem::path& candidate) {
        const auto name = candidate.filename();
        return occupied(candidate) ||
               std::any_of(existing.begin(), existing.end(),
                           [&](const std::filesystem::path& made) { return made.filename() == name; });
    };

    std::filesystem::path candidate = folder / fmt::format("{}-{}{}", stem, number, dotExtension);
    // A name the system cannot take would read as taken: say so rather than try 998 more.
    const auto fits = [](const std::filesystem::path& name) {
        if (!paths::withinSystemLimits(name)) throw ConversionError::outputPathTooLong(name);
        return true;
    };
    for (int k = 2; fits(candidate) && taken(candidate); ++k) {
        if (k > OutputNaming::maxCollisionAttempts) throw ConversionError::outputNameUnavailable(candidate);
        candidate = folder / fmt::format("{}-{} {}{}", stem, number, k, dotExtension);
    }
    return candidate;
}

std::filesystem::path PageFileNaming::pageURL(const ConversionJob& job, int page, int count,
                                              const std::vector<std::filesystem::path>& existing) {
    if (count < 2) return job.destination;
    return firstFree(job.destination, page, count, job.to.canonicalExtension(), existing);
}

std::filesystem::path PageFileNaming::splitURL(const std::filesystem::path& destination, int page, int count) {
    return firstFree(destination, page, count, "pdf", {});
}

}  // namespace kolvex
