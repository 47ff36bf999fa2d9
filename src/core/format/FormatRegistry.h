// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/format/FormatKinds.h"
#include "core/format/FormatManifest.h"
#include "core/format/Identifiers.h"
#include "core/format/RingTarget.h"

namespace kolvex {

// The loaded format manifest with its lookup tables: what a file is, what it can become,
// which conversions join two formats (cheapest first) and which tools apply.
//
// An immutable value: built once, never changed, safe to read from any thread. Copies are
// independent; `excludingUnavailable` makes a new one rather than changing this one.
class FormatRegistry : public RingTargetProviding {
public:
    // Why a manifest could not become a registry. `description()` (and what()) reads like
    // `danglingCapability(from: "a", to: "b")`, which is what callers print and log.
    class LoadError : public std::exception {
    public:
        enum class Kind { manifestUnreadable, danglingCapability, manifestMissing };

        // The manifest could not be read, is not JSON or does not match the schema.
        static LoadError manifestUnreadable(std::string description);
        // A conversion names a format id the manifest lacks (raw ids of that conversion).
        static LoadError danglingCapability(std::string from, std::string to);
        // The resource bundle, or the manifest file in it, is not there.
        static LoadError manifestMissing();

        Kind kind() const { return m_kind; }
        const std::string& message() const { return m_first; }  // manifestUnreadable
        const std::string& from() const { return m_first; }     // danglingCapability
        const std::string& to() const { return m_second; }      // danglingCapability

        const std::string& description() const { return m_description; }
        const char* what() const noexcept override { return m_description.c_str(); }
        bool operator==(const LoadError& other) const {
            return m_kind == other.m_kind && m_first == other.m_first && m_second == other.m_second;
        }

    private:
        LoadError(Kind kind, std::string first, std::string second);

        Kind m_kind;
        std::string m_first;
        std::string m_second;
        std::string m_description;
    };

    // The length to which the convert and tools rings are cut.
    static constexpr int maxRingTargets = 8;

    // The registry of the manifest shipped in the "Kolvex_KolvexCore" resource bundle.
    // Throws LoadError. May block on file reads.
    static FormatRegistry loadBundled();
    // The registry of "FormatManifest.json" in the given bundle folder. Throws LoadError.
    static FormatRegistry load(const std::filesystem::path& bundle);

    // Builds the tables. Throws LoadError::danglingCapability for the first conversion (in
    // manifest order) that names an unknown format, its `from` checked before its `to`.
    explicit FormatRegistry(FormatManifest manifest);

    // --- Lookups: they never fail; unknown input gives none or an empty list. ---

    std::optional<Format> format(const FormatID& id) const;
    // Recognises a file by its name alone (longest matching extension, case-insensitive);
    // the file is not opened and need not exist.
    std::optional<Format> formatFor(const std::filesystem::path& url) const;
    // An extension with or without dots around it ("png", ".PNG", "tar.gz"); no suffix matching.
    std::optional<Format> formatForExtension(std::string_view fileExtension) const;

    // The conversions between two formats, cheapest first; equal costs keep manifest order.
    std::vector<ConversionCapability> capabilities(const FormatID& from, const FormatID& to) const;
    std::optional<ConversionCapability> bestCapability(const FormatID& from, const FormatID& to) const;

    // What one format can become, each target once, in the order of its first conversion.
    std::vector<Format> supportedOutputs(const FormatID& id) const;
    // What all the recognised files can become (in the first file's order); empty when the
    // files span several categories or none is recognised.
    std::vector<Format> supportedOutputsForFiles(const std::vector<std::filesystem::path>& urls) const;

    std::optional<ToolDefinition> tool(const std::string& id) const;
    std::vector<ToolDefinition> tools(FormatCategory category) const;
    // The tools of the files' one category; tools that fold their inputs only for two or more
    // files (unrecognised ones count).
    std::vector<ToolDefinition> toolsForFiles(const std::vector<std::filesystem::path>& urls) const;

    int categoryCount(const std::vector<std::filesystem::path>& urls) const override;
    std::optional<FormatCategory> category(const std::vector<std::filesystem::path>& urls) const override;

    // The ring's chips for the files in a mode (convert, tools or advanced).
    std::vector<RingTarget> targets(const std::vector<std::filesystem::path>& urls,
                                    PortalMode mode) const override;

    // Every format once, sorted by id.
    std::vector<Format> allFormats() const;
    // The tools sorted stably by id.
    std::vector<ToolDefinition> allTools() const;
    int conversionCount() const;

    // Names the encoder a target format needs, or none when it needs no particular one.
    using RequiredEncoder = std::function<std::optional<std::string>(const Format&)>;
    // A copy without the conversions of `engine` whose target needs an encoder that is not
    // available. An empty encoder set means "unknown": the registry comes back unchanged.
    // Formats and tools are always kept. Logs how many conversions were hidden.
    FormatRegistry excludingUnavailable(const EngineID& engine, const std::set<std::string>& availableEncoders,
                                        const RequiredEncoder& requiredEncoder) const;

    // --- The tables themselves (read-only). ---

    const std::unordered_map<FormatID, Format>& formatsByID() const { return m_formatsByID; }
    // Lower-cased extension → format id; the later format in the manifest owns a shared extension.
    const std::unordered_map<std::string, FormatID>& idsByExtension() const { return m_idsByExtension; }
    // Every extension once, longest first, equal lengths in ascending order.
    const std::vector<std::string>& extensionsByLength() const { return m_extensionsByLength; }
    const std::unordered_map<FormatID, std::vector<ConversionCapability>>& outgoing() const { return m_outgoing; }
    const std::vector<ToolDefinition>& toolDefinitions() const { return m_toolDefinitions; }
    const FormatManifest& manifest() const { return m_manifest; }

private:
    // The format a file name stands for, without copying it; null when none.
    const Format* lookup(const std::filesystem::path& url) const;
    // The distinct formats of the recognised files, in the order each is first met. A drag of
    // thousands of files names only a few formats, so everything after this is cheap.
    std::vector<const Format*> recognised(const std::vector<std::filesystem::path>& urls) const;
    std::vector<RingTarget> convertTargets(const std::vector<std::filesystem::path>& urls) const;
    std::vector<RingTarget> toolTargets(const std::vector<std::filesystem::path>& urls) const;
    std::vector<RingTarget> advancedTargets(const std::vector<std::filesystem::path>& urls) const;

    std::unordered_map<FormatID, Format> m_formatsByID;
    std::unordered_map<std::string, FormatID> m_idsByExtension;
    std::vector<std::string> m_extensionsByLength;
    std::unordered_map<FormatID, std::vector<ConversionCapability>> m_outgoing;
    std::vector<ToolDefinition> m_toolDefinitions;
    FormatManifest m_manifest;
};

}  // namespace kolvex
