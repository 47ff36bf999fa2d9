// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/model/PortalPhase.h"

#include <algorithm>

#include <fmt/format.h>

#include "core/services/Log.h"
#include "core/services/PathUtils.h"

namespace kolvex {

namespace {

// What an error knows beyond the file it names: nothing when its detail is only that path.
std::optional<std::string> beyondPath(const ConversionError& error) {
    auto detail = error.diagnosticDetail();
    if (!detail || detail->empty() || *detail == error.url().string()) return std::nullopt;
    return detail;
}

}  // namespace

PortalPhase PortalPhase::converting(double fraction, bool ended) {
    PortalPhase p;
    p.kind = Kind::converting;
    p.fraction = fraction;
    p.ended = ended;
    return p;
}

PortalPhase PortalPhase::succeeded(std::string name, std::optional<std::string> note) {
    PortalPhase p;
    p.kind = Kind::succeeded;
    p.name = std::move(name);
    p.note = std::move(note);
    return p;
}

PortalPhase PortalPhase::failed(std::string message, std::optional<std::string> detail) {
    PortalPhase p;
    p.kind = Kind::failed;
    p.message = std::move(message);
    p.detail = std::move(detail);
    return p;
}

PortalPhase PortalPhase::needsParameters(RingTarget target) {
    PortalPhase p;
    p.kind = Kind::needsParameters;
    p.target = std::move(target);
    return p;
}

bool PortalPhase::operator==(const PortalPhase& other) const {
    if (kind != other.kind) return false;
    switch (kind) {
    case Kind::converting: return fraction == other.fraction && ended == other.ended;
    case Kind::succeeded: return name == other.name && note == other.note;
    case Kind::failed: return message == other.message && detail == other.detail;
    case Kind::needsParameters: return target == other.target;
    case Kind::browsing: return true;
    }
    return false;
}

PortalPhase PortalPhase::outcome(const std::vector<ConversionResult>& all) {
    // Files the user chose to skip are said once, apart from what converted and what failed.
    std::vector<ConversionResult> results;
    std::vector<const ConversionResult*> skipped;
    for (const auto& r : all) {
        if (r.skipped) skipped.push_back(&r);
        else results.push_back(r);
    }
    std::string skippedText;
    if (skipped.size() == 1) {
        skippedText = "Skipped " + paths::lastComponent(skipped.front()->source) + ": " + skipped.front()->note.value_or("");
    } else if (!skipped.empty()) {
        skippedText = fmt::format("Skipped {} files", skipped.size());
        for (const auto* r : skipped) skippedText += "\n" + paths::lastComponent(r->source) + ": " + r->note.value_or("");
    }
    const bool allLeftAsTheyWere = std::all_of(skipped.begin(), skipped.end(), [](const ConversionResult* r) { return r->leftAsItIs.has_value(); });
    if (results.empty() && !skipped.empty() && allLeftAsTheyWere) {
        // Nothing needed changing: no failure, and the words say why.
        std::string why;
        for (const auto* r : skipped)
            why += (why.empty() ? "" : "\n") + paths::lastComponent(r->source) + ": " + r->note.value_or("");
        return succeeded(skipped.size() == 1 ? "Left as it was" : fmt::format("{} left as they were", skipped.size()), why);
    }
    if (results.empty() && !skipped.empty()) {
        std::string detail;
        for (const auto* r : skipped) {
            if (!detail.empty()) detail += '\n';
            detail += paths::lastComponent(r->source) + ": skipped, " + r->note.value_or("its name was taken");
        }
        return failed("Nothing converted", detail);
    }

    std::vector<const ConversionResult*> successes;
    for (const auto& r : results) {
        if (r.succeeded()) successes.push_back(&r);
    }
    if (!successes.empty() && successes.size() == results.size()) {
        size_t n = 0;
        for (const auto* s : successes) n += s->outputs.size();
        std::optional<std::string> note;
        if (n == 1) {
            note = successes.front()->note;
        } else if (std::all_of(successes.begin(), successes.end(),
                               [](const ConversionResult* s) { return s->note.has_value(); })) {
            note = successes.front()->note;
        }
        if (!skippedText.empty()) note = note ? *note + "\n" + skippedText : skippedText;
        if (n == 1) return succeeded(paths::lastComponent(successes.front()->outputs.front()), note);
        return succeeded(fmt::format("{} files", n), note);
    }
    if (successes.empty()) {
        Log::conversion().error("All {} job(s) failed", results.size());
        if (results.size() == 1 && results.front().error && skipped.empty()) {
            const ConversionError& error = *results.front().error;
            std::string detail = error.shortDescription();
            if (const auto more = beyondPath(error)) detail += "\n\n" + *more;
            return failed(error.shortDescription(), detail);
        }
        if (results.empty() || !results.front().error) return failed("Couldn't convert");
    }
    // Several files, not all converted: every failure is named with its reason, and with what
    // its error knows beyond the file's own path.
    std::string detail;
    for (const auto& r : results) {
        if (!r.error) continue;
        if (!detail.empty()) detail += '\n';
        const std::string name = paths::lastComponent(r.source);
        const std::string reason = r.error->shortDescription();
        // "b.png appears to be damaged" names its file already.
        detail += reason.find(name) == std::string::npos ? name + ": " + reason : reason;
        const auto more = beyondPath(*r.error);
        if (more && *more != r.source.string()) detail += "\n    " + *more;
    }
    if (!skippedText.empty()) detail += "\n" + skippedText;
    if (successes.empty()) return failed(results.front().error->shortDescription(), detail);
    return failed(fmt::format("{} of {} converted", successes.size(), all.size()), detail);
}

RunReport RunReport::of(const std::vector<ConversionResult>& results, bool wentToTray) {
    RunReport report;
    report.wentToTray = wentToTray;
    for (const auto& r : results) {
        if (r.succeeded()) {
            report.outputs.insert(report.outputs.end(), r.outputs.begin(), r.outputs.end());
            report.sources.push_back(r.source);
        } else if (r.skipped && r.leftAsItIs) {
            report.leftAsTheyWere.push_back({r.source, *r.leftAsItIs});
        } else if (r.skipped) {
            report.skipped.push_back({r.source, r.note.value_or("its name was taken")});
        } else if (!r.error || r.error->kind() != ConversionError::Kind::cancelled) {
            report.failures.push_back({r.source, r.error ? r.error->shortDescription() : std::string("Couldn't convert")});
        }
    }
    return report;
}

}  // namespace kolvex
