// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/format/ConversionError.h"
#include "core/format/ConversionOptions.h"
#include "core/format/FormatManifest.h"
#include "core/services/Uuid.h"

namespace kolvex {

// The six engines' ids.
namespace engine_ids {
inline const EngineID archive{"archive"};
inline const EngineID audio{"audio"};
inline const EngineID document{"document"};
inline const EngineID ffmpeg{"ffmpeg"};
inline const EngineID image{"image"};
inline const EngineID pdf{"pdf"};
}  // namespace engine_ids

// One unit of work: a source (plus, for tools that fold inputs, further sources) to a destination.
struct ConversionJob {
    ConversionJob(std::filesystem::path source, std::vector<std::filesystem::path> additionalSources,
                  std::filesystem::path destination, Format from, Format to, ConversionCapability capability,
                  ConversionOptions options);

    Uuid id;  // fresh for every job
    std::filesystem::path source;
    std::vector<std::filesystem::path> additionalSources;
    std::filesystem::path destination;
    Format from;
    Format to;
    ConversionCapability capability;
    ConversionOptions options;

    std::vector<std::filesystem::path> allSources() const;
    // Streams may be copied: allowed by the capability and the options, and nothing re-encodes.
    bool canPassthrough() const;
    // The content itself changes (a re-encoding tool, or quality, size, rate settings).
    bool changesContent() const;
    bool isTrim() const;
};

// What one job produced.
struct ConversionResult {
    Uuid id;
    std::filesystem::path source;
    std::vector<std::filesystem::path> outputs;
    std::optional<ConversionError> error;
    double duration = 0;
    bool usedPassthrough = false;
    std::optional<std::string> note;
    // Not converted, by design and without an error: the user chose to skip files whose names
    // were taken, or the engine left the file as it is (then `leftAsItIs` says why).
    bool skipped = false;
    // The source already was what the job asked of it (a resize that would not shrink it).
    struct LeftAsItIs {
        std::string tool;     // the tool's id ("resize")
        std::string because;  // the same for every file of the request: "already no larger than 640 px"
        bool operator==(const LeftAsItIs&) const = default;
    };
    std::optional<LeftAsItIs> leftAsItIs;

    // No error and at least one output.
    bool succeeded() const { return !error && !outputs.empty(); }
    std::optional<std::filesystem::path> output() const;
    bool producedMultipleFiles() const { return outputs.size() > 1; }
};

// The user's say over how a request runs. The defaults are what a request without a user
// gets: the automatic limit, numbered names.
struct RunRules {
    // How many conversions may run at once, across every request that sets a limit; 0 decides
    // automatically.
    int parallelLimit = 0;
    // Asked once per request, on its worker thread, when planned outputs would have needed a
    // number because their plain names are taken; gets those plain names. True keeps both (the
    // numbered names), false skips those files. None: numbered names without asking.
    std::function<bool(const std::vector<std::filesystem::path>&)> keepBothWhenTaken;
};

// Files to convert to one target format.
struct ConversionIntent {
    std::vector<std::filesystem::path> urls;
    FormatID target;
    ConversionOptions options;
    std::optional<std::filesystem::path> outputDirectory;  // none: beside each source
    // Options of their own for the files of a category (a drop of videos and sounds together);
    // a file of a category not listed takes `options`.
    std::map<FormatCategory, ConversionOptions> optionsByCategory{};
    RunRules rules{};
};

// Files to put through one tool.
struct ToolIntent {
    std::vector<std::filesystem::path> urls;
    std::string tool;
    ConversionOptions options;
    std::optional<std::filesystem::path> outputDirectory;
    RunRules rules{};
};

}  // namespace kolvex
