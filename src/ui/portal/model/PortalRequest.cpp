// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/model/PortalRequest.h"

namespace kolvex {

RunRules PortalRequest::rules(const Preferences& preferences, const RunAnswers& answers) {
    RunRules rules = preferences.runRules();
    if (preferences.conflictBehaviour != Preferences::ConflictBehaviour::ask) return rules;
    const bool keepBoth = answers.keepBoth.value_or(true);
    rules.keepBothWhenTaken = [keepBoth](const std::vector<std::filesystem::path>&) { return keepBoth; };
    return rules;
}

ConversionOptions PortalRequest::toolDefaults(const std::string& tool) {
    if (tool != "extract") return ConversionOptions::defaults();
    ConversionOptions options{};
    options.preserveMetadata = true;
    options.allowPassthrough = true;
    options.tool = "extract";
    return options;
}

PortalRequest PortalRequest::build(const RingTarget& target, const std::vector<std::filesystem::path>& urls,
                                   const Preferences& preferences, std::optional<FormatCategory> category,
                                   const std::optional<ConversionOptions>& overriding, const RunAnswers& answers) {
    const std::optional<std::filesystem::path> outputDirectory =
        answers.outputDirectory ? answers.outputDirectory : preferences.resolvedOutputDirectory();
    if (target.formatID) {
        ConversionIntent intent = preferences.formatIntent(urls, *target.formatID, category);
        intent.outputDirectory = outputDirectory;
        intent.rules = rules(preferences, answers);
        return {std::move(intent)};
    }
    if (target.toolID) {
        const ConversionOptions options = overriding ? *overriding : toolDefaults(*target.toolID);
        return {ToolIntent{urls, *target.toolID, options, outputDirectory, rules(preferences, answers)}};
    }
    return {target.label + " isn't ready yet"};
}

}  // namespace kolvex
