// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/format/ConversionError.h"

#include <fmt/format.h>

#include "core/services/ByteCountFormatter.h"
#include "core/services/PathUtils.h"
#include "core/services/Utf8.h"

namespace kolvex {

ConversionError& ConversionError::finish() {
    m_what = shortDescription();
    return *this;
}

ConversionError ConversionError::unsupportedCodec(std::string codec) {
    ConversionError e(Kind::unsupportedCodec);
    e.m_text1 = std::move(codec);
    return e.finish();
}

ConversionError ConversionError::corruptedInput(std::filesystem::path url) {
    ConversionError e(Kind::corruptedInput);
    e.m_url = std::move(url);
    return e.finish();
}

ConversionError ConversionError::insufficientPermissions(std::filesystem::path url) {
    ConversionError e(Kind::insufficientPermissions);
    e.m_url = std::move(url);
    return e.finish();
}

ConversionError ConversionError::insufficientDiskSpace(int64_t required, int64_t available) {
    ConversionError e(Kind::insufficientDiskSpace);
    e.m_required = required;
    e.m_available = available;
    return e.finish();
}

ConversionError ConversionError::backendFailure(std::string engine, int32_t exitCode, std::string stderrText) {
    ConversionError e(Kind::backendFailure);
    e.m_text1 = std::move(engine);
    e.m_exitCode = exitCode;
    e.m_text2 = std::move(stderrText);
    return e.finish();
}

ConversionError ConversionError::unsupportedCombination(std::string from, std::string to) {
    ConversionError e(Kind::unsupportedCombination);
    e.m_text1 = std::move(from);
    e.m_text2 = std::move(to);
    return e.finish();
}

ConversionError ConversionError::outputNameUnavailable(std::filesystem::path url) {
    ConversionError e(Kind::outputNameUnavailable);
    e.m_url = std::move(url);
    return e.finish();
}

ConversionError ConversionError::cancelled() {
    ConversionError e(Kind::cancelled);
    return e.finish();
}

ConversionError ConversionError::withCircumstance(ConversionError error, Circumstance circumstance) {
    error.m_circumstance = circumstance;
    return error.finish();
}

ConversionError ConversionError::unreadableInput(std::filesystem::path url) {
    return withCircumstance(corruptedInput(std::move(url)), Circumstance::unreadable);
}

ConversionError ConversionError::passwordProtected(std::filesystem::path url) {
    return withCircumstance(corruptedInput(std::move(url)), Circumstance::passwordProtected);
}

ConversionError ConversionError::inputTooLarge(std::filesystem::path url) {
    return withCircumstance(corruptedInput(std::move(url)), Circumstance::tooLarge);
}

ConversionError ConversionError::unsafeArchiveEntry(std::filesystem::path url) {
    return withCircumstance(corruptedInput(std::move(url)), Circumstance::unsafeEntry);
}

ConversionError ConversionError::clashingArchiveEntries(std::filesystem::path url, std::string entry) {
    auto error = withCircumstance(corruptedInput(std::move(url)), Circumstance::clashingEntries);
    error.m_text1 = std::move(entry);
    return error.finish();
}

ConversionError ConversionError::beyondLimit(std::filesystem::path url, std::string what) {
    auto error = withCircumstance(corruptedInput(std::move(url)), Circumstance::beyondLimit);
    error.m_text1 = std::move(what);
    return error.finish();
}

ConversionError ConversionError::nestedTooDeeply(std::filesystem::path url, const std::string& structure,
                                                 int64_t limit) {
    return beyondLimit(std::move(url), "nests its " + structure + " more than " + std::to_string(limit) + " levels deep");
}

ConversionError ConversionError::sourcePathTooLong(std::filesystem::path url) {
    return beyondLimit(std::move(url),
                       fmt::format("is at a path longer than the system allows ({} bytes)", paths::kMaxPathBytes));
}

ConversionError ConversionError::outputPathTooLong(std::filesystem::path url) {
    if (paths::lastComponent(url).size() > paths::kMaxNameBytes) {
        return beyondLimit(std::move(url),
                           fmt::format("would have a name longer than the system allows ({} bytes)", paths::kMaxNameBytes));
    }
    return beyondLimit(std::move(url),
                       fmt::format("needs a path longer than the system allows ({} bytes)", paths::kMaxPathBytes));
}

ConversionError ConversionError::outputFolderMissing(std::filesystem::path url) {
    return withCircumstance(insufficientPermissions(std::move(url)), Circumstance::folderMissing);
}

std::string ConversionError::shortDescription() const {
    const std::string name = paths::lastComponent(m_url);
    switch (m_kind) {
    case Kind::unsupportedCodec: return "Kolvex can't read the " + m_text1 + " codec";
    case Kind::corruptedInput:
        switch (m_circumstance) {
        case Circumstance::unreadable: return "Can't read " + name;
        case Circumstance::passwordProtected: return name + " is password-protected";
        case Circumstance::tooLarge: return name + " is too large to open";
        case Circumstance::unsafeEntry: return name + " has an unsafe entry";
        case Circumstance::clashingEntries:
            return name + " holds two files that would both be unpacked as " + replaceInvalidUtf8(m_text1);
        case Circumstance::beyondLimit: return name + " " + m_text1;
        default: return name + " appears to be damaged";
        }
    case Kind::insufficientPermissions:
        if (m_circumstance == Circumstance::folderMissing)
            return "The folder " + paths::lastComponent(paths::deletingLastComponent(m_url)) + " no longer exists";
        return "No permission to write to " + paths::lastComponent(paths::deletingLastComponent(m_url));
    case Kind::insufficientDiskSpace:
        return "Needs " + ByteCountFormatter::file(m_required) + ", only " + ByteCountFormatter::file(m_available) +
               " free";
    case Kind::backendFailure: return "Conversion failed";
    case Kind::unsupportedCombination: return "Can't convert " + m_text1 + " to " + m_text2;
    case Kind::outputNameUnavailable: return "Couldn't find a free name near " + paths::lastComponent(m_url);
    case Kind::cancelled: return "Cancelled";
    }
    return "Conversion failed";
}

std::optional<std::string> ConversionError::diagnosticDetail() const {
    switch (m_kind) {
    case Kind::corruptedInput:
    case Kind::insufficientPermissions: return m_url.string();
    case Kind::backendFailure:
        // An engine that runs in this process (or a program whose end nobody saw) has no exit
        // status to tell: its own words are the detail.
        if (m_exitCode < 0) return m_text2.empty() ? m_text1 + " failed" : fmt::format("{}: {}", m_text1, m_text2);
        return fmt::format("{} exited {}\n\n{}", m_text1, m_exitCode, m_text2);
    default: return std::nullopt;
    }
}

bool ConversionError::isRetryable() const {
    return m_kind == Kind::insufficientPermissions || m_kind == Kind::insufficientDiskSpace ||
           m_kind == Kind::cancelled;
}

bool ConversionError::operator==(const ConversionError& other) const {
    if (m_kind != other.m_kind || m_circumstance != other.m_circumstance) return false;
    switch (m_kind) {
    case Kind::unsupportedCodec: return m_text1 == other.m_text1;
    case Kind::corruptedInput:
    case Kind::insufficientPermissions:
    case Kind::outputNameUnavailable: return m_url == other.m_url;
    case Kind::insufficientDiskSpace: return m_required == other.m_required && m_available == other.m_available;
    case Kind::backendFailure:
        return m_text1 == other.m_text1 && m_exitCode == other.m_exitCode && m_text2 == other.m_text2;
    case Kind::unsupportedCombination: return m_text1 == other.m_text1 && m_text2 == other.m_text2;
    case Kind::cancelled: return true;
    }
    return false;
}

std::string toString(ConversionError::Kind kind) {
    switch (kind) {
    case ConversionError::Kind::unsupportedCodec: return "unsupportedCodec";
    case ConversionError::Kind::corruptedInput: return "corruptedInput";
    case ConversionError::Kind::insufficientPermissions: return "insufficientPermissions";
    case ConversionError::Kind::insufficientDiskSpace: return "insufficientDiskSpace";
    case ConversionError::Kind::backendFailure: return "backendFailure";
    case ConversionError::Kind::unsupportedCombination: return "unsupportedCombination";
    case ConversionError::Kind::outputNameUnavailable: return "outputNameUnavailable";
    case ConversionError::Kind::cancelled: return "cancelled";
    }
    return "unknown";
}

}  // namespace kolvex
