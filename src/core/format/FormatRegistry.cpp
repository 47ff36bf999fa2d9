// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/format/FormatRegistry.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unordered_set>

#include <fmt/format.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include "core/services/Log.h"
#include "core/services/PathUtils.h"
#include "core/services/ResourceBundle.h"

namespace kolvex {

namespace fs = std::filesystem;

namespace {

const char* const kCoreBundleName = "Kolvex_KolvexCore";
const char* const kManifestFileName = "FormatManifest.json";
const char* const kExtractToolID = "extract";

// Unicode-aware lower-casing, so a file name is folded the way a user reads it. Bytes that
// are not UTF-8 become replacement characters, which never match an extension anyway.
std::string lowercased(std::string_view text) {
    bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) return paths::asciiLower(std::string(text));
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    unicode.toLower(icu::Locale::getRoot());
    std::string out;
    unicode.toUTF8String(out);
    return out;
}

// Length in characters (code points), not bytes.
size_t characterCount(const std::string& text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string inQuotes(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

// --- LoadError ---

FormatRegistry::LoadError::LoadError(Kind kind, std::string first, std::string second)
    : m_kind(kind), m_first(std::move(first)), m_second(std::move(second)) {
    switch (m_kind) {
    case Kind::manifestUnreadable: m_description = "manifestUnreadable(" + inQuotes(m_first) + ")"; break;
    case Kind::danglingCapability:
        m_description = "danglingCapability(from: " + inQuotes(m_first) + ", to: " + inQuotes(m_second) + ")";
        break;
    case Kind::manifestMissing: m_description = "manifestMissing"; break;
    }
}

FormatRegistry::LoadError FormatRegistry::LoadError::manifestUnreadable(std::string description) {
    return LoadError(Kind::manifestUnreadable, std::move(description), {});
}

FormatRegistry::LoadError FormatRegistry::LoadError::danglingCapability(std::string from, std::string to) {
    return LoadError(Kind::danglingCapability, std::move(from), std::move(to));
}

FormatRegistry::LoadError FormatRegistry::LoadError::manifestMissing() { return LoadError(Kind::manifestMissing, {}, {}); }

// --- Loading ---

FormatRegistry FormatRegistry::loadBundled() {
    auto bundle = ResourceBundle::named(kCoreBundleName);
    if (!bundle) throw LoadError::manifestMissing();
    return load(*bundle);
}

FormatRegistry FormatRegistry::load(const fs::path& bundle) {
    const fs::path file = bundle / kManifestFileName;
    std::error_code ec;
    if (!fs::exists(file, ec)) throw LoadError::manifestMissing();
    if (fs::is_directory(file, ec)) {
        throw LoadError::manifestUnreadable(fmt::format("The file “{}” is a folder, not a manifest.", file.string()));
    }

    std::string text;
    {
        std::ifstream in(file, std::ios::binary);
        if (!in) throw LoadError::manifestUnreadable(fmt::format("The file “{}” couldn’t be opened.", file.string()));
        std::ostringstream buffer;
        buffer << in.rdbuf();
        if (in.bad()) throw LoadError::manifestUnreadable(fmt::format("The file “{}” couldn’t be read.", file.string()));
        text = std::move(buffer).str();
    }

    FormatManifest manifest;
    try {
        manifest = FormatManifest::decode(text);
    } catch (const std::exception& error) {
        throw LoadError::manifestUnreadable(error.what());
    }
    return FormatRegistry(std::move(manifest));
}

FormatRegistry::FormatRegistry(FormatManifest manifest) {
    for (const Format& format : manifest.formats) {
        m_formatsByID.insert_or_assign(format.id, format);
        for (const std::string& ext : format.extensions) m_idsByExtension.insert_or_assign(lowercased(ext), format.id);
    }
    // Every format is entered first, so a conversion may name a format listed after it.
    for (const ConversionCapability& conversion : manifest.conversions) {
        if (!m_formatsByID.contains(conversion.from) || !m_formatsByID.contains(conversion.to)) {
            throw LoadError::danglingCapability(conversion.from.rawValue, conversion.to.rawValue);
        }
        m_outgoing[conversion.from].push_back(conversion);
    }
    m_extensionsByLength.reserve(m_idsByExtension.size());
    for (const auto& [ext, id] : m_idsByExtension) m_extensionsByLength.push_back(ext);
    std::sort(m_extensionsByLength.begin(), m_extensionsByLength.end(), [](const std::string& a, const std::string& b) {
        size_t la = characterCount(a), lb = characterCount(b);
        return la != lb ? la > lb : a < b;
    });
    m_toolDefinitions = manifest.tools;
    m_manifest = std::move(manifest);
}

// --- Formats ---

std::optional<Format> FormatRegistry::format(const FormatID& id) const {
    auto it = m_formatsByID.find(id);
    if (it == m_formatsByID.end()) return std::nullopt;
    return it->second;
}

std::optional<Format> FormatRegistry::formatFor(const fs::path& url) const {
    if (const Format* found = lookup(url)) return *found;
    return std::nullopt;
}

const Format* FormatRegistry::lookup(const fs::path& url) const {
    // The last component read in place (as paths::lastComponent does), copied once when folded.
    std::string_view whole = url.native();
    while (whole.size() > 1 && whole.back() == '/') whole.remove_suffix(1);
    const auto slash = whole.rfind('/');
    if (slash != std::string_view::npos && whole != "/") whole.remove_prefix(slash + 1);
    const std::string name = lowercased(whole);
    // An extension follows a dot. Trying the text after each dot from the left tries the longest
    // candidates first, so "x.tar.gz" is decided by "tar.gz" before "gz" is tried.
    for (size_t dot = name.find('.'); dot != std::string::npos; dot = name.find('.', dot + 1)) {
        auto ext = m_idsByExtension.find(name.substr(dot + 1));
        if (ext == m_idsByExtension.end()) continue;
        auto it = m_formatsByID.find(ext->second);
        return it == m_formatsByID.end() ? nullptr : &it->second;
    }
    return nullptr;
}

std::optional<Format> FormatRegistry::formatForExtension(std::string_view fileExtension) const {
    size_t first = fileExtension.find_first_not_of('.');
    if (first == std::string_view::npos) return std::nullopt;
    size_t last = fileExtension.find_last_not_of('.');
    auto it = m_idsByExtension.find(lowercased(fileExtension.substr(first, last - first + 1)));
    if (it == m_idsByExtension.end()) return std::nullopt;
    return format(it->second);
}

// --- Conversions ---

std::vector<ConversionCapability> FormatRegistry::capabilities(const FormatID& from, const FormatID& to) const {
    std::vector<ConversionCapability> out;
    auto it = m_outgoing.find(from);
    if (it == m_outgoing.end()) return out;
    std::copy_if(it->second.begin(), it->second.end(), std::back_inserter(out),
                 [&](const ConversionCapability& c) { return c.to == to; });
    std::stable_sort(out.begin(), out.end(),
                     [](const ConversionCapability& a, const ConversionCapability& b) { return costLess(a.cost, b.cost); });
    return out;
}

std::optional<ConversionCapability> FormatRegistry::bestCapability(const FormatID& from, const FormatID& to) const {
    auto all = capabilities(from, to);
    if (all.empty()) return std::nullopt;
    return all.front();
}

std::vector<Format> FormatRegistry::supportedOutputs(const FormatID& id) const {
    std::vector<Format> out;
    auto it = m_outgoing.find(id);
    if (it == m_outgoing.end()) return out;
    std::unordered_set<FormatID> seen;
    for (const ConversionCapability& conversion : it->second) {
        if (!seen.insert(conversion.to).second) continue;
        if (auto target = format(conversion.to)) out.push_back(std::move(*target));
    }
    return out;
}

std::vector<const Format*> FormatRegistry::recognised(const std::vector<fs::path>& urls) const {
    std::vector<const Format*> out;
    for (const fs::path& url : urls) {
        const Format* f = lookup(url);
        if (f && std::find(out.begin(), out.end(), f) == out.end()) out.push_back(f);
    }
    return out;
}

std::vector<Format> FormatRegistry::supportedOutputsForFiles(const std::vector<fs::path>& urls) const {
    const std::vector<const Format*> formats = recognised(urls);
    std::set<FormatCategory> categories;
    for (const Format* f : formats) categories.insert(f->category);
    if (categories.size() != 1) return {};

    std::vector<Format> outputs = supportedOutputs(formats.front()->id);
    if (formats.size() == 1) return outputs;

    std::unordered_set<FormatID> common;
    for (const Format& f : outputs) common.insert(f.id);
    for (size_t i = 1; i < formats.size() && !common.empty(); ++i) {
        std::unordered_set<FormatID> theirs;
        for (const Format& f : supportedOutputs(formats[i]->id)) theirs.insert(f.id);
        std::erase_if(common, [&](const FormatID& id) { return !theirs.contains(id); });
    }
    std::erase_if(outputs, [&](const Format& f) { return !common.contains(f.id); });
    return outputs;
}

// --- Tools ---

std::optional<ToolDefinition> FormatRegistry::tool(const std::string& id) const {
    for (const ToolDefinition& t : m_toolDefinitions) {
        if (t.id == id) return t;
    }
    return std::nullopt;
}

std::vector<ToolDefinition> FormatRegistry::tools(FormatCategory category) const {
    std::vector<ToolDefinition> out;
    std::copy_if(m_toolDefinitions.begin(), m_toolDefinitions.end(), std::back_inserter(out),
                 [&](const ToolDefinition& t) { return t.categories.contains(category); });
    return out;
}

std::vector<ToolDefinition> FormatRegistry::toolsForFiles(const std::vector<fs::path>& urls) const {
    auto only = category(urls);
    if (!only) return {};
    std::vector<ToolDefinition> out = tools(*only);
    // Unrecognised files still count: two files are what a folding tool needs.
    if (urls.size() < 2) std::erase_if(out, [](const ToolDefinition& t) { return t.foldsInputs; });
    return out;
}

// --- Categories ---

int FormatRegistry::categoryCount(const std::vector<fs::path>& urls) const {
    std::set<FormatCategory> categories;
    for (const Format* f : recognised(urls)) categories.insert(f->category);
    return static_cast<int>(categories.size());
}

std::optional<FormatCategory> FormatRegistry::category(const std::vector<fs::path>& urls) const {
    std::set<FormatCategory> categories;
    for (const Format* f : recognised(urls)) categories.insert(f->category);
    if (categories.size() != 1) return std::nullopt;
    return *categories.begin();
}

// --- Ring targets ---

std::vector<RingTarget> FormatRegistry::targets(const std::vector<fs::path>& urls, PortalMode mode) const {
    switch (mode) {
    case PortalMode::convert: return convertTargets(urls);
    case PortalMode::tools: return toolTargets(urls);
    case PortalMode::advanced: return advancedTargets(urls);
    }
    return {};
}

std::vector<RingTarget> FormatRegistry::convertTargets(const std::vector<fs::path>& urls) const {
    std::vector<RingTarget> formats;
    for (const Format& f : supportedOutputsForFiles(urls)) {
        if (formats.size() == static_cast<size_t>(maxRingTargets)) break;
        formats.push_back(RingTarget::forFormat(f));
    }
    if (category(urls) == FormatCategory::archive) {
        if (auto extract = tool(kExtractToolID)) {
            // For archives, unpacking is the first thing offered.
            std::vector<RingTarget> out{RingTarget::forTool(*extract)};
            for (size_t i = 0; i < formats.size() && out.size() < static_cast<size_t>(maxRingTargets); ++i) {
                out.push_back(formats[i]);
            }
            return out;
        }
    }
    return formats;
}

std::vector<RingTarget> FormatRegistry::toolTargets(const std::vector<fs::path>& urls) const {
    std::vector<RingTarget> out;
    for (const ToolDefinition& t : toolsForFiles(urls)) {
        if (out.size() == static_cast<size_t>(maxRingTargets)) break;
        out.push_back(RingTarget::forTool(t));
    }
    return out;
}

std::vector<RingTarget> FormatRegistry::advancedTargets(const std::vector<fs::path>& urls) const {
    std::set<std::string> shown;
    for (const RingTarget& t : convertTargets(urls)) shown.insert(t.id);

    std::vector<RingTarget> formats;
    for (const Format& f : supportedOutputsForFiles(urls)) {
        RingTarget target = RingTarget::forFormat(f);
        if (!shown.contains(target.id)) formats.push_back(std::move(target));
    }
    std::vector<RingTarget> tools;
    for (RingTarget& t : toolTargets(urls)) {
        if (!shown.contains(t.id)) tools.push_back(std::move(t));
    }
    if (formats.empty()) return tools;

    // Formats are never cut; tools fill what is left of one ring.
    const size_t room = formats.size() >= static_cast<size_t>(maxRingTargets)
                            ? 0
                            : static_cast<size_t>(maxRingTargets) - formats.size();
    for (size_t i = 0; i < tools.size() && i < room; ++i) formats.push_back(std::move(tools[i]));
    return formats;
}

// --- Listing ---

std::vector<Format> FormatRegistry::allFormats() const {
    std::vector<Format> out;
    out.reserve(m_formatsByID.size());
    for (const auto& [id, f] : m_formatsByID) out.push_back(f);
    std::sort(out.begin(), out.end(), [](const Format& a, const Format& b) { return a.id.rawValue < b.id.rawValue; });
    return out;
}

std::vector<ToolDefinition> FormatRegistry::allTools() const {
    std::vector<ToolDefinition> out = m_toolDefinitions;
    std::stable_sort(out.begin(), out.end(), [](const ToolDefinition& a, const ToolDefinition& b) { return a.id < b.id; });
    return out;
}

int FormatRegistry::conversionCount() const {
    size_t total = 0;
    for (const auto& [from, list] : m_outgoing) total += list.size();
    return static_cast<int>(total);
}

// --- Filtering ---

FormatRegistry FormatRegistry::excludingUnavailable(const EngineID& engine, const std::set<std::string>& availableEncoders,
                                                    const RequiredEncoder& requiredEncoder) const {
    if (availableEncoders.empty()) return *this;  // the encoder list is unknown

    FormatManifest kept{m_manifest.formats, {}, m_manifest.tools};
    long dropped = 0;
    for (const ConversionCapability& conversion : m_manifest.conversions) {
        bool drop = false;
        if (conversion.engine == engine) {
            if (auto target = format(conversion.to)) {
                auto needed = requiredEncoder ? requiredEncoder(*target) : std::nullopt;
                drop = needed && !availableEncoders.contains(*needed);
            }
        }
        if (drop) {
            ++dropped;
        } else {
            kept.conversions.push_back(conversion);
        }
    }
    if (dropped > 0) Log::conversion().info("Hiding {} conversion(s) this FFmpeg build cannot perform", dropped);
    return FormatRegistry(std::move(kept));
}

}  // namespace kolvex
